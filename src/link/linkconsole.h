#pragma once
// What the link tells the panel console, and the few controls it reads. The
// console window implements it and hands itself to PanelLink::setConsole
// while it is open; the subscriber it works on goes to the link as a
// LinkSubscriber with each call, transfer or comparison it asks for.

#include <QString>

class LinkConsole {
public:
    virtual ~LinkConsole() = default;

    // Controls the link reads.
    virtual int armingModeIndex() const = 0;        // Combo_armado.ListIndex
    virtual bool restrictedCodeChecked() const = 0; // chk_restr_code ticked
    virtual QString restrictedCode() const = 0;     // sle_restr_code.Text
    virtual QString telephone() const = 0;          // sle_telefono.Text

    // A connection came up for this subscriber: the console shows it afresh
    // and hands it to PanelLink::setSubscriber (its stored access code may
    // have changed); the link then chooses the session's access code.
    virtual void sessionStarted(qint32 subscriber) = 0;
    // Sections were written or read: their marks changed.
    virtual void showSections() = 0;
    // Events were stored.
    virtual void showEvents() = 0;
    // A connection came up but ended without a single answer from the panel
    // (ten unanswered requests, or the line dropped): the console logs it.
    virtual void connectionFailed() {}
    // An upload was read back: how it went, in the status line's words
    // (the console logs it). `stopped`: a second read-back still differed.
    virtual void uploadChecked(const QString& outcome, bool stopped) { Q_UNUSED(outcome); Q_UNUSED(stopped); }
    // A comparison with the panel has been read (PanelLink::comparison()).
    virtual void comparisonDone() {}
    // A download has stored what it read (the access code may have changed).
    virtual void downloadStored() {}
};
