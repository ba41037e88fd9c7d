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

    searchlists::Rows read = searchlists::read(c, info.list, id_usuario);
    Q_ASSERT(read.columns == columns);
    const QList<QString>& cells = read.cells;
    QList<int> sorted = spanishOrder(int(read.ids.size()), int(orderAt.size()), [&](int r, int p) {
        return cells.at(qsizetype(r) * columns + orderAt.at(p));
    });

    beginResetModel();
    m_columns = info.columns;
    m_filterAt = filterAt;
    m_ids = std::move(read.ids);
    m_cells = std::move(read.cells);
    m_order = std::move(sorted);
    // Folded when first filtered: opening does not wait for it.
    m_folded.clear();
    endResetModel();
}

int SearchRowsModel::rowOf(int id) const
{
    const qsizetype r = m_ids.indexOf(id);
    return r < 0 ? -1 : int(m_order.indexOf(int(r)));
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
    // From the current order, so that rows alike keep their places.
    const QList<int> sorted = spanishOrder(int(m_order.size()), 1,
                                           [&](int r, int) { return cell(r, column); }, order);
    QList<int> placed;
    placed.reserve(m_order.size());
    for (int r : sorted)
        placed << m_order.at(r);
    beginResetModel();
    m_order = std::move(placed);
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
        return cell(index.row(), index.column());
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
    return !foldedText.contains(kSeparator) && m_folded.at(m_order.at(row)).contains(foldedText);
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
