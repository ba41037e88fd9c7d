#include "records/search_model.h"

#include "data/db.h"
#include "data/text_rules.h"
#include "data/search_store.h"
#include "records/collation.h"

namespace {
const QChar kSeparator = QChar(0x1F); // unit separator: never typed
}

void SearchRowsModel::load(const QSqlDatabase& c, SearchMode mode, int id_usuario)
{
    const SearchModeInfo& info = searchModeInfo(mode);
    const int columns = int(info.columns.size());
    auto indexOf = [&](const QString& name) {
        for (int i = 0; i < columns; ++i)
            if (info.columns.at(i).name == name)
                return i;
        qFatal("SearchRowsModel: column %s is not listed", qPrintable(name));
    };
    QList<int> filterAt, orderAt;
    for (const QString& f : info.filterColumns)
        filterAt << indexOf(f);
    for (const QString& f : info.orderColumns)
        orderAt << indexOf(f);

    const searchlists::Rows read = searchlists::read(c, info.list, id_usuario);
    Q_ASSERT(read.columns == columns);
    const QList<int>& ids = read.ids;
    const QList<QString>& cells = read.cells;
    const int rows = int(ids.size());
    const QList<int> sorted = spanishOrder(rows, int(orderAt.size()), [&](int r, int p) {
        return cells.at(qsizetype(r) * columns + orderAt.at(p));
    });

    beginResetModel();
    m_columns = info.columns;
    m_filterAt = filterAt;
    m_ids.clear();
    m_cells.clear();
    // Folded when first filtered: opening does not wait for it.
    m_folded.clear();
    m_ids.reserve(rows);
    m_cells.reserve(cells.size());
    for (int r : sorted) {
        m_ids << ids.at(r);
        const QString* row = cells.constData() + qsizetype(r) * columns;
        for (int i = 0; i < columns; ++i)
            m_cells << row[i];
    }
    endResetModel();
}

void SearchRowsModel::foldRows() const
{
    const qsizetype columns = m_columns.size();
    m_folded.clear();
    m_folded.reserve(m_ids.size());
    QString joined;
    for (qsizetype r = 0; r < m_ids.size(); ++r) {
        joined.clear();
        for (int i : m_filterAt)
            joined += m_cells.at(r * columns + i) + kSeparator;
        m_folded << textrules::searchKey(joined);
    }
}

void SearchRowsModel::sortBy(int column, Qt::SortOrder order)
{
    const qsizetype columns = m_columns.size();
    if (column < 0 || column >= columns)
        return;
    const QList<int> sorted = spanishOrder(int(m_ids.size()), 1,
                                           [&](int r, int) { return m_cells.at(r * columns + column); }, order);
    QList<int> ids;
    QList<QString> cells, folded;
    ids.reserve(m_ids.size());
    cells.reserve(m_cells.size());
    folded.reserve(m_folded.size());
    const bool wasFolded = m_folded.size() == m_ids.size();
    for (int r : sorted) {
        ids << m_ids.at(r);
        for (qsizetype i = 0; i < columns; ++i)
            cells << m_cells.at(r * columns + i);
        if (wasFolded)
            folded << m_folded.at(r);
    }
    beginResetModel();
    m_ids = std::move(ids);
    m_cells = std::move(cells);
    m_folded = std::move(folded);
    endResetModel();
}

int SearchRowsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_ids.size());
}

int SearchRowsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant SearchRowsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_ids.size() || index.column() >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_cells.at(qsizetype(index.row()) * m_columns.size() + index.column());
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
    if (m_folded.size() != m_ids.size())
        foldRows();
    return !foldedText.contains(kSeparator) && m_folded.at(row).contains(foldedText);
}

void SearchFilterProxy::setContains(const QString& text)
{
    m_text = text;
    m_folded = textrules::searchKey(text);
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
