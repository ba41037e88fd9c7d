#include "console/w_panel.h"

#include "session/mdl_main.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/shared_ops.h"
#include "data/value_store.h"
#include "records/editor_context.h"
#include "records/ui_section_grid.h"
#include "records/w_historial.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtDebug>

QWidget* w_panel::buildSecciones()
{
    auto* page = new QWidget;
    const ui::SectionGrid grid = ui::buildSectionGrid(
        page, {[this] { showSections(); }, [this](int row) { cycleMark(row); }, [this] { editSelectedSection(); }});
    st_filtroseccion_t = grid.caption;
    sle_filtroseccion = grid.filter;
    fg_secciones = grid.grid;

    auto* l = new QVBoxLayout(page);
    l->setContentsMargins(3, 3, 3, 3);
    auto* f = new QHBoxLayout;
    f->addWidget(st_filtroseccion_t);
    f->addWidget(sle_filtroseccion, 1);
    l->addLayout(f);
    l->addWidget(fg_secciones, 1);
    return page;
}

void w_panel::showSections()
{
    for (QAction* a : {cb_desmarcar, cb_invertir})
        a->setEnabled(false);
    m_marksUp = m_marksDown = false;
    updateTransferKeys();
    cb_historial->setEnabled(m_subscriber.number > 0 && w_historial::permitido(m_ctx.main));
    if (!m_ctx.main.may(permissions::Right::Programar)) {
        for (QAction* a : {cb_restaurar, cb_subir, cb_bajar, cb_desmarcar, cb_imprimir})
            a->setEnabled(false);
        return;
    }

    QList<ui::SectionRow> rows;
    try {
        rows = values::sectionMarks(m_ctx.main.db(), marksOwner());
    } catch (const db::Error& e) {
        qWarning("w_panel::showSections: %s", qPrintable(e.text()));
        rows.clear();
    }
    if (m_subscriber.number < 1)
        rows.clear();

    for (const ui::SectionRow& r : ui::fillSectionGrid(fg_secciones, rows, ui::SectionFilter(sle_filtroseccion->text()), true)) {
        m_marksUp = m_marksUp || r.marca == 1;
        m_marksDown = m_marksDown || r.marca == -1;
    }
    for (QAction* a : {cb_desmarcar, cb_invertir})
        a->setEnabled(m_marksUp || m_marksDown);
    updateTransferKeys();
}

void w_panel::cycleMark(int row)
{
    int seccion = 0;
    int marca = 0;
    if (m_subscriber.number < 1 || !ui::sectionAt(fg_secciones, row, &seccion, &marca) || refuseWhenHeldElsewhere())
        return;
    try {
        values::setMarks(m_ctx.main.db(), marksOwner(), values::nextMark(marca), seccion);
    } catch (const db::Error& e) {
        qWarning("w_panel: marca: %s", qPrintable(e.text()));
    }
    showSections();
    if (row < fg_secciones->rowCount())
        fg_secciones->setCurrentCell(row, ui::ColMarca);
}

void w_panel::editSelectedSection()
{
    const int row = fg_secciones->currentRow();
    int seccion = 0;
    int marca = 0;
    if (m_subscriber.number < 1 || !ui::sectionAt(fg_secciones, row, &seccion, &marca) || refuseWhenHeldElsewhere())
        return;
    m_ctx.editor = EditorContext::forSubscriber(m_subscriber.number, m_subscriber.model, seccion, m_configuration, marca);
    ui::editSection(m_ctx, this, fg_secciones, row, [this] { showSections(); });
}

void w_panel::restoreTemplateValues()
{
    if (!m_ctx.messages.askYesNo(QStringLiteral("¿Reemplaza los valores actuales?")))
        return;
    bool ok = false;
    try {
        const QSqlDatabase c = m_ctx.main.db();
        db::Transaction t(c);
        ok = copyValues(c, m_subscriber.number, m_subscriber.model, 999, m_configuration, m_ctx.main.currentUser());
        if (ok)
            t.commit();
    } catch (const db::Error& e) {
        qWarning("w_panel::restoreTemplateValues: %s", qPrintable(e.text()));
        ok = false;
    }
    if (!ok) {
        m_ctx.messages.show(QStringLiteral("Atención"), QStringLiteral("Error"),
                            MessageService::Icon::Information);
        return;
    }
    showSections();
}

void w_panel::presetMarks()
{
    if (!m_ctx.messages.askYesNo(QStringLiteral("¿Restaura marcas según configuración?.\r\n Esta acción no puede deshacerse.")))
        return;
    try {
        values::presetMarks(m_ctx.main.db(), m_subscriber.number, m_subscriber.model, m_configuration);
    } catch (const db::Error& e) {
        qWarning("w_panel::presetMarks: %s", qPrintable(e.text()));
        m_ctx.messages.showError(QStringLiteral("No fué posible reestablecer las marcas."));
        return;
    }
    showSections();
}

void w_panel::invertMarks()
{
    try {
        values::invertMarks(m_ctx.main.db(), m_subscriber.number);
    } catch (const db::Error& e) {
        qWarning("w_panel::invertMarks: %s", qPrintable(e.text()));
        m_ctx.messages.showError(QStringLiteral("No fué posible invertir las marcas."));
        return;
    }
    showSections();
}

values::Owner w_panel::marksOwner() const
{
    return values::Owner::subscriber(m_subscriber.number, m_subscriber.model);
}

void w_panel::markAll(int marca)
{
    try {
        values::setMarks(m_ctx.main.db(), marksOwner(), marca);
    } catch (const db::Error& e) {
        qWarning("w_panel: marcar todo: %s", qPrintable(e.text()));
        m_ctx.messages.showError(QStringLiteral("No fué posible marcar las secciones.\n%1").arg(e.text()));
        return;
    }
    showSubscriber(m_subscriber.number);
}
