#pragma once
// Moving a station's database to a server: every table with its keys, into
// an empty database, checked table by table.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>

namespace copy_store {

struct TableCount {
    QString table;
    qint64 source = 0;
    qint64 target = 0;
};

// Called after each batch: table, rows copied of it so far, its rows.
using Progress = std::function<void(const QString& table, qint64 done, qint64 total)>;

// Makes the station's schema in `target`, which must hold no table at all,
// and copies every station table of `source` into it in one transaction
// (nothing stays behind when it fails). Returns both row counts per table;
// throws db::Error when the target is not empty, a copy fails, or a count
// differs.
QList<TableCount> copyStation(const QSqlDatabase& source, const QSqlDatabase& target, const Progress& progress = {});

} // namespace copy_store
