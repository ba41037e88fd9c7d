#include "admin/w_usuarios.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/users_store.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
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
    Label2 = label("Label2", QStringLiteral("Nivel:"));
    sle_usuario = new QLineEdit(frm_usuario);
    sle_usuario->setObjectName(QStringLiteral("sle_usuario"));
    sle_usuario->setMaxLength(kNameLength);
    sle_password = new QLineEdit(frm_usuario);
    sle_password->setObjectName(QStringLiteral("sle_password"));
    sle_password->setMaxLength(kPasswordLength);
    sle_password->setEchoMode(QLineEdit::Password);
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
    g->addWidget(Label2, 3, 0);
    g->addWidget(cbx_nivel, 3, 1, Qt::AlignLeft);
    g->setColumnStretch(1, 1);
    g->setRowStretch(4, 1);
    // Four characters: the box need not span the frame.
    sle_password->setFixedWidth(sle_password->fontMetrics().horizontalAdvance(QStringLiteral("MMMMMM")) + 12);
    layout->addWidget(frm_usuario, 1);

    ui::sizeWindow(this, 4800, 3500);

    m_ctx.search.registerDisplay(SearchMode::usuario, this, [this](int id) { showData(id); });

    fillCombos();
    // The window opens on the operator's own account.
    showData(m_ctx.main.currentUser());
}

bool w_usuarios::nameAndLevelOpen() const
{
    return m_ctx.main.currentLevel() == 1 && (m_isNew || m_user != 1);
}

void w_usuarios::fillCombos()
{
    cbx_nivel->clear();
    for (int n = 1; n <= 3; ++n)
        cbx_nivel->addItem(QString::number(n), n);
}

void w_usuarios::showData(int id)
{
    bool found = false;
    QString name, password;
    int nivel = 0;
    if (id > 0) {
        m_asRead.reset();
        try {
            if (const auto a = users::find(m_ctx.main.db(), id)) {
                found = true;
                m_asRead = a;
                name = a->usuario;
                password = a->password;
                nivel = a->nivel;
            }
        } catch (const db::Error& e) {
            qWarning("w_usuarios::showData: %s", qPrintable(e.text()));
            m_ctx.main.showMessage(699);
        }
    }
    st_usuario->setText(found ? QString::number(id) : QString());
    setBoxText(sle_usuario, kNameLength, name);
    setBoxText(sle_password, kPasswordLength, password);
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
    const bool admin = m_ctx.main.currentLevel() == 1;
    frm_usuario->setEnabled(editing);
    setEditing(editing);
    cb_buscar->setEnabled(!editing && admin);
    cb_alta->setEnabled(!editing && admin);
    cb_baja->setEnabled(!editing && admin && m_user > 0);
    cb_modificar->setEnabled(!editing && m_user > 0);
    cb_aceptar->setEnabled(editing);
    cb_cancelar->setEnabled(editing);
    if (editing) {
        const bool open = nameAndLevelOpen();
        sle_usuario->setEnabled(open);
        cbx_nivel->setEnabled(open);
    }
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
    auto refuse = [&](QWidget* field, int message, const QString& detalle = QString()) {
        field->setFocus();
        m.showMessage(message, detalle);
        return false;
    };
    if (full && name.isEmpty())
        return refuse(sle_usuario, 601);
    if (password.size() != kPasswordLength)
        return refuse(sle_password, 602,
                      QStringLiteral("Contraseña: debe tener %1 caracteres").arg(kPasswordLength));
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
            if (m_isNew)
                id = users::add(c, {0, name, password, nivel});
            else {
                try {
                    if (full)
                        users::update(c, {id, name, password, nivel}, m_asRead);
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
    return {sle_usuario->text(), sle_password->text(), QString::number(cbx_nivel->currentIndex())};
}

void w_usuarios::closeEvent(QCloseEvent* e)
{
    e->setAccepted(ui::mayClose(m_ctx.messages, *this));
}
