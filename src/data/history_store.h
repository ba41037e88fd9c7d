#pragma once
// The history of programming values: one row per change of a stored value
// (who, when, where from, before and after), written by the stores that
// change values inside the caller's transaction, so that a change and its
// row are committed or rolled back together. An upload adds one row per
// value sent and acknowledged. Only the purge deletes rows: the rows of a
// deleted subscriber or template stay, marked as deleted.

#include "data/db.h"
#include "data/value_store.h"

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace history {

// Where a change came from, as stored and shown.
namespace origin {
inline QString editor() { return QStringLiteral("editor"); }
inline QString panel() { return QStringLiteral("panel"); }          // a download, or a value taken from the panel
inline QString plantilla() { return QStringLiteral("plantilla"); }  // seeded or restored from a template
inline QString copiedFrom(int configuracion) { return QStringLiteral("plantilla copiada de %1").arg(configuracion); }
inline QString migracion() { return QStringLiteral("migración"); }  // the catalogue merge into template 1
inline QString subida() { return QStringLiteral("subida"); }        // sent to the panel and acknowledged
inline QString subidaVerificada() { return QStringLiteral("subida verificada"); } // read back equal after an upload
} // namespace origin

// Who and when, shared by every row of one change.
struct Stamp {
    QString origen;
    int usuario = 0; // 0: nobody logged in yet (the merge at start-up)
    QString fecha = db::nowText();
};

// Rows gathered during one change and written in a few statements. A value
// that does not change is not kept (null and empty read alike); a missing
// value (no row) is nullopt.
class Batch {
public:
    Batch(const QSqlDatabase& c, Stamp stamp) : m_c(c), m_stamp(std::move(stamp)) {}
    void add(const values::Owner& o, int seccion, int item, const std::optional<QString>& before,
             const std::optional<QString>& after);
    qsizetype size() const { return m_rows.size(); }
    // Writes the rows kept so far. Throws db::Error.
    void write();

private:
    struct Pending {
        values::Owner owner;
        int seccion, item;
        std::optional<QString> before, after;
    };
    QSqlDatabase m_c;
    Stamp m_stamp;
    QList<Pending> m_rows;
};

// A subscriber's section (999: every section) about to be replaced by the
// template's values: a row for every value the copy will change, add or
// remove. Call it before the copy. Throws db::Error.
void recordSeeding(const QSqlDatabase& c, const Stamp& s, int abonado, int panel, int seccion, int configuracion);
// Template 1's values about to be written by the catalogue merge from
// `rows` (a table of the merge's own: n in the file's order, id_panel,
// id_seccion, id_item, valor): a row for each new or changed one, numbered
// in the file's order. Call it before the write. Throws db::Error.
void recordMerged(const QSqlDatabase& c, const Stamp& s, const QString& rows);
// Every value of a new template, copied from another. Throws db::Error.
void recordTemplateCreated(const QSqlDatabase& c, const Stamp& s, int configuracion);
// The values of these sections that went to the panel: those still marked
// "subir" when it acknowledged them (onlyMarked), or all of them once a
// read-back has proven the sections. Call it before the marks are cleared.
void recordUpload(const QSqlDatabase& c, const Stamp& s, int abonado, const QList<int>& sections, bool onlyMarked);
// A value read from a panel (item 0: one value for every item of the
// section).
struct ReadValue {
    int seccion = 0;
    int item = 0;
    QString valor;
};
// `values` as a table of a statement: column1 the place of the value's
// section among them (sections in the order first given), column2 the
// section, column3 the item, column4 the value; its values appended to
// `params`.
QString readTable(const QSqlDatabase& c, const QList<ReadValue>& values, QVariantList& params);
// A subscriber's values about to be stored from the panel (`read`, `readParams`:
// a table of readTable): a row for every stored value that will change, in
// one statement, numbered after the highest so far by section in the order
// read, then by item. Throws db::Error.
void recordRead(const QSqlDatabase& c, const Stamp& s, int abonado, const QString& read, const QVariantList& readParams);
// The owner is gone; its rows stay, marked as deleted, until purged.
void markDeleted(const QSqlDatabase& c, const values::Owner& o);

// What the history window lists: one owner's rows from the start of `from`
// through the whole of `to`, of one section (< 0: all) and one operator
// (< 1: all), newest first.
struct Filter {
    values::Owner owner;
    QDate from, to;
    int seccion = -1;
    int usuario = 0;
};

struct Row {
    QString fecha;
    int seccion = 0;
    QString seccionDescripcion;
    int item = 0;
    QString itemDescripcion;
    int tipo = 0;
    int caracteres = 0;
    QString filler;
    std::optional<QString> antes, despues;
    QString origen;
    QString usuario; // empty when nobody was logged in or the account is gone
};

QList<Row> rows(const QSqlDatabase& c, const Filter& f);

// The operators named in an owner's history (id, name; the name is empty
// for an account deleted since), by name.
QList<QPair<int, QString>> operators(const QSqlDatabase& c, const values::Owner& o);

// Deletes every row up to and including the whole day `through`, in its own
// transaction; returns how many went. Throws db::Error (nothing deleted).
int purge(const QSqlDatabase& c, const QDate& through);

} // namespace history
