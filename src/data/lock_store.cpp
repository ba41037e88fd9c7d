#include "data/lock_store.h"

#include "data/db.h"

namespace locks {

namespace {

// First key of the subscriber locks on the server (the second is the number).
constexpr int kSubscriberLock = 0x4142; // "AB"

bool onServer(const QSqlDatabase& c)
{
    return db::engine(c) == db::Engine::PostgreSQL;
}

} // namespace

QString Holder::text() const
{
    if (operador.isEmpty() && estacion.isEmpty())
        return QStringLiteral("En uso en otra estación");
    return QStringLiteral("En uso por %1 en %2 desde %3").arg(operador, estacion, desde.mid(11, 5));
}

bool acquire(const QSqlDatabase& c, int abonado, const QString& operador, const QString& estacion)
{
    if (!onServer(c))
        return true;
    if (!db::scalar(c, QStringLiteral("SELECT pg_try_advisory_lock(CAST(? AS integer), CAST(? AS integer))"),
                    {kSubscriberLock, abonado})
             .toBool())
        return false;
    try {
        db::Transaction t(c);
        // A row left by a station that died is replaced.
        db::exec(c, QStringLiteral("DELETE FROM bloqueos WHERE id_abonado = ?"), {abonado});
        db::exec(c, QStringLiteral("INSERT INTO bloqueos (id_abonado, operador, estacion, desde) VALUES (?, ?, ?, ?)"),
                 {abonado, operador, estacion, db::nowText()});
        t.commit();
    } catch (const db::Error&) {
        release(c, abonado);
        throw;
    }
    return true;
}

void release(const QSqlDatabase& c, int abonado)
{
    if (!onServer(c))
        return;
    // Only the holder's session removes the row, and unlocks afterwards.
    if (db::scalar(c, QStringLiteral("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND classid = ? "
                                     "AND objid = ? AND objsubid = 2 AND granted AND pid = pg_backend_pid()"),
                   {kSubscriberLock, abonado})
            .toInt()
        == 0)
        return;
    db::exec(c, QStringLiteral("DELETE FROM bloqueos WHERE id_abonado = ?"), {abonado});
    db::exec(c, QStringLiteral("SELECT pg_advisory_unlock(CAST(? AS integer), CAST(? AS integer))"), {kSubscriberLock, abonado});
}

std::optional<Holder> heldByOther(const QSqlDatabase& c, int abonado)
{
    if (!onServer(c))
        return std::nullopt;
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT b.operador, b.estacion, b.desde FROM bloqueos b WHERE b.id_abonado = ? "
                                          "AND EXISTS (SELECT 1 FROM pg_locks l WHERE l.locktype = 'advisory' "
                                          "AND l.classid = ? AND l.objid = ? AND l.objsubid = 2 AND l.granted "
                                          "AND l.pid <> pg_backend_pid() "
                                          // pg_locks lists every database of the server; advisory
                                          // keys are per database.
                                          "AND l.database = (SELECT oid FROM pg_database "
                                          "WHERE datname = current_database()))"),
                           {abonado, kSubscriberLock, abonado});
    if (!db::next(q))
        return std::nullopt;
    return Holder{db::text(q, "operador"), db::text(q, "estacion"), db::text(q, "desde")};
}

std::optional<Holder> heldByOtherUntilCommit(const QSqlDatabase& c, int abonado)
{
    if (!onServer(c))
        return std::nullopt;
    // A shared hold for the transaction: it waits for nobody, and keeps out
    // another station's acquire (which wants the key alone) until commit.
    if (db::scalar(c, QStringLiteral("SELECT pg_try_advisory_xact_lock_shared(CAST(? AS integer), CAST(? AS integer))"),
                   {kSubscriberLock, abonado})
            .toBool())
        return std::nullopt;
    // Taken by another session whose row may not be written yet.
    return heldByOther(c, abonado).value_or(Holder{});
}

} // namespace locks
