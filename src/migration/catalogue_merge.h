#pragma once
// Merge of a catalogue update file into the station database: models,
// sections, value lists, items and the values of configuration 1, table by
// table, inserting missing rows and updating existing ones. Nothing is ever
// deleted from the station database.

#include "data/catalogue_merge_store.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>
#include <vector>

namespace migration {

using merge_store::MergeColumn;
using merge_store::MergeTable;

// How a table's merge is shown: its caption and its part of the progress.
struct MergeStage {
    const char* caption; // shown while the table is merged
    int rangeStart;      // progress range of the table
    int rangeWidth;
};

// The stage of each of merge_store::mergeTables(), in the same order.
const std::vector<MergeStage>& mergeStages();

// Progress of row i of n within a table's range (n > 0).
double progressOf(const MergeStage& s, qint64 i, qint64 n);
// Whole percentage, halves to even (12.5 -> 12, 27.5 -> 28).
int roundPercent(double progress);
// The percentage as shown: "37 %".
QString percentText(double progress);

class CatalogueMerge {
public:
    CatalogueMerge(const QSqlDatabase& update, const QSqlDatabase& station);

    // Called when a table begins (its caption) and after each merged row
    // (the overall progress, 0-100).
    std::function<void(const QString& caption)> onTable;
    std::function<void(double progress)> onProgress;

    // Rows written per transaction, in a few statements for the whole batch.
    // Committing row by row makes a large merge take minutes (a disk sync per
    // row); a failure still leaves every row before the failing one merged,
    // and a run stopped by force loses at most one batch, which the next run
    // (the file is still there) writes again.
    int batchRows = 100000;

    // Runs the whole merge. Throws db::Error at the first row that cannot be
    // read or written; the rows before it stay merged.
    void run();

    // Why `update` cannot be read as an update file (not a database, or
    // without the tables and columns the merge reads); empty when it can.
    static QString unreadable(const QSqlDatabase& update);

    qint64 rowsMerged() const { return m_merged; }
    qint64 rowsInserted() const { return m_inserted; }

private:
    struct Row {
        QVariantList values; // in the table's column order
    };
    // Where the columns the range checks read are in a table's rows (-1:
    // the table has none).
    struct Places {
        int id_panel, id_seccion, id_item, id_seccionpwd, tipo, posicion, length, caracteres, id_estado, cadena, secreta;
    };
    static Places placesOf(const MergeTable& t);

    void mergeTable(const MergeTable& t, const MergeStage& stage);
    // Checks the values read into `row` and brings them to the column's
    // type; the reason when they cannot be merged, or empty.
    QString readRow(const MergeTable& t, Row& row) const;
    // A value the station cannot work with (Spanish text naming table,
    // column and key), or empty.
    QString outOfRange(const MergeTable& t, const QVariantList& values) const;
    void applyBatch(const MergeTable& t, const MergeStage& stage, const std::vector<Row>& batch, qint64& i, qint64 total);
    void showProgress(const MergeStage& stage, qint64 i, qint64 total);

    QSqlDatabase m_update;
    QSqlDatabase m_station;
    qint64 m_merged = 0;
    qint64 m_inserted = 0;
    double m_shown = 0; // the progress shown last
    Places m_places{};  // of the table being merged
    // Writes of the table being merged, prepared once per table.
    std::optional<merge_store::RowWriter> m_writer;
    // Sections already in the station, for the items' memory addresses:
    // (id_panel, id_seccion) -> (tipo, posicion).
    QHash<merge_store::SectionKey, QPair<int, int>> m_sections;
    // Highest item of each section, in the station or in the file, for the
    // sections themselves: a section must not move its items off the map.
    QHash<merge_store::SectionKey, qint64> m_lastItems;
};

// Describes a row by its key for error messages: "id_panel = 3, id_seccion = 9".
QString keyText(const MergeTable& t, const QVariantList& values);

} // namespace migration
