#pragma once
// The console's event list (dg_eventos): the subscriber's events newest first,
// fetched a page at a time as the list is scrolled, so that refreshing it
// after every event answer costs one page whatever the history holds.

#include "data/event_store.h"

#include <QAbstractTableModel>

class mdl_main;

class EventsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int PageRows = 200;

    // Reads the events through the station's connection.
    EventsModel(const mdl_main& station, QObject* parent) : QAbstractTableModel(parent), m_station(station) {}

    // Lists the events of `abonado` afresh (none when it is below 1).
    void show(qint32 abonado);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    QList<events::Row> nextPage();

    const mdl_main& m_station;

    qint32 m_abonado = 0;
    QList<events::Row> m_rows;
    bool m_complete = true;
};
