#include "records/search_model.h"

#include "data/db.h"
#include "records/collation.h"

void SearchRowsModel::load(const QSqlDatabase& c, SearchMode mode)
{
    const SearchModeInfo& info = searchModeInfo(mode);
    QSqlQuery q = db::exec(c, info.sql);
    QList<int> ids;
    QList<QStringList> cells, folded, order;
    QList<int> filterAt, orderAt;
    for (const QString& f : info.filterColumns)
        for (int i = 0; i < info.columns.size(); ++i)
            if (info.columns.at(i).name == f)
                filterAt << i;
    for (const QString& f : info.orderColumns)
        for (int i = 0; i < info.columns.size(); ++i)
            if (info.columns.at(i).name == f)
                orderAt << i;
    // A forward-only query read to its end: every row, however many.
    while (q.next()) {
        QStringList row;
        row.reserve(info.columns.size());
        for (int i = 0; i < info.columns.size(); ++i)
            row << (q.isNull(i) ? QString() : q.value(i).toString());
        QStringList f, o;
        for (int i : filterAt)
            f << db::fold(row.at(i));
        for (int i : orderAt)
            o << row.at(i);
        ids << q.value(0).toInt();
        cells << std::move(row);
        folded << std::move(f);
        order << std::move(o);
    }
    const QList<int> sorted = spanishOrder(order);

    beginResetModel();
    m_columns = info.columns;
    m_ids.clear();
    m_cells.clear();
    m_folded.clear();
    m_ids.reserve(sorted.size());
    m_cells.reserve(sorted.size());
    m_folded.reserve(sorted.size());
    for (int i : sorted) {
        m_ids << ids.at(i);
        m_cells << cells.at(i);
        m_folded << folded.at(i);
    }
    endResetModel();
}

int SearchRowsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_cells.size());
}

int SearchRowsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant SearchRowsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_cells.size() || index.column() >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_cells.at(index.row()).at(index.column());
    return {};
}

QVariant SearchRowsModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_columns.size())
        return m_columns.at(section).caption;
    return QAbstractTableModel::headerData(section, o, role);
}

Qt::ItemFlags SearchRowsModel::flags(const QModelIndex& index) const
{
    // Read-only: selectable, never editable.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

bool SearchRowsModel::matches(int row, const QString& foldedText) const
{
    for (const QString& s : m_folded.at(row))
        if (s.contains(foldedText))
            return true;
    return false;
}

void SearchFilterProxy::setContains(const QString& text)
{
    m_text = text;
    m_folded = db::fold(text);
    invalidateFilter();
}

bool SearchFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    Q_UNUSED(sourceParent);
    if (m_folded.isEmpty())
        return true;
    const auto* rows = qobject_cast<const SearchRowsModel*>(sourceModel());
    return rows && rows->matches(sourceRow, m_folded);
}
