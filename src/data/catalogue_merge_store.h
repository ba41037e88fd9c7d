#pragma once
// The statements of a catalogue merge: the shape of the five catalogue tables
// as the update file carries them, the reads of the file and the row writes
// on the station database. Values are always bound. Throws db::Error.

#include "data/history_store.h"

#include <QHash>
#include <QPair>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3_stmt;

namespace merge_store {

struct MergeColumn {
    const char* name;
    bool numeric;  // integer column (written as a number)
    bool nullable; // a NULL in the update file is written as null
    // A mark (0 or 1) that older update files lack, read from them as 0; a
    // merge may set it but never clears one the station has: a section the
    // station hides as secret stays hidden whatever the file says.
    bool mark = false;
};

struct MergeTable {
    const char* table;
    const char* countSql;  // on the update file
    const char* selectSql; // on the update file, columns in `columns` order, marks last
    int keyCount;          // the first keyCount columns are the key
    std::vector<MergeColumn> columns;
    bool templateOne;      // configuraciones_valores: only configuration 1
};

// The five tables in merge order.
const std::vector<MergeTable>& mergeTables();

qint64 countRows(const QSqlDatabase& update, const MergeTable& t);
// selectSql as `update` can answer it: a mark the file lacks is read as 0.
QString selectSql(const QSqlDatabase& update, const MergeTable& t);
// The file's rows of `t` in the file's order, forward only. On a file the
// engine's own handle reads them: QtSql's cost per value was the largest
// part of a merge. Values as QtSql gives them: integers as qlonglong, reals
// as double, texts as QString, blobs as QByteArray, null as a null QVariant.
class RowReader {
public:
    // Throws db::Error when the table cannot be read.
    RowReader(const QSqlDatabase& update, const MergeTable& t);
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;
    // The next row into `values`; false at the end, or when the file cannot
    // be read further (error() then says why).
    bool next(QVariantList& values);
    QString error() const { return m_error; }

private:
    QSqlQuery m_query;             // a server, or a file without a handle
    sqlite3_stmt* m_stmt = nullptr;
    int m_columns = 0;
    QString m_error;
};
// The first table the file lacks, with its columns; empty when it has them all.
QString missingTable(const QSqlDatabase& update);

using SectionKey = QPair<qint64, qint64>; // (id_panel, id_seccion)
// Raises `last` to the highest item of each section in `c`.
void raiseLastItems(const QSqlDatabase& c, QHash<SectionKey, qint64>& last);
// Each section's (tipo, posicion) in `c`.
QHash<SectionKey, QPair<int, int>> sectionPlaces(const QSqlDatabase& c);

// Writes rows of one table into the station: inserts a missing key, updates
// every row with an existing one. Prepared once per table; opens no
// transaction. A value of template 1 that changes gets its history row
// (origin "migración", written before anyone logs in), kept until flush().
class RowWriter {
public:
    RowWriter(const QSqlDatabase& station, const MergeTable& t);
    // `values` in the table's column order; true when the row was inserted.
    bool apply(const QVariantList& values);
    // The rows in one go: loaded into a temporary table, then one statement
    // counts the new keys, one writes template 1's history and one upserts
    // the table, so that the cost does not grow by a statement per row.
    // nullopt when the rows repeat a key (the row-by-row way gives the later
    // row the last word); otherwise how many were inserted. A failure names
    // no row: the caller rolls back and applies the rows one by one. Opens no
    // transaction. `loaded` is called after each row is taken.
    std::optional<qint64> applyAll(const std::vector<const QVariantList*>& rows, const std::function<void()>& loaded = {});
    // Writes the history rows of the rows applied since the last flush, a
    // few per statement: one round trip per row would dominate on a server.
    // Call it inside the transaction of those rows, before it commits.
    void flush();
    // Forgets them: their transaction was rolled back.
    void discard();

private:
    // Template 1's value history for a row just written.
    void recordValue(const QVariantList& values, bool existed, const QVariant& before);

    void loadRows(const std::vector<const QVariantList*>& rows, const std::function<void()>& loaded);

    const MergeTable& m_table;
    QSqlDatabase m_station;
    QString m_fecha; // one time for the whole merge of the table
    QSqlQuery m_count, m_insert, m_update;
    std::optional<history::Batch> m_history;
};

} // namespace merge_store
