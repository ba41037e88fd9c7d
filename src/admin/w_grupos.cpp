#include "admin/w_grupos.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "ui/ui_toolbar.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/permissions.h"

#include <QAction>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

w_grupos::w_grupos(StationContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_grupos"));
    setWindowTitle(QStringLiteral("Grupos de abonados"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    tb_grupos = ui::keyedToolBar(this, QStringLiteral("tb_grupos"));
    cb_alta = ui::keyedAction(tb_grupos, QStringLiteral("cb_alta"), QStringLiteral("Alta"), QStringLiteral("Nuevo grupo"));
    cb_baja = ui::keyedAction(tb_grupos, QStringLiteral("cb_baja"), QStringLiteral("Baja"), QStringLiteral("Eliminar grupo"));
    tb_grupos->addSeparator();
    cb_aceptar = ui::keyedAction(tb_grupos, QStringLiteral("cb_aceptar"), QStringLiteral("Guardar"), QStringLiteral("Guardar el grupo"));
    cb_cancelar = ui::keyedAction(tb_grupos, QStringLiteral("cb_cancelar"), QStringLiteral("Cerrar"), QStringLiteral("Cerrar"));
    layout->addWidget(tb_grupos);

    dg_grupos = new QTableWidget(0, 2, this);
    dg_grupos->setObjectName(QStringLiteral("dg_grupos"));
    dg_grupos->setHorizontalHeaderLabels({QStringLiteral("Código"), QStringLiteral("Descripción")});
    dg_grupos->setSelectionBehavior(QAbstractItemView::SelectRows);
    dg_grupos->setSelectionMode(QAbstractItemView::SingleSelection);
    dg_grupos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dg_grupos->horizontalHeader()->setStretchLastSection(true);
    dg_grupos->verticalHeader()->hide();
    layout->addWidget(dg_grupos, 1);

    auto* g = new QGridLayout;
    st_codigo_t = new QLabel(QStringLiteral("Código:"), this);
    st_codigo_t->setObjectName(QStringLiteral("st_codigo_t"));
    sle_codigo = new QLineEdit(this);
    sle_codigo->setObjectName(QStringLiteral("sle_codigo"));
    sle_codigo->setMaxLength(10);
    st_descripcion_t = new QLabel(QStringLiteral("Descripción:"), this);
    st_descripcion_t->setObjectName(QStringLiteral("st_descripcion_t"));
    sle_descripcion = new QLineEdit(this);
    sle_descripcion->setObjectName(QStringLiteral("sle_descripcion"));
    sle_descripcion->setMaxLength(50);
    st_codigo_t->setBuddy(sle_codigo);
    st_descripcion_t->setBuddy(sle_descripcion);
    g->addWidget(st_codigo_t, 0, 0);
    g->addWidget(sle_codigo, 0, 1);
    g->addWidget(st_descripcion_t, 1, 0);
    g->addWidget(sle_descripcion, 1, 1);
    layout->addLayout(g);
    ui::sizeWindow(this, 6000, 4500);

    connect(cb_alta, &QAction::triggered, this, [this] {
        dg_grupos->clearSelection();
        sle_codigo->clear();
        sle_descripcion->clear();
        sle_codigo->setFocus();
    });
    connect(cb_baja, &QAction::triggered, this, &w_grupos::remove);
    connect(cb_aceptar, &QAction::triggered, this, &w_grupos::save);
    connect(cb_cancelar, &QAction::triggered, this, &QDialog::reject);
    connect(dg_grupos, &QTableWidget::itemSelectionChanged, this, &w_grupos::showSelected);
    fill();
}

void w_grupos::fill(int select)
{
    QList<permissions::Group> groups;
    try {
        groups = permissions::groups(m_ctx.main.db());
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudieron leer los grupos.\n%1").arg(e.text()));
    }
    const QSignalBlocker quiet(dg_grupos);
    dg_grupos->setRowCount(int(groups.size()));
    for (int i = 0; i < groups.size(); ++i) {
        auto* code = new QTableWidgetItem(groups.at(i).codigo);
        code->setData(Qt::UserRole, groups.at(i).id_grupo);
        dg_grupos->setItem(i, 0, code);
        dg_grupos->setItem(i, 1, new QTableWidgetItem(groups.at(i).descripcion));
        if (groups.at(i).id_grupo == select)
            dg_grupos->selectRow(i);
    }
    cb_baja->setEnabled(selectedGroup() > 0);
}

int w_grupos::selectedGroup() const
{
    const QList<QTableWidgetItem*> items = dg_grupos->selectedItems();
    return items.isEmpty() ? 0 : dg_grupos->item(items.first()->row(), 0)->data(Qt::UserRole).toInt();
}

void w_grupos::showSelected()
{
    const QList<QTableWidgetItem*> items = dg_grupos->selectedItems();
    cb_baja->setEnabled(!items.isEmpty());
    if (items.isEmpty())
        return;
    const int row = items.first()->row();
    sle_codigo->setText(dg_grupos->item(row, 0)->text());
    sle_descripcion->setText(dg_grupos->item(row, 1)->text());
}

bool w_grupos::save()
{
    int id = 0;
    try {
        const QSqlDatabase c = m_ctx.main.db();
        db::Transaction t(c);
        id = permissions::saveGroup(c, {selectedGroup(), sle_codigo->text(), sle_descripcion->text()});
        t.commit();
    } catch (const db::Error& e) {
        // What was typed stays, to be put right.
        m_ctx.messages.showError(QStringLiteral("No se guardó el grupo.\n%1").arg(e.text()));
        sle_codigo->setFocus();
        return false;
    }
    fill(id);
    return true;
}

void w_grupos::remove()
{
    const int id = selectedGroup();
    if (id <= 0 || !m_ctx.messages.askYesNo(QStringLiteral("¿Está seguro de borrar este item?")))
        return;
    try {
        const QSqlDatabase c = m_ctx.main.db();
        db::Transaction t(c);
        permissions::removeGroup(c, id);
        t.commit();
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo eliminar el item\n%1").arg(e.text()));
        return;
    }
    sle_codigo->clear();
    sle_descripcion->clear();
    fill();
}
