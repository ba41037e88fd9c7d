#include "admin/w_tareas_atencion.h"

#include "data/db.h"
#include "data/job_store.h"
#include "data/messages.h"
#include "data/settings_store.h"
#include "reports/ui_reportes.h"
#include "session/mdl_main.h"
#include "ui/ui_toolbar.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QString dayFirst(const QString& stored)
{
    if (stored.isEmpty())
        return QStringLiteral("nunca");
    const QDateTime t = db::parseDateTime(stored);
    return t.isValid() ? t.toString(QStringLiteral("dd/MM/yyyy HH:mm")) : stored;
}

// Sorts by the stored date, not by the text shown.
class DateItem : public QTableWidgetItem {
public:
    DateItem(const QString& stored) : QTableWidgetItem(dayFirst(stored)), m_key(stored) {}
    bool operator<(const QTableWidgetItem& other) const override
    {
        if (const auto* d = dynamic_cast<const DateItem*>(&other))
            return m_key < d->m_key;
        return QTableWidgetItem::operator<(other);
    }

private:
    QString m_key;
};

} // namespace

w_tareas_atencion::w_tareas_atencion(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("tab_atencion"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    tb_atencion = ui::keyedToolBar(this, QStringLiteral("tb_atencion"));
    cb_actualizar = ui::keyedAction(tb_atencion, QStringLiteral("cb_actualizar"), QStringLiteral("Actualizar"),
                                    QStringLiteral("Leer de nuevo la lista"));
    cb_imprimir = ui::keyedAction(tb_atencion, QStringLiteral("cb_listar"), QStringLiteral("Imprimir"),
                                  QStringLiteral("Imprimir la lista"));
    cb_imprimir->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));
    cb_crear = ui::keyedAction(tb_atencion, QStringLiteral("cb_crear"), QStringLiteral("Crear tarea"),
                               QStringLiteral("Crear una tarea con los abonados de la lista"));
    layout->addWidget(tb_atencion);
    st_dias = new QLabel(this);
    st_dias->setObjectName(QStringLiteral("st_dias"));
    layout->addWidget(st_dias);
    dg_atencion = new QTableWidget(0, 5, this);
    dg_atencion->setObjectName(QStringLiteral("dg_atencion"));
    dg_atencion->setAccessibleName(QStringLiteral("Abonados que requieren atención"));
    dg_atencion->setHorizontalHeaderLabels({QStringLiteral("Código"), QStringLiteral("Abonado"),
                                            QStringLiteral("Última descarga"), QStringLiteral("Último resultado"),
                                            QStringLiteral("Motivo")});
    dg_atencion->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dg_atencion->setSelectionBehavior(QAbstractItemView::SelectRows);
    dg_atencion->verticalHeader()->hide();
    dg_atencion->horizontalHeader()->setStretchLastSection(true);
    dg_atencion->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    const int widths[] = {80, 240, 130, 160, 160};
    for (int i = 0; i < 5; ++i)
        dg_atencion->setColumnWidth(i, widths[i]);
    layout->addWidget(dg_atencion, 1);

    connect(cb_actualizar, &QAction::triggered, this, &w_tareas_atencion::refresh);
    connect(cb_imprimir, &QAction::triggered, this, &w_tareas_atencion::print);
    connect(cb_crear, &QAction::triggered, this, [this] {
        const QList<qint32> shown = shownSubscribers();
        if (shown.isEmpty()) {
            m_ctx.messages.showError(QStringLiteral("La lista está vacía: no hay abonados para la tarea."));
            return;
        }
        emit makeJob(shown);
    });
    refresh();
}

void w_tareas_atencion::refresh()
{
    QList<jobs::AttentionRow> rows;
    try {
        if (const auto s = settings::read(m_ctx.main.db()))
            m_days = s->dias_atencion;
        rows = jobs::attention(m_ctx.main.db(), m_days, m_ctx.main.now(), m_ctx.main.currentUser());
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo leer la lista.\n%1").arg(e.text()));
        return;
    }
    st_dias->setText(QStringLiteral("Sin descarga de eventos en %1 días, última tarea fallida o nunca contactados: %2")
                         .arg(m_days)
                         .arg(rows.size()));
    dg_atencion->setSortingEnabled(false);
    dg_atencion->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        const jobs::AttentionRow& r = rows.at(i);
        auto* code = new QTableWidgetItem(r.code);
        code->setData(Qt::UserRole, r.subscriber);
        dg_atencion->setItem(i, 0, code);
        dg_atencion->setItem(i, 1, new QTableWidgetItem(r.name));
        dg_atencion->setItem(i, 2, new DateItem(r.lastDownload));
        dg_atencion->setItem(i, 3, new QTableWidgetItem(r.lastOutcome.isEmpty() ? QStringLiteral("-") : r.lastOutcome));
        dg_atencion->setItem(i, 4, new QTableWidgetItem(r.reason));
    }
    dg_atencion->setSortingEnabled(true);
    dg_atencion->sortByColumn(dg_atencion->horizontalHeader()->sortIndicatorSection(),
                              dg_atencion->horizontalHeader()->sortIndicatorOrder());
}

QList<qint32> w_tareas_atencion::shownSubscribers() const
{
    QList<qint32> ids;
    for (int i = 0; i < dg_atencion->rowCount(); ++i)
        if (!dg_atencion->isRowHidden(i))
            ids << dg_atencion->item(i, 0)->data(Qt::UserRole).toInt();
    return ids;
}

void w_tareas_atencion::print()
{
    QList<QStringList> rows;
    for (int i = 0; i < dg_atencion->rowCount(); ++i) {
        QStringList texts;
        for (int c = 0; c < dg_atencion->columnCount(); ++c)
            texts << dg_atencion->item(i, c)->text();
        rows << texts;
    }
    reports::showAttentionReport(m_ctx, st_dias->text(), rows);
}
