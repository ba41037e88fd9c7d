#include "app/w_login.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_toolbar.h"
#include "app/w_main.h"
#include "app/w_cambio_password.h"
#include "data/permissions.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/oplog_store.h"
#include "data/users_store.h"

#include <QAction>
#include <QSqlQuery>
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
    askNewPassword = [this]() -> std::optional<QString> {
        w_cambio_password d(this);
        if (d.exec() != QDialog::Accepted)
            return std::nullopt;
        return d.password();
    };
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
    const QSqlDatabase c = m.db();
    users::Login result;
    try {
        // Names and passwords compare without regard to case (Ñ and accented
        // letters included). With duplicate names the lowest account wins.
        result = users::login(c, ls_usuario, ls_password, m.now(), db::stationName(c));
    } catch (const db::Error& e) {
        // An unreadable table refuses the login like a wrong password, and
        // says why.
        m_ctx.messages.showError(QStringLiteral("Acceso denegado\nNo se pudieron leer los usuarios:\n%1").arg(e.text()));
        return false;
    }
    if (result.lockedUntil.isValid()) {
        if (result.lockedNow) {
            // Whoever reads the log learns which station was being tried.
            try {
                oplog::record(c, result.lockedAccount, users::LockedOperation, db::stationName(c));
            } catch (const db::Error& e) {
                qWarning("w_login: lock not logged: %s", qPrintable(e.text()));
            }
        }
        m_ctx.messages.showError(QStringLiteral("Acceso denegado\nDemasiados intentos fallidos: el usuario %1 podrá "
                                                "ingresar de nuevo a las %2.")
                                     .arg(ls_usuario.toUpper(), result.lockedUntil.toString(QStringLiteral("HH:mm"))));
        return false;
    }
    if (!result.account) {
        m_ctx.messages.showError(QStringLiteral("Acceso denegado"));
        return false;
    }
    const users::Account& a = *result.account;
    if (a.id_usuario == users::FirstAccount && db::fold(ls_password) == db::fold(users::factoryPassword())) {
        // Nobody works on a station whose first account anyone can open.
        const std::optional<QString> fresh = askNewPassword ? askNewPassword() : std::nullopt;
        if (!fresh) {
            m_ctx.messages.showError(QStringLiteral("Debe cambiar la contraseña de fábrica para ingresar."));
            return false;
        }
        try {
            db::Transaction t(c);
            users::setPassword(c, a.id_usuario, *fresh);
            t.commit();
        } catch (const db::Error& e) {
            m_ctx.messages.showError(QStringLiteral("No se pudo guardar la contraseña nueva:\n%1").arg(e.text()));
            return false;
        }
    }
    permissions::Grant grant;
    try {
        grant = permissions::grantOf(c, a.id_usuario);
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("Acceso denegado\nNo se pudieron leer los permisos:\n%1").arg(e.text()));
        return false;
    }
    m.logIn(a.id_usuario, a.nivel, grant.rights);
    try {
        m.logOrThrow(1);
    } catch (const db::Error& e) {
        // Nobody works unrecorded.
        m.logOut();
        m_ctx.messages.showError(QStringLiteral("No se pudo registrar el ingreso en el log de operaciones, y no se "
                                                "permite trabajar sin ese registro.\n%1").arg(e.text()));
        return false;
    }
    if (grant.lostGroups > 0)
        m_ctx.messages.show(QStringLiteral("Atención"), grant.keptGroups > 0
            ? QStringLiteral("Algunos grupos de abonados asignados a su usuario ya no existen: no verá los abonados de esos grupos.")
            : QStringLiteral("Los grupos de abonados asignados a su usuario ya no existen: no verá ningún abonado."),
            MessageService::Icon::Warning);
    if (MainFrame* w = m_ctx.frame) {
        const std::pair<const char*, permissions::Right> gated[] = {
            {"cb_parametros", permissions::Right::Parametros},
            {"cb_log", permissions::Right::Usuarios},
            {"cb_configuracion", permissions::Right::EditarPlantillas},
        };
        for (const auto& [key, right] : gated)
            if (QAction* act = w->action(QString::fromLatin1(key)))
                act->setEnabled(m.may(right));
    }
    return true;
}
