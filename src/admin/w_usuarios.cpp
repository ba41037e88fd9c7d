#include "admin/w_usuarios.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/permissions.h"
#include "data/users_store.h"
#include "admin/w_perfiles.h"
#include "admin/w_grupos.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QAction>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {

constexpr int kNameLength = 20;
constexpr int kPasswordLength = 4;

// Sets a box's text; a stored text longer than the box admits (written by an
// older station) is shown whole, so that saving never cuts it silently.
void setBoxText(QLineEdit* box, int maxLength, const QString& text)
{
    box->setMaxLength(qMax(maxLength, int(text.size())));
    box->setText(text);
}

} // namespace

w_usuarios::w_usuarios(StationContext& ctx, QWidget* parent) : RecordForm(ctx, SearchMode::usuario, parent)
{
    setObjectName(QStringLiteral("w_usuarios"));
    setWindowTitle(QStringLiteral("Usuarios"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);
    layout->addWidget(tb_abm);

    frm_usuario = new QFrame(this);
    frm_usuario->setObjectName(QStringLiteral("frm_usuario"));
    frm_usuario->setFrameShape(QFrame::StyledPanel);
    auto* g = new QGridLayout(frm_usuario);
    g->setContentsMargins(8, 6, 8, 6);
    g->setHorizontalSpacing(8);
    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, frm_usuario);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    st_usuario_t = label("st_usuario_t", QStringLiteral("Id Usuario"));
    st_usuario = label("st_usuario", QString());
    Label1 = label("Label1", QStringLiteral("Usuario:"));
    st_password_t = label("st_password_t", QStringLiteral("Contraseña (4 caracteres):"));
    st_password2_t = label("st_password2_t", QStringLiteral("Repita la contraseña:"));
    Label2 = label("Label2", QStringLiteral("Perfil:"));
    st_grupos_t = label("st_grupos_t", QStringLiteral("Grupos (ninguno: todos):"));
    sle_usuario = new QLineEdit(frm_usuario);
    sle_usuario->setObjectName(QStringLiteral("sle_usuario"));
    sle_usuario->setMaxLength(kNameLength);
    sle_password = new QLineEdit(frm_usuario);
    sle_password->setObjectName(QStringLiteral("sle_password"));
    sle_password->setMaxLength(kPasswordLength);
    sle_password->setEchoMode(QLineEdit::Password);
    sle_password->setPlaceholderText(QStringLiteral("(sin cambios)"));
    sle_password2 = new QLineEdit(frm_usuario);
    sle_password2->setObjectName(QStringLiteral("sle_password2"));
    sle_password2->setMaxLength(kPasswordLength);
    sle_password2->setEchoMode(QLineEdit::Password);
    lst_grupos = new QListWidget(frm_usuario);
    lst_grupos->setObjectName(QStringLiteral("lst_grupos"));
    // A list takes no name from its label.
    lst_grupos->setAccessibleName(QStringLiteral("Grupos"));
    st_grupos_t->setBuddy(lst_grupos);
    st_password2_t->setBuddy(sle_password2);
    cbx_nivel = new QComboBox(frm_usuario);
    cbx_nivel->setObjectName(QStringLiteral("cbx_nivel"));
    Label1->setBuddy(sle_usuario);
    st_password_t->setBuddy(sle_password);
    Label2->setBuddy(cbx_nivel);
    g->addWidget(st_usuario_t, 0, 0);
    g->addWidget(st_usuario, 0, 1);
    g->addWidget(Label1, 1, 0);
    g->addWidget(sle_usuario, 1, 1);
    g->addWidget(st_password_t, 2, 0);
    g->addWidget(sle_password, 2, 1, Qt::AlignLeft);
    g->addWidget(st_password2_t, 3, 0);
    g->addWidget(sle_password2, 3, 1, Qt::AlignLeft);
    g->addWidget(Label2, 4, 0);
    g->addWidget(cbx_nivel, 4, 1, Qt::AlignLeft);
    g->addWidget(st_grupos_t, 5, 0, Qt::AlignTop);
    g->addWidget(lst_grupos, 5, 1);
    g->setColumnStretch(1, 1);
    g->setRowStretch(5, 1);
    // Four characters: the box need not span the frame.
    for (QLineEdit* e : {sle_password, sle_password2})
        e->setFixedWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("(sin cambios)")) + 12);
    cbx_nivel->setMinimumWidth(cbx_nivel->fontMetrics().horizontalAdvance(QStringLiteral("MMMMMMMMMMMMMMMM")));
    layout->addWidget(frm_usuario, 1);

    tb_abm->addSeparator();
    cb_perfiles = boton(QStringLiteral("cb_perfiles"), QStringLiteral("Perfiles"), QStringLiteral("Perfiles de usuario"));
    cb_grupos = boton(QStringLiteral("cb_grupos"), QStringLiteral("Grupos"), QStringLiteral("Grupos de abonados"));
    ui::sizeWindow(this, 6000, 5200);

    m_ctx.search.registerDisplay(SearchMode::usuario, this, [this](int id) { showData(id); });

    fillCombos();
    // The window opens on the operator's own account.
    showData(m_ctx.main.currentUser());
}

