#pragma once
// The name of a template: a copy of the template on display in the templates
// window under a new name, or a new name for a template. The editor
// context's template value chooses which when the dialog opens: 0 copies,
// any other number renames that template.

#include "ui/ui_unsaved.h"
#include "session/station_context.h"

#include <QDialog>
#include <QPointer>

class QAction;
class QLabel;
class QLineEdit;
class QToolBar;
class w_configuracion;

class w_configuracion_abm : public QDialog, public UnsavedChanges {
    Q_OBJECT
    StationContext& m_ctx;

public:
    // Opens the dialog modal to the whole station without blocking the
    // caller; it deletes itself when it closes.
    static w_configuracion_abm* abrir(StationContext& ctx, w_configuracion* owner);

    w_configuracion_abm(StationContext& ctx, w_configuracion* owner);

    // Saves the copy or the new name and shows it in the templates window;
    // false (with the message shown) when nothing was saved.
    bool saveData();

    bool copying() const { return m_template == 0; }

    // A name typed and not saved.
    bool hasUnsavedChanges() const override;
    // Escape and the window's close button ask before dropping a typed name;
    // "Cancelar" closes at once.
    void reject() override;

    QLabel* st_configuracion_t;
    QLineEdit* sle_configuracion;
    QToolBar* tb_configuracion;
    QAction* cb_aceptar;
    QAction* cb_cancelar;

private:
    QPointer<w_configuracion> m_owner;
    int m_template = 0; // template being renamed; 0 when copying
    QString m_nombre;         // the name the dialog opened with
};
