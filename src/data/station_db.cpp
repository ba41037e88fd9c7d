#include "data/station_db.h"

#include "data/db.h"
#include "data/schema_upgrade.h"
#include "data/seed.h"

namespace db {

namespace {

// Key of the server-wide lock held while a station fills an empty database.
constexpr qint64 kFillLock = 0x536f7276; // "Sorv"

} // namespace

void prepareServer(const QSqlDatabase& c)
{
    {
        Transaction t(c);
        // Another station filling the database takes longer than a lock wait:
        // this one waits for it, however long.
        exec(c, QStringLiteral("SET LOCAL lock_timeout = 0"));
        exec(c, QStringLiteral("SET LOCAL statement_timeout = 0"));
        exec(c, QStringLiteral("SELECT pg_advisory_xact_lock(CAST(? AS bigint))"), {kFillLock});
        if (schema::hasNoTables(c)) {
            createSchema(c);
            seed::loadReference(c);
            seed::loadDemoCatalogue(c);
            seed::loadDemoSubscribers(c);
        } else if (const QStringList missing = schema::missingTables(c); !missing.isEmpty()) {
            throw Error(QStringLiteral("la base de datos no tiene las tablas de la estación (falta %1)")
                            .arg(missing.join(QStringLiteral(", "))));
        }
        t.commit();
    }
    schema::upgrade(c);
    seed::addMissingOperations(c);
}

std::optional<QSqlDatabase> openFromConfig(const QString& name, const QString& programDir)
{
    const std::optional<Server> server = serverConfig(programDir);
    if (!server)
        return std::nullopt;
    QSqlDatabase c = openServer(name, *server);
    try {
        prepareServer(c);
    } catch (const Error& e) {
        close(name);
        throw Error(QStringLiteral("El servidor de base de datos %1 no se puede usar:\n%2").arg(server->describe(), e.text()));
    }
    return c;
}

} // namespace db