bool w_usuarios::nameAndLevelOpen() const
{
    return m_ctx.main.may(permissions::Right::Usuarios) && (m_isNew || m_user != 1);
}

void w_usuarios::fillCombos()
{
    const QVariant kept = cbx_nivel->currentData();
    cbx_nivel->clear();
    try {
        for (const permissions::Profile& p : permissions::profiles(m_ctx.main.db()))
            cbx_nivel->addItem(p.nombre, p.id_perfil);
    } catch (const db::Error& e) {
        qWarning("w_usuarios::fillCombos: %s", qPrintable(e.text()));
        for (int n = 1; n <= 3; ++n)
            cbx_nivel->addItem(QStringLiteral("Nivel %1").arg(n), n);
    }
    cbx_nivel->setCurrentIndex(kept.isValid() ? cbx_nivel->findData(kept) : -1);
}

void w_usuarios::fillGroups(const QList<int>& checked)
{
    lst_grupos->clear();
    QList<permissions::Group> groups;
    try {
        groups = permissions::groups(m_ctx.main.db());
    } catch (const db::Error& e) {
        qWarning("w_usuarios::fillGroups: %s", qPrintable(e.text()));
    }
    for (const permissions::Group& g : groups) {
        auto* item = new QListWidgetItem(QStringLiteral("%1 - %2").arg(g.codigo, g.descripcion), lst_grupos);
        item->setData(Qt::UserRole, g.id_grupo);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(checked.contains(g.id_grupo) ? Qt::Checked : Qt::Unchecked);
    }
}

QList<int> w_usuarios::checkedGroups() const
{
    QList<int> out;
    for (int i = 0; i < lst_grupos->count(); ++i)
        if (lst_grupos->item(i)->checkState() == Qt::Checked)
            out << lst_grupos->item(i)->data(Qt::UserRole).toInt();
    return out;
}

void w_usuarios::showData(int id)
{
    bool found = false;
    QString name;
    int nivel = 0;
    QList<int> groups;
    if (id > 0) {
        m_asRead.reset();
        try {
            if (const auto a = users::find(m_ctx.main.db(), id)) {
                found = true;
                m_asRead = a;
                name = a->usuario;
                nivel = a->id_perfil > 0 ? a->id_perfil : a->nivel;
                groups = permissions::operatorGroups(m_ctx.main.db(), id);
            }
        } catch (const db::Error& e) {
            qWarning("w_usuarios::showData: %s", qPrintable(e.text()));
            m_ctx.main.showMessage(699);
        }
    }
    st_usuario->setText(found ? QString::number(id) : QString());
    setBoxText(sle_usuario, kNameLength, name);
    // A password is never shown, not even its length.
    sle_password->clear();
    sle_password2->clear();
    fillGroups(groups);
    // Empty fields and a level outside the list leave no level chosen: a new
    // account must be given its level, never inherit the one last shown.
    cbx_nivel->setCurrentIndex(found ? cbx_nivel->findData(nivel) : -1);
    // A number that names no account leaves none shown, so that "Baja" and
    // "Editar" never act on a row that is not there.
    if (id > 0)
        m_user = found ? id : 0;
    enableControls(QStringLiteral("inicio"));
}

void w_usuarios::enableControls(const QString& modo)
{
    const bool editing = modo == QLatin1String("alta") || modo == QLatin1String("modificar");
    if (!editing && modo != QLatin1String("inicio"))
        return;
    const bool admin = m_ctx.main.may(permissions::Right::Usuarios);
    frm_usuario->setEnabled(editing);
    setEditing(editing);
    cb_buscar->setEnabled(!editing && admin);
    cb_alta->setEnabled(!editing && admin);
    cb_baja->setEnabled(!editing && admin && m_user > 0);
    cb_modificar->setEnabled(!editing && m_user > 0);
    cb_aceptar->setEnabled(editing);
    cb_cancelar->setEnabled(editing);
    cb_perfiles->setEnabled(!editing && admin);
    cb_grupos->setEnabled(!editing && admin);
    if (editing) {
        const bool open = nameAndLevelOpen();
        sle_usuario->setEnabled(open);
        cbx_nivel->setEnabled(open);
        lst_grupos->setEnabled(open);
    }
}

