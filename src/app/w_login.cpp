#include "app/w_login.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_toolbar.h"
#include "app/w_main.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/users_store.h"

#include <QAction>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QVBoxLayout>

w_login::w_login(StationContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_login"));
    setWindowTitle(QStringLiteral("Parámetros del sistema"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    tb_configuracion = ui::keyedToolBar(this, QStringLiteral("tb_configuracion"));
    ui::okCancel(tb_configuracion, cb_aceptar, cb_cancelar);
    layout->addWidget(tb_configuracion);

    frm_configuracion = new QFrame(this);
    frm_configuracion->setObjectName(QStringLiteral("frm_configuracion"));
    frm_configuracion->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(frm_configuracion);
    st_usuario_t = new QLabel(QStringLiteral("Usuario:"), frm_configuracion);
    st_usuario_t->setObjectName(QStringLiteral("st_usuario_t"));
    st_password_t = new QLabel(QStringLiteral("Contraseña:"), frm_configuracion);
    st_password_t->setObjectName(QStringLiteral("st_password_t"));
    sle_usuario = new QLineEdit(QStringLiteral("Administrador"), frm_configuracion);
    sle_usuario->setObjectName(QStringLiteral("sle_usuario"));
    sle_usuario->setMaxLength(20);
    sle_password = new QLineEdit(frm_configuracion);
    sle_password->setObjectName(QStringLiteral("sle_password"));
    sle_password->setEchoMode(QLineEdit::Password);
    sle_password->setMaxLength(20);
    grid->addWidget(st_usuario_t, 0, 0);
    grid->addWidget(sle_usuario, 0, 1);
    grid->addWidget(st_password_t, 1, 0);
    grid->addWidget(sle_password, 1, 1);
    layout->addWidget(frm_configuracion, 1);

    ui::sizeWindow(this, 4000, 2700);

    connect(sle_usuario, &QLineEdit::returnPressed, sle_password, qOverload<>(&QWidget::setFocus));
    connect(sle_password, &QLineEdit::returnPressed, this, &w_login::aceptar);
    connect(cb_aceptar, &QAction::triggered, this, &w_login::aceptar);
    connect(cb_cancelar, &QAction::triggered, this, &QDialog::reject);

    sle_password->setFocus();
}

void w_login::aceptar()
{
    m_accepted = checkLogin(sle_usuario->text(), sle_password->text());
    if (m_accepted)
        accept();
}

bool w_login::checkLogin(const QString& ls_usuario, const QString& ls_password)
{
    mdl_main& m = m_ctx.main;
    int id = 0, nivel = 0;
    bool found = false;
    try {
        // Names and passwords compare without regard to case (Ñ and accented
        // letters included). With duplicate names the lowest account wins.
        if (const auto a = users::login(m.db(), ls_usuario, ls_password)) {
            id = a->id_usuario;
            nivel = a->nivel;
            found = true;
        }
    } catch (const db::Error& e) {
        // An unreadable table refuses the login like a wrong password, and
        // says why.
        m_ctx.messages.showError(QStringLiteral("Acceso denegado\nNo se pudieron leer los usuarios:\n%1").arg(e.text()));
        return false;
    }
    if (!found) {
        m_ctx.messages.showError(QStringLiteral("Acceso denegado"));
        return false;
    }
    m.logIn(id, nivel);
    try {
        m.logOrThrow(1);
    } catch (const db::Error& e) {
        // Nobody works unrecorded.
        m.logOut();
        m_ctx.messages.showError(QStringLiteral("No se pudo registrar el ingreso en el log de operaciones, y no se "
                                                "permite trabajar sin ese registro.\n%1").arg(e.text()));
        return false;
    }
    if (nivel != 1) {
        if (MainFrame* w = m_ctx.frame) {
            for (const char* key : {"cb_parametros", "cb_log", "cb_configuracion"})
                if (QAction* a = w->action(QString::fromLatin1(key)))
                    a->setEnabled(false);
        }
    }
    return true;
}
