#pragma once
// Engine adapter: named connections through QtSql (an SQLite file beside the
// program, or a PostgreSQL server named in sorvent20.ini), bound statements,
// a transaction guard and null-to-default reads. Every failure becomes a
// db::Error carrying the engine's own text. What differs between the two
// engines is decided here and in the schema files, nowhere else.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>
#include <stdexcept>

class QSqlError;

namespace db {

// What kind of failure an error is, where the operator can do something
// about it (or must wait) rather than read the engine's text.
enum class Fault {
    Other,
    Lost,     // the connection to the server is gone
    Busy,     // another station held what was needed longer than we wait
    TooLong,  // the statement ran past the time a user waits
    DiskFull, // no room left where the database is kept
    Damaged,  // the file (or the server's data) is damaged
};

// The error in the operator's words where they exist, with the engine's own
// (English) text as the last line for support; `c` names the folder of a
// full disk. A general text when the engine gives none.
QString errorText(const QSqlError& e, const QSqlDatabase& c = QSqlDatabase());
Fault faultOf(const QSqlError& e, const QSqlDatabase& c = QSqlDatabase());

class Error : public std::runtime_error {
public:
    explicit Error(const QString& text, bool keyTaken = false, Fault fault = Fault::Other)
        : std::runtime_error(text.toStdString()), m_text(text), m_keyTaken(keyTaken), m_fault(fault)
    {
    }
    const QString& text() const { return m_text; }
    // A unique key was taken meanwhile (another station inserted the same
    // number): the caller may compute a new one and try again.
    bool keyTaken() const { return m_keyTaken; }
    Fault fault() const { return m_fault; }
    bool connectionLost() const { return m_fault == Fault::Lost; }

private:
    QString m_text;
    bool m_keyTaken = false;
    Fault m_fault = Fault::Other;
};

// How long a statement waits for another station's lock, and how long one
// a user waits on may run, in milliseconds (the file's busy wait is the
// first one too).
inline constexpr int LockWaitMs = 3000;
inline constexpr int StatementMs = 20000;

// Called when a statement on the connection `name` finds the server gone,
// before the error reaches the caller: the station starts reconnecting.
// It must not open a box (a handler may be half way through). Empty: none.
void setLostHandler(const QString& name, std::function<void()> handler);

// Another station changed or removed a record since it was read for editing.
class Changed : public Error {
public:
    Changed(const QString& text, bool removed) : Error(text), m_removed(removed) {}
    bool removed() const { return m_removed; }

private:
    bool m_removed;
};

enum class Engine { SQLite, PostgreSQL };
Engine engine(const QSqlDatabase& c);

// A PostgreSQL server as libpq names it: a service of pg_service.conf, or
// host, port, database and user. The password never comes from here: libpq
// reads it from ~/.pgpass or the service file.
struct Server {
    QString service, host, port, dbname, user;
    // This station's name on the server (its holds, its port settings);
    // the machine's name when empty.
    QString estacion;
    // "servicio X" or "host:puerto/base (usuario)", for messages.
    QString describe() const;
};

// The file in the program directory that points the station at a server.
inline constexpr const char* ServerIni = "sorvent20.ini";
// The server named in `programDir`/sorvent20.ini (section [basedatos]);
// nullopt without that file (the station then works on its SQLite file).
// Throws Error when the file is there but does not name a server usably.
std::optional<Server> serverConfig(const QString& programDir);
// The same from a given file (which must exist).
Server serverConfigFile(const QString& file);
// Connects `name` to the server; the error names the server and the reason.
QSqlDatabase openServer(const QString& name, const Server& s);
// A second connection `name` to the database `like` is connected to.
QSqlDatabase openAnother(const QString& name, const QSqlDatabase& like);
// The server `c` is connected to, as openServer was given it.
Server serverOf(const QSqlDatabase& c);
// Opens the lost connection `name` to its server again, with the settings
// of a new one; false (and `why`) while the server cannot be reached.
bool reconnect(const QString& name, QString* why = nullptr);
// Whether the server of `s` takes connections now. Blocks up to a few
// seconds when the network is gone: call it off the interface thread.
bool serverAnswers(const Server& s);
// The connection to the server was lost (a file connection never is).
bool isLost(const QSqlDatabase& c);
// The station's name: on a server the one it connected with, on a file the
// machine's.
QString stationName(const QSqlDatabase& c);

// Opens (or re-opens) the connection `name` on `file`. The file must exist:
// SQLite would otherwise silently create an empty database.
QSqlDatabase open(const QString& name, const QString& file);
// Creates a new database file from the schema (fails if the file exists).
QSqlDatabase create(const QString& name, const QString& file);
void close(const QString& name);
// Creates the station's tables in an empty database, in the engine's dialect.
void createSchema(const QSqlDatabase& c);
// A schema statement written for a file, in the engine's dialect.
QString schemaDialect(const QSqlDatabase& c, const QString& sql);

// Prepares `sql`, binds `values` positionally and runs it; throws on failure.
QSqlQuery exec(const QSqlDatabase& c, const QString& sql, const QVariantList& values = {});
// The next row of a query db::exec ran; false at the end. A row that cannot
// be read (the server gone half way, a damaged page) throws instead of
// ending the rows early, so that a failure never reads as "no rows".
bool next(QSqlQuery& q);
// Runs a query and returns the first column of the first row (null when no row).
QVariant scalar(const QSqlDatabase& c, const QString& sql, const QVariantList& values = {});
// Runs the smallest statement there is: a lost connection throws, as any
// statement would.
void checkAlive(const QSqlDatabase& c);
// Runs a script of statements separated by ";" at line ends (no values).
void execScript(const QSqlDatabase& c, const QString& script);

// Null-to-default reads by column name.
QString text(const QSqlQuery& q, const char* column);
int integer(const QSqlQuery& q, const char* column);

// Binds an empty text as null (optional fields are stored as null).
QVariant nullIfEmpty(const QString& s);

// " FOR UPDATE" where the engine locks rows read in a transaction (a
// server); empty for a file, whose writer holds the whole file.
QString forUpdate(const QSqlDatabase& c);

// The station's tables present in the database, and the columns of one.
QStringList tableNames(const QSqlDatabase& c);
QStringList columnNames(const QSqlDatabase& c, const QString& table);

// Inside a transaction: makes other stations wait with their new numbers
// for `table` until this transaction ends, so that max + 1 stays free. A
// file has one station: nothing to do.
void lockNewKeys(const QSqlDatabase& c, const QString& table);
// Runs `work` in a transaction, again (up to a few times) when it failed
// because another station took the new key first.
template <class Work> auto withNewKey(const QSqlDatabase& c, Work work);

// Case folding that covers Spanish letters (Ñ/ñ, Á/á ...), unlike SQLite's NOCASE.
QString fold(const QString& s);

// Local "now" in the stored date format, and the conversion both ways.
QString nowText();
QString dateTimeText(const QDateTime& t);
QDateTime parseDateTime(const QString& s);

// SQLite's quick_check (a server is always Sound: it keeps its own files), given up after `ms` milliseconds so that a big file
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

template <class Work> auto withNewKey(const QSqlDatabase& c, Work work)
{
    for (int attempt = 1;; ++attempt) {
        try {
            Transaction t(c);
            auto result = work();
            t.commit();
            return result;
        } catch (const Error& e) {
            if (!e.keyTaken() || attempt == 8)
                throw;
        }
    }
}

} // namespace db
