#pragma once
// The "Resultados" tab's list: the results of the jobs newest first, read a
// page at a time as the list is scrolled, so that opening it costs one page
// however many results there are.

#include "data/job_store.h"

#include <QAbstractTableModel>
#include <QSqlDatabase>

class JobResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int PageRows = 200;
    enum Column { Job, Subscriber, Start, End, Station, Outcome, Detail, Events, Differences, Sections, Columns };

    explicit JobResultsModel(const QSqlDatabase& c, QObject* parent = nullptr) : QAbstractTableModel(parent), m_c(c) {}

    // Lists the results the filter selects afresh. Throws db::Error.
    void show(const jobs::ResultFilter& filter);
    // How many results the filter selects, all pages counted.
    int total() const { return m_total; }
    // Every result the filter selects (the remaining pages read now).
    // Throws db::Error.
    QList<jobs::ResultRow> allRows();
    const jobs::ResultRow& row(int r) const { return m_rows.at(r); }
    // The texts of one row as the list shows them.
    QStringList texts(const jobs::ResultRow& r) const;
    static QStringList titles();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    QSqlDatabase m_c;
    jobs::ResultFilter m_filter;
    QList<jobs::ResultRow> m_rows;
    int m_total = 0;
    bool m_fetching = false; // a view asking again while a page goes in
};
