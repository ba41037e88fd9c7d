#include "console/w_comparar.h"

#include "data/permissions.h"
#include "ui/ui_geometry.h"
#include "ui/ui_toolbar.h"
#include "data/db.h"
#include "data/link_store.h"
#include "data/messages.h"
#include "reports/ui_reportes.h"
#include "session/mdl_main.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int OpTakenFromPanel = 21;
constexpr int OpMarkedFromComparison = 22;
const QColor Differs(255, 214, 214);

} // namespace

w_comparar::w_comparar(StationContext& ctx, const values::Owner& owner, const QString& subscriber,
                       QList<ComparisonRow> rows, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_owner(owner), m_subscriber(subscriber), m_rows(std::move(rows))
{
    setObjectName(QStringLiteral("w_comparar"));
    setWindowTitle(QStringLiteral("Comparación con el panel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    tb_comparar = ui::keyedToolBar(this, QStringLiteral("tb_comparar"));
    cb_tomar = ui::keyedAction(tb_comparar, QStringLiteral("cb_tomar"), QStringLiteral("Tomar del panel"),
                               QStringLiteral("Guardar los valores del panel en las secciones elegidas"));
    cb_marcar = ui::keyedAction(tb_comparar, QStringLiteral("cb_marcar"), QStringLiteral("Marcar para subir"),
                                QStringLiteral("Marcar las secciones elegidas para subirlas al panel"));
    cb_imprimir = ui::keyedAction(tb_comparar, QStringLiteral("cb_imprimir"), QStringLiteral("Imprimir"),
                                  QStringLiteral("Diferencias con el panel"));
    cb_imprimir->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));
    layout->addWidget(tb_comparar);

    st_abonado = new QLabel(m_subscriber, this);
    st_abonado->setObjectName(QStringLiteral("st_abonado"));
    chk_diferencias = new QCheckBox(QStringLiteral("Solo diferencias"), this);
    chk_diferencias->setObjectName(QStringLiteral("chk_diferencias"));
    auto* top = new QHBoxLayout;
    top->addWidget(st_abonado, 1);
    top->addWidget(chk_diferencias);
    layout->addLayout(top);

    fg_comparacion = new QTableWidget(0, 4, this);
    fg_comparacion->setObjectName(QStringLiteral("fg_comparacion"));
    fg_comparacion->setHorizontalHeaderLabels({QStringLiteral("Sección"), QStringLiteral("Descripción"),
                                               QStringLiteral("Guardado"), QStringLiteral("Panel")});
    fg_comparacion->setSelectionBehavior(QAbstractItemView::SelectRows);
    fg_comparacion->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fg_comparacion->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fg_comparacion->verticalHeader()->hide();
    // Values stay on one line (the tool-tip holds a long one whole).
    fg_comparacion->setWordWrap(false);
    fg_comparacion->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(fg_comparacion, 1);

    connect(cb_tomar, &QAction::triggered, this, &w_comparar::takeFromPanel);
    connect(cb_marcar, &QAction::triggered, this, &w_comparar::markForUpload);
    connect(cb_imprimir, &QAction::triggered, this, &w_comparar::print);
    connect(chk_diferencias, &QCheckBox::toggled, this, &w_comparar::fill);
    ui::sizeWindow(this, 12000, 7000);
    fill();
}

QString w_comparar::shownValue(const ComparisonRow& r, const QString& value) const
{
    return m_ctx.main.hidesSection(m_owner.panel, r.seccion) ? permissions::hiddenText() : value;
}

void w_comparar::fill()
{
    const bool onlyDiffering = chk_diferencias->isChecked();
    fg_comparacion->clearSelection();
    fg_comparacion->setRowCount(0);
    for (int i = 0; i < m_rows.size(); ++i) {
        const ComparisonRow& r = m_rows.at(i);
        if (onlyDiffering && !r.distinto)
            continue;
        const int row = fg_comparacion->rowCount();
        fg_comparacion->insertRow(row);
        const QStringList texts{QString::number(r.seccion), r.descripcion, shownValue(r, r.guardado), shownValue(r, r.panel)};
        for (int col = 0; col < texts.size(); ++col) {
            auto* item = new QTableWidgetItem(texts.at(col));
            item->setData(Qt::UserRole, i);
            item->setToolTip(texts.at(col));
            if (r.distinto)
                item->setBackground(Differs);
            fg_comparacion->setItem(row, col, item);
        }
    }
    // Whole descriptions and values; a long text section scrolls sideways.
    fg_comparacion->resizeColumnsToContents();
}

QList<int> w_comparar::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& i : fg_comparacion->selectionModel()->selectedRows())
        rows << fg_comparacion->item(i.row(), 0)->data(Qt::UserRole).toInt();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void w_comparar::selectSections(const QList<int>& sections)
{
    fg_comparacion->clearSelection();
    for (int row = 0; row < fg_comparacion->rowCount(); ++row) {
        const int i = fg_comparacion->item(row, 0)->data(Qt::UserRole).toInt();
        if (sections.contains(m_rows.at(i).seccion))
            fg_comparacion->selectionModel()->select(fg_comparacion->model()->index(row, 0),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void w_comparar::takeFromPanel()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    SqlLinkStore store(m_ctx.main.db());
    QStringList taken;
    for (const int i : rows) {
        ComparisonRow& r = m_rows[i];
        if (!store.storeSection(m_owner.id, r.seccion, r.panelValues)) {
            m_ctx.messages.showError(QStringLiteral("No se pudieron guardar los valores de la sección %1").arg(r.seccion));
            break;
        }
        r.guardado = r.panel;
        r.distinto = false;
        taken << QString::number(r.seccion);
    }
    if (!taken.isEmpty())
        m_ctx.main.logOperation(OpTakenFromPanel, m_subscriber + QStringLiteral(" Secciones: ") + taken.join(QStringLiteral(", ")));
    fill();
    emit valuesChanged();
}

void w_comparar::markForUpload()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    QStringList marked;
    try {
        db::Transaction t(m_ctx.main.db());
        for (const int i : rows) {
            values::writeMarks(m_ctx.main.db(), m_owner, 1, m_rows.at(i).seccion);
            marked << QString::number(m_rows.at(i).seccion);
        }
        t.commit();
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No fue posible marcar las secciones.\n%1").arg(e.text()));
        return;
    }
    m_ctx.main.logOperation(OpMarkedFromComparison, m_subscriber + QStringLiteral(" Secciones: ") + marked.join(QStringLiteral(", ")));
    emit valuesChanged();
}

void w_comparar::print()
{
    QList<QStringList> lines;
    for (const ComparisonRow& r : std::as_const(m_rows))
        if (r.distinto || !chk_diferencias->isChecked())
            lines.append({QString::number(r.seccion), r.descripcion, shownValue(r, r.guardado), shownValue(r, r.panel),
                          r.distinto ? QStringLiteral("Sí") : QStringLiteral("No")});
    reports::showComparisonReport(m_ctx, m_subscriber, lines);
}
