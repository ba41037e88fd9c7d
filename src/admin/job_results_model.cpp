#include "admin/job_results_model.h"

#include "data/db.h"

namespace {

QString shown(const QString& stored)
{
    const QDateTime t = db::parseDateTime(stored);
    return t.isValid() ? t.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : stored;
}

} // namespace

void JobResultsModel::show(const jobs::ResultFilter& filter)
{
    beginResetModel();
    m_filter = filter;
    m_rows.clear();
    m_total = 0;
    try {
        m_total = jobs::countResults(m_c, filter);
        m_rows = jobs::resultPage(m_c, filter, 0, PageRows);
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

QList<jobs::ResultRow> JobResultsModel::allRows()
{
    QList<jobs::ResultRow> all = m_rows;
    while (all.size() < m_total) {
        const QList<jobs::ResultRow> page = jobs::resultPage(m_c, m_filter, all.isEmpty() ? 0 : all.last().id, 5000);
        if (page.isEmpty())
            break;
        all += page;
    }
    return all;
}

QStringList JobResultsModel::titles()
{
    return {QStringLiteral("Tarea"),  QStringLiteral("Abonado"),   QStringLiteral("Inicio"),
            QStringLiteral("Fin"),    QStringLiteral("Estación"),  QStringLiteral("Resultado"),
            QStringLiteral("Detalle"), QStringLiteral("Eventos"),  QStringLiteral("Diferencias"),
            QStringLiteral("Secciones")};
}

QStringList JobResultsModel::texts(const jobs::ResultRow& r) const
{
    QString who;
    if (r.subscriber > 0)
        who = QString::number(r.subscriber) + (r.subscriberName.isEmpty() ? QString() : QLatin1Char(' ') + r.subscriberName);
    return {r.job, who, shown(r.start), shown(r.end), r.station, r.outcome, r.detail, QString::number(r.events),
            QString::number(r.differences), QString::number(r.sections)};
}

int JobResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int JobResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant JobResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    if (role == Qt::DisplayRole)
        return texts(m_rows.at(index.row())).value(index.column());
    if (role == Qt::TextAlignmentRole && index.column() >= Events)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant JobResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return titles().value(section);
    return {};
}

bool JobResultsModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && !m_fetching && m_rows.size() < m_total;
}

void JobResultsModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    QList<jobs::ResultRow> page;
    try {
        page = jobs::resultPage(m_c, m_filter, m_rows.isEmpty() ? 0 : m_rows.last().id, PageRows);
    } catch (const db::Error& e) {
        // A list being scrolled has nobody to tell: it stops growing.
        qWarning("tareas: no se pudieron leer más resultados: %s", qPrintable(e.text()));
        m_total = int(m_rows.size());
        return;
    }
    if (page.isEmpty()) {
        m_total = int(m_rows.size());
        return;
    }
    // Views and checkers may ask for more while the rows go in: the same
    // page would be read twice.
    m_fetching = true;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size() - 1));
    m_rows += page;
    endInsertRows();
    m_fetching = false;
}