void w_usuarios::dispatch(const QString& key)
{
    if (key == QLatin1String("cb_perfiles") || key == QLatin1String("cb_grupos")) {
        if (key == QLatin1String("cb_perfiles")) {
            w_perfiles d(m_ctx, this);
            d.exec();
        } else {
            w_grupos d(m_ctx, this);
            d.exec();
        }
        // Names and groups may have changed under the account shown.
        fillCombos();
        showData(m_user);
        return;
    }
    RecordForm::dispatch(key);
}

void w_usuarios::editingStarted()
{
    if (sle_usuario->isEnabled())
        sle_usuario->setFocus();
    else
        sle_password->setFocus();
}

bool w_usuarios::save()
{
    mdl_main& m = m_ctx.main;
    // Below the administrator level, and on the built-in account, only the
    // password is stored, whatever the disabled boxes hold.
    const bool full = nameAndLevelOpen();
    if (m_isNew && !full)
        return false;
    const QString name = sle_usuario->text().trimmed().toUpper();
    const QString password = sle_password->text().toUpper();
    const QString repeated = sle_password2->text().toUpper();
    auto refuse = [&](QWidget* field, int message, const QString& detalle = QString()) {
        field->setFocus();
        m.showMessage(message, detalle);
        return false;
    };
    if (full && name.isEmpty())
        return refuse(sle_usuario, 601);
    // On an existing account an empty box keeps the password it has.
    if ((m_isNew || !password.isEmpty()) && password.size() != kPasswordLength)
        return refuse(sle_password, 602,
                      QStringLiteral("Contraseña: debe tener %1 caracteres").arg(kPasswordLength));
    if (password != repeated)
        return refuse(sle_password2, 602, QStringLiteral("Las dos contraseñas no son iguales"));
    if (!m_isNew && !full && password.isEmpty())
        return refuse(sle_password, 602);
    if (full && cbx_nivel->currentIndex() < 0)
        return refuse(cbx_nivel, 603);
    const int nivel = cbx_nivel->currentData().toInt();

    return saveShown(
        [&]() -> std::optional<int> {
            int id = m_user;
            const QSqlDatabase c = m.db();
            db::Transaction t(c);
            // The login takes the first account whose name and password match
            // regardless of case, so two accounts must never share a name.
            if (full && users::nameTaken(c, name, m_isNew ? 0 : id)) {
                sle_usuario->setFocus();
                m_ctx.messages.showError(QStringLiteral("Ya existe otro usuario con el nombre %1").arg(name));
                return std::nullopt;
            }
            const int level = full ? users::levelOfProfile(c, nivel) : 0;
            const int profile = nivel > 3 ? nivel : 0;
            if (m_isNew)
                id = users::add(c, {0, name, password, level, profile});
            else {
                try {
                    if (full)
                        users::update(c, {id, name, password, level, profile}, m_asRead);
                    else
                        users::setPassword(c, id, password, m_asRead);
                } catch (const db::Changed& e) {
                    // A removed account keeps what was typed; a changed one
                    // shows what is stored now.
                    m_ctx.messages.showError(e.text());
                    if (!e.removed())
                        showData(id);
                    return std::nullopt;
                }
            }
            if (full && id != users::FirstAccount)
                permissions::setOperatorGroups(c, id, checkedGroups());
            t.commit();
            return id;
        },
        [&](const QString& why) { m.showMessage(699, why); });
}

void w_usuarios::deleteRecord()
{
    if (m_user == 1) {
        m_ctx.messages.showError(QStringLiteral("No se puede borrar este usuario"));
        return;
    }
    removeShown([this](int id) { users::remove(m_ctx.main.db(), id); });
}

QStringList w_usuarios::formState() const
{
    QStringList state{sle_usuario->text(), sle_password->text(), sle_password2->text(),
                      QString::number(cbx_nivel->currentIndex())};
    for (int g : checkedGroups())
        state << QString::number(g);
    return state;
}

void w_usuarios::closeEvent(QCloseEvent* e)
{
    e->setAccepted(ui::mayClose(m_ctx.messages, *this));
}
