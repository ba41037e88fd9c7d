#pragma once
// What the link needs from the panel console: the window variables it reads
// (and is_password, which it chooses when a link connects), the states of a
// few controls, and the window procedures it calls back. The console window
// implements it and hands itself to mdl_trans::setConsole while it is open.

#include <QString>

class LinkConsole {
public:
    virtual ~LinkConsole() = default;

    // Window variables.
    qint32 il_abonado = 0;
    qint32 il_panel = 0;
    QString is_password;     // access code put in every request of the link
    QString is_password_db;  // the subscriber's stored access code
    QString is_strpanel;     // cadena of the panel model: the protocol code

    // Controls the link reads.
    virtual int armingModeIndex() const = 0;        // Combo_armado.ListIndex
    virtual bool restrictedCodeChecked() const = 0; // chk_restr_code ticked
    virtual QString restrictedCode() const = 0;     // sle_restr_code.Text
    virtual QString telephone() const = 0;          // sle_telefono.Text

    // Window procedures.
    virtual void wf_muestraabonado(qint32 id) = 0;
    virtual void wf_muestrasecciones() = 0;
    virtual void wf_muestraeventos() = 0;
    // A connection came up but ended without a single answer from the panel
    // (ten unanswered requests, or the line dropped): the console logs it.
    virtual void connectionFailed() {}
    // An upload was read back: how it went, in the status line's words
    // (the console logs it). `stopped`: a second read-back still differed.
    virtual void uploadChecked(const QString& outcome, bool stopped) { Q_UNUSED(outcome); Q_UNUSED(stopped); }
    // A comparison with the panel has been read (mdl_trans::comparison()).
    virtual void comparisonDone() {}
    // A download has stored what it read (the access code may have changed).
    virtual void downloadStored() {}
};
