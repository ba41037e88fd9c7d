#pragma once
// Login dialog: checks a name and password, remembers the user's number,
// level and rights for the run, and restricts the main toolbar to what the
// rights allow. Too many failed logins lock the account for a while; the
// factory password of the first account must be changed before working.

#include "session/station_context.h"

#include <QDialog>
#include <functional>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QToolBar;

class w_login : public QDialog {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_login(StationContext& ctx, QWidget* parent = nullptr);

    bool checkLogin(const QString& ls_usuario, const QString& ls_password);
    bool accepted() const { return m_accepted; }
    // Asks for the new password (typed twice) that replaces the factory one;
    // nothing when the operator gives up. A dialog unless a test puts its own.
    std::function<std::optional<QString>()> askNewPassword;

    QFrame* frm_configuracion;
    QLabel* st_usuario_t;
    QLabel* st_password_t;
    QLineEdit* sle_usuario;
    QLineEdit* sle_password;
    QToolBar* tb_configuracion;
    QAction* cb_aceptar;
    QAction* cb_cancelar;

private:
    void aceptar();
    bool m_accepted = false;
};
