#include "fault_injector.h"

#include "data/db.h"

#include <QSqlQuery>

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

int counter = 0; // names of the server's helper connections

} // namespace

bool FaultInjector::lostSupported(const QSqlDatabase& c)
{
    return db::engine(c) == db::Engine::PostgreSQL;
}

FaultInjector::FaultInjector(const QSqlDatabase& c, Kind kind, int nth, const QStringList& tables)
    : m_c(c), m_tables(tables), m_server(lostSupported(c))
{
    if (m_tables.isEmpty())
        for (const QString& t : db::tableNames(c))
            if (!t.startsWith(QLatin1String("sqlite_")))
                m_tables << t;
    if (!m_server) {
        if (kind == Kind::Lost)
            throw db::Error(QStringLiteral("Un archivo no tiene conexión que perder"));
        // Temporary objects belong to this connection only and vanish with it.
        db::exec(c, QStringLiteral("CREATE TEMP TABLE fault_writes (n INTEGER NOT NULL)"));
        db::exec(c, QStringLiteral("INSERT INTO temp.fault_writes VALUES (0)"));
        for (const QString& t : m_tables)
            for (const char* op : {"INSERT", "UPDATE", "DELETE"})
                db::exec(c, QStringLiteral("CREATE TEMP TRIGGER fault_%1_%2 BEFORE %2 ON main.%1 BEGIN "
                                           "UPDATE fault_writes SET n = n + 1; "
                                           "SELECT RAISE(ABORT, '%3') WHERE (SELECT n FROM fault_writes) >= %4; END")
                                .arg(t, QLatin1String(op), QLatin1String(sqliteRaise(kind)))
                                .arg(nth));
        return;
    }
    m_adminName = QStringLiteral("fault_admin_%1").arg(++counter);
    const QSqlDatabase a = db::openAnother(m_adminName, c);
    // A sequence is not rolled back with the failed write, so "the Nth row"
    // stays the Nth even when the station retries in a new transaction.
    db::exec(a, QStringLiteral("CREATE SEQUENCE fault_writes"));
    const QString when = kind == Kind::Lost ? QStringLiteral("=") : QStringLiteral(">=");
    db::exec(a, QStringLiteral("CREATE FUNCTION fault_write() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN "
                               "IF nextval('fault_writes') %1 %2 THEN %3; END IF; "
                               "IF TG_OP = 'DELETE' THEN RETURN OLD; END IF; RETURN NEW; END$$")
                    .arg(when)
                    .arg(nth)
                    .arg(QLatin1String(serverRaise(kind))));
    for (const QString& t : m_tables)
        db::exec(a, QStringLiteral("CREATE TRIGGER fault_write BEFORE INSERT OR UPDATE OR DELETE ON %1 "
                                   "FOR EACH ROW EXECUTE FUNCTION fault_write()")
                        .arg(t));
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
        db::exec(a, QStringLiteral("DROP FUNCTION fault_write() CASCADE"));
        db::exec(a, QStringLiteral("DROP SEQUENCE fault_writes"));
        return;
    }
    for (const QString& t : m_tables)
        for (const char* op : {"INSERT", "UPDATE", "DELETE"})
            db::exec(m_c, QStringLiteral("DROP TRIGGER temp.fault_%1_%2").arg(t, QLatin1String(op)));
    db::exec(m_c, QStringLiteral("DROP TABLE temp.fault_writes"));
}
