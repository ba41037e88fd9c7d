#include "admin/w_perfiles.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "ui/ui_toolbar.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/permissions.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

constexpr int kBuiltIn = 3;

} // namespace

w_perfiles::w_perfiles(StationContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_perfiles"));
    setWindowTitle(QStringLiteral("Perfiles de usuario"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    tb_perfiles = ui::keyedToolBar(this, QStringLiteral("tb_perfiles"));
    cb_alta = ui::keyedAction(tb_perfiles, QStringLiteral("cb_alta"), QStringLiteral("Alta"), QStringLiteral("Nuevo perfil"));
    cb_baja = ui::keyedAction(tb_perfiles, QStringLiteral("cb_baja"), QStringLiteral("Baja"), QStringLiteral("Eliminar perfil"));
    tb_perfiles->addSeparator();
    cb_aceptar = ui::keyedAction(tb_perfiles, QStringLiteral("cb_aceptar"), QStringLiteral("Guardar"), QStringLiteral("Guardar el perfil"));
    cb_cancelar = ui::keyedAction(tb_perfiles, QStringLiteral("cb_cancelar"), QStringLiteral("Cerrar"), QStringLiteral("Cerrar"));
    layout->addWidget(tb_perfiles);

    auto* body = new QHBoxLayout;
    lst_perfiles = new QListWidget(this);
    lst_perfiles->setObjectName(QStringLiteral("lst_perfiles"));
    body->addWidget(lst_perfiles, 2);
    auto* g = new QGridLayout;
    st_nombre_t = new QLabel(QStringLiteral("Nombre:"), this);
    st_nombre_t->setObjectName(QStringLiteral("st_nombre_t"));
    sle_nombre = new QLineEdit(this);
    sle_nombre->setObjectName(QStringLiteral("sle_nombre"));
    sle_nombre->setMaxLength(30);
    st_nombre_t->setBuddy(sle_nombre);
    g->addWidget(st_nombre_t, 0, 0);
    g->addWidget(sle_nombre, 0, 1);
    for (int r = 0; r < permissions::RightCount; ++r) {
        auto* box = new QCheckBox(permissions::caption(permissions::Right(r)), this);
        box->setObjectName(QStringLiteral("chk_derecho_%1").arg(r));
        chk_derecho << box;
        g->addWidget(box, r + 1, 0, 1, 2);
    }
    g->setRowStretch(permissions::RightCount + 1, 1);
    body->addLayout(g, 3);
    layout->addLayout(body, 1);
    ui::sizeWindow(this, 7000, 5200);

    connect(cb_alta, &QAction::triggered, this, [this] {
        lst_perfiles->clearSelection();
        lst_perfiles->setCurrentRow(-1);
        sle_nombre->clear();
        for (QCheckBox* b : std::as_const(chk_derecho))
            b->setChecked(false);
        showSelected();
        sle_nombre->setFocus();
    });
    connect(cb_baja, &QAction::triggered, this, &w_perfiles::remove);
    connect(cb_aceptar, &QAction::triggered, this, &w_perfiles::save);
    connect(cb_cancelar, &QAction::triggered, this, &QDialog::reject);
    connect(lst_perfiles, &QListWidget::itemSelectionChanged, this, &w_perfiles::showSelected);
    fill();
    // Opens on the first profile, shown, rather than on an empty form.
    if (lst_perfiles->count() > 0)
        lst_perfiles->item(0)->setSelected(true);
}

void w_perfiles::fill(int select)
{
    QList<permissions::Profile> list;
    try {
        list = permissions::profiles(m_ctx.main.db());
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudieron leer los perfiles.\n%1").arg(e.text()));
    }
    {
        const QSignalBlocker quiet(lst_perfiles);
        lst_perfiles->clear();
        for (const permissions::Profile& p : list) {
            auto* item = new QListWidgetItem(p.nombre, lst_perfiles);
            item->setData(Qt::UserRole, p.id_perfil);
            item->setData(Qt::UserRole + 1, p.derechos);
            if (p.id_perfil == select)
                item->setSelected(true);
        }
    }
    showSelected();
}

int w_perfiles::selectedProfile() const
{
    const QList<QListWidgetItem*> items = lst_perfiles->selectedItems();
    return items.isEmpty() ? 0 : items.first()->data(Qt::UserRole).toInt();
}

void w_perfiles::showSelected()
{
    const QList<QListWidgetItem*> items = lst_perfiles->selectedItems();
    const int id = selectedProfile();
    // The built-in profiles are the old levels: what they allow stays.
    const bool open = id == 0 || id > kBuiltIn;
    sle_nombre->setEnabled(open);
    for (QCheckBox* b : std::as_const(chk_derecho))
        b->setEnabled(open);
    cb_aceptar->setEnabled(open);
    cb_baja->setEnabled(id > kBuiltIn);
    if (items.isEmpty())
        return;
    sle_nombre->setText(items.first()->text());
    const permissions::Rights rights = items.first()->data(Qt::UserRole + 1).toInt();
    for (int r = 0; r < chk_derecho.size(); ++r)
        chk_derecho.at(r)->setChecked(permissions::has(rights, permissions::Right(r)));
}

bool w_perfiles::save()
{
    permissions::Rights rights = 0;
    for (int r = 0; r < chk_derecho.size(); ++r)
        if (chk_derecho.at(r)->isChecked())
            rights |= permissions::bit(permissions::Right(r));
    int id = 0;
    try {
        const QSqlDatabase c = m_ctx.main.db();
        db::Transaction t(c);
        id = permissions::saveProfile(c, {selectedProfile(), sle_nombre->text(), rights});
        t.commit();
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se guardó el perfil.\n%1").arg(e.text()));
        sle_nombre->setFocus();
        return false;
    }
    fill(id);
    return true;
}

void w_perfiles::remove()
{
    const int id = selectedProfile();
    if (id <= kBuiltIn || !m_ctx.messages.askYesNo(QStringLiteral("¿Está seguro de borrar este item?")))
        return;
    try {
        const QSqlDatabase c = m_ctx.main.db();
        db::Transaction t(c);
        permissions::removeProfile(c, id);
        t.commit();
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo eliminar el item\n%1").arg(e.text()));
        return;
    }
    fill();
}
