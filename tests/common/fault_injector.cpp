#include "fault_injector.h"

#include "data/db.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <sqlite3.h>

namespace {

const char* sqliteRaise(FaultInjector::Kind kind)
{
    return kind == FaultInjector::Kind::DiskFull ? "database or disk is full" : "CHECK constraint failed: fault";
}

const char* serverRaise(FaultInjector::Kind kind)
{
    switch (kind) {
    case FaultInjector::Kind::DiskFull:
        return "RAISE EXCEPTION 'could not extend file: No space left on device' USING ERRCODE = 'disk_full'";
    case FaultInjector::Kind::Constraint:
        return "RAISE EXCEPTION 'new row violates check constraint \"fault\"' USING ERRCODE = 'check_violation'";
    case FaultInjector::Kind::Lost:
        break;
    }
    // The backend ends its own session: the client sees what a restarted
    // server or a cut network gives it.
    return "PERFORM pg_terminate_backend(pg_backend_pid())";
}

int counter = 0; // several injectors may watch one database at once

sqlite3* sqliteHandle(const QSqlDatabase& c)
{
    const QVariant v = c.driver() ? c.driver()->handle() : QVariant();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(v.constData());
    return nullptr;
}

// Counts in the process, not in the database: a rolled-back transaction
// does not give the writes back, so "the Nth row" means the same on both
// engines (on the server a sequence does it).
void countWrite(sqlite3_context* ctx, int, sqlite3_value**)
{
    auto* writes = static_cast<std::pair<int, int>*>(sqlite3_user_data(ctx));
    sqlite3_result_int(ctx, ++writes->first >= writes->second ? 1 : 0);
}

} // namespace

bool FaultInjector::lostSupported(const QSqlDatabase& c)
{
    return db::engine(c) == db::Engine::PostgreSQL;
}

FaultInjector::FaultInjector(const QSqlDatabase& c, Kind kind, int nth, const QStringList& tables)
    : m_c(c), m_tables(tables), m_server(lostSupported(c)), m_id(++counter)
{
    if (m_tables.isEmpty())
        for (const QString& t : db::tableNames(c))
            if (!t.startsWith(QLatin1String("sqlite_")))
                m_tables << t;
    if (!m_server) {
        if (kind == Kind::Lost)
            throw db::Error(QStringLiteral("Un archivo no tiene conexión que perder"));
        // Temporary triggers belong to this connection only and vanish with it.
        m_sqlite = sqliteHandle(c);
        m_function = QStringLiteral("fault_write_%1").arg(m_id).toUtf8();
        m_writes = {0, nth};
        if (!m_sqlite || sqlite3_create_function(m_sqlite, m_function.constData(), 0, SQLITE_UTF8, &m_writes, countWrite,
                                                 nullptr, nullptr) != SQLITE_OK)
            throw db::Error(QStringLiteral("No se pudo preparar la falla"));
        for (const QString& t : m_tables)
            for (const char* op : {"INSERT", "UPDATE", "DELETE"})
                db::exec(c, QStringLiteral("CREATE TEMP TRIGGER fault_%4_%1_%2 BEFORE %2 ON main.%1 BEGIN "
                                           "SELECT RAISE(ABORT, '%3') WHERE fault_write_%4(); END")
                                .arg(t, QLatin1String(op), QLatin1String(sqliteRaise(kind)))
                                .arg(m_id));
        return;
    }
    m_adminName = QStringLiteral("fault_admin_%1").arg(m_id);
    const QSqlDatabase a = db::openAnother(m_adminName, c);
    // A sequence is not rolled back with the failed write either.
    db::exec(a, QStringLiteral("CREATE SEQUENCE fault_writes_%1").arg(m_id));
    const QString when = kind == Kind::Lost ? QStringLiteral("=") : QStringLiteral(">=");
    db::exec(a, QStringLiteral("CREATE FUNCTION fault_write_%4() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN "
                               "IF nextval('fault_writes_%4') %1 %2 THEN %3; END IF; "
                               "IF TG_OP = 'DELETE' THEN RETURN OLD; END IF; RETURN NEW; END$$")
                    .arg(when)
                    .arg(nth)
                    .arg(QLatin1String(serverRaise(kind)))
                    .arg(m_id));
    for (const QString& t : m_tables)
        db::exec(a, QStringLiteral("CREATE TRIGGER fault_write_%2 BEFORE INSERT OR UPDATE OR DELETE ON %1 "
                                   "FOR EACH ROW EXECUTE FUNCTION fault_write_%2()")
                        .arg(t)
                        .arg(m_id));
}

FaultInjector::~FaultInjector()
{
    try {
        heal();
    } catch (const db::Error& e) {
        qWarning("FaultInjector: %s", qPrintable(e.text()));
    }
    if (!m_adminName.isEmpty())
        db::close(m_adminName);
}

void FaultInjector::heal()
{
    if (m_healed)
        return;
    m_healed = true;
    if (m_server) {
        const QSqlDatabase a = QSqlDatabase::database(m_adminName);
        db::exec(a, QStringLiteral("DROP FUNCTION fault_write_%1() CASCADE").arg(m_id));
        db::exec(a, QStringLiteral("DROP SEQUENCE fault_writes_%1").arg(m_id));
        return;
    }
    for (const QString& t : m_tables)
        for (const char* op : {"INSERT", "UPDATE", "DELETE"})
            db::exec(m_c, QStringLiteral("DROP TRIGGER temp.fault_%3_%1_%2").arg(t, QLatin1String(op)).arg(m_id));
    sqlite3_create_function(m_sqlite, m_function.constData(), 0, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr);
}
