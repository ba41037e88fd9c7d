#pragma once
// The rows of one pick list, read once, and the filter over them. The filter
// never queries the database again: it narrows the rows already read.

#include "records/search_context.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QSqlDatabase>

class SearchRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SearchRowsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Reads every row of the mode's list (all of it, not a first batch).
    // Throws db::Error.
    // Subscribers only of the groups operator `id_usuario` works on.
    void load(const QSqlDatabase& c, SearchMode mode, int id_usuario = 0);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The number in column 0 of `row`, and the row of a number (-1: none).
    int idAt(int row) const { return row >= 0 && row < m_order.size() ? m_ids.at(m_order.at(row)) : 0; }
    int rowOf(int id) const;
    const QString& cell(int row, int column) const
    {
        return m_cells.at(qsizetype(m_order.at(row)) * m_columns.size() + column);
    }
    // Orders the rows by one column as Spanish text, numbers as numbers.
    void sortBy(int column, Qt::SortOrder order);
    // True when `foldedText` (already passed through textrules::searchKey) is contained
    // in one of the mode's filter columns of `row`.
    bool matches(int row, const QString& foldedText) const;

private:
    // Fills m_folded from the rows as they are now.
    void foldRows() const;

    QList<SearchModeInfo::Column> m_columns;
    QList<int> m_filterAt; // the mode's filter columns
    // The rows as read, never moved: ordering the list orders m_order (the
    // row read shown at each place), which costs less than moving the texts.
    QList<int> m_ids;
    QList<QString> m_cells;  // display texts, row after row
    QList<int> m_order;
    // Per row read, the folded filter columns joined by a character no typed
    // text holds, so one search covers them all without matching across two.
    // Empty until the first filter needs it.
    mutable QList<QString> m_folded;
};

class SearchFilterProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit SearchFilterProxy(QObject* parent = nullptr) : QSortFilterProxyModel(parent) {}
    // Keeps the rows that contain `text` (ignoring case); empty keeps all.
    void setContains(const QString& text);
    QString contains() const { return m_text; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString m_text, m_folded;
};
