#pragma once
// Operator accounts. The administrator level manages every account; any other
// level sees only its own and may change only its password. Account 1 is the
// built-in administrator: its name and level are fixed and it is never deleted.

#include "ui/ui_unsaved.h"
#include "session/station_context.h"

#include <QWidget>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QToolBar;

class w_usuarios : public QWidget, public EditedForm {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_usuarios(StationContext& ctx, QWidget* parent = nullptr);

    void wf_llenacombos();
    void wf_muestradatos(int id);
    void wf_habilitacontroles(const QString& modo);
    bool wf_guardar();
    void wf_baja();

    // Toolbar dispatch on the button's key.
    void dispatch(const QString& key);

    int il_usuario = 0;    // account on display; 0 when none
    bool ib_nuevo = false; // a new account is being entered

    QToolBar* tb_abm;
    QAction* cb_buscar;
    QAction* cb_alta;
    QAction* cb_baja;
    QAction* cb_modificar;
    QAction* cb_aceptar;
    QAction* cb_cancelar;
    QFrame* frm_usuario;
    QLabel* st_usuario_t;
    QLabel* st_usuario;
    QLabel* Label1;
    QLineEdit* sle_usuario;
    QLabel* st_password_t;
    QLineEdit* sle_password;
    QLabel* Label2;
    QComboBox* cbx_nivel;

protected:
    void closeEvent(QCloseEvent* e) override;
    QStringList formState() const override;

private:
    QAction* boton(const QString& key, const QString& caption, const QString& tip);
    // Name and level may be changed: by the administrator level, on any
    // account but the built-in one.
    bool nameAndLevelOpen() const;
};
