#pragma once
// Engine adapter: named SQLite connections through QtSql, bound statements,
// a transaction guard and null-to-default reads. Every failure becomes a
// db::Error carrying the engine's own text.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <stdexcept>

class QSqlError;

namespace db {

// The engine's own text of an error, or a general one when it gives none.
QString errorText(const QSqlError& e);

class Error : public std::runtime_error {
public:
    explicit Error(const QString& text) : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString& text() const { return m_text; }

private:
    QString m_text;
};

// Opens (or re-opens) the connection `name` on `file`. The file must exist:
// SQLite would otherwise silently create an empty database.
QSqlDatabase open(const QString& name, const QString& file);
// Creates a new database file from the schema (fails if the file exists).
QSqlDatabase create(const QString& name, const QString& file);
void close(const QString& name);

// Prepares `sql`, binds `values` positionally and runs it; throws on failure.
QSqlQuery exec(const QSqlDatabase& c, const QString& sql, const QVariantList& values = {});
// Runs a query and returns the first column of the first row (null when no row).
QVariant scalar(const QSqlDatabase& c, const QString& sql, const QVariantList& values = {});
// Runs a script of statements separated by ";" at line ends (no values).
void execScript(const QSqlDatabase& c, const QString& script);

// Null-to-default reads by column name.
QString text(const QSqlQuery& q, const char* column);
int integer(const QSqlQuery& q, const char* column);

// Binds an empty text as null (optional fields are stored as null).
QVariant nullIfEmpty(const QString& s);

// Case folding that covers Spanish letters (Ñ/ñ, Á/á ...), unlike SQLite's NOCASE.
QString fold(const QString& s);

// Local "now" in the stored date format, and the conversion both ways.
QString nowText();
QString dateTimeText(const QDateTime& t);
QDateTime parseDateTime(const QString& s);

// SQLite's quick_check, given up after `ms` milliseconds so that a big file
// does not hold the station: Unfinished then. `detail` gets what the check
// (or the engine) said when the file is not sound.
enum class Check { Sound, Damaged, Unfinished };
Check quickCheck(const QSqlDatabase& c, int ms, QString* detail = nullptr);

// Writes a compacted copy of the database into `file`, which must not exist
// or be empty (an empty file keeps its permissions).
void compactInto(const QSqlDatabase& c, const QString& file);

// Begin on construction, roll back on destruction unless commit() ran.
class Transaction {
public:
    explicit Transaction(const QSqlDatabase& c);
    ~Transaction();
    void commit();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    QSqlDatabase m_c;
    bool m_open = false;
};

} // namespace db
