#include "data/settings_store.h"

#include "data/db.h"

#include <QSqlQuery>

namespace settings {

namespace {

// Stations sharing a server sit at different machines: each keeps its own
// port settings. A file has one station, which keeps them in the settings row.
bool perStation(const QSqlDatabase& c)
{
    return db::engine(c) == db::Engine::PostgreSQL;
}

} // namespace

std::optional<Row> read(const QSqlDatabase& c)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT modem_port, modem_mode, ip_port, ip_permitidas, ip_escucha, "
                                             "verificar_subidas, tareas_estacion, dias_atencion FROM configuracion "
                                             "WHERE id_configuracion = 1"));
    if (!db::next(q))
        return std::nullopt;
    Row r{q.value(0), q.value(1), q.value(2), db::text(q, "ip_permitidas"), db::text(q, "ip_escucha"),
          q.value(5).isNull() || q.value(5).toInt() != 0};
    // On a server the shared row's choice is no station's: off until the
    // station makes its own.
    r.tareas_estacion = !perStation(c) && q.value(6).toInt() != 0;
    if (!q.value(7).isNull() && q.value(7).toInt() > 0)
        r.dias_atencion = q.value(7).toInt();
    if (perStation(c)) {
        QSqlQuery own = db::exec(c, QStringLiteral("SELECT modem_port, modem_mode, ip_port, ip_permitidas, ip_escucha, "
                                                   "tareas_estacion FROM configuracion_estaciones WHERE estacion = ?"),
                                 {db::stationName(c)});
        if (db::next(own)) {
            r.modem_port = own.value(0);
            r.modem_mode = own.value(1);
            r.ip_port = own.value(2);
            r.ip_permitidas = db::text(own, "ip_permitidas");
            r.ip_escucha = db::text(own, "ip_escucha");
            r.tareas_estacion = own.value(5).toInt() != 0;
        }
    }
    return r;
}

void writeCommunication(const QSqlDatabase& c, int modem_port, const QString& modem_mode, int ip_port,
                        const QString& ip_permitidas, const QString& ip_escucha, bool verificar_subidas)
{
    db::Transaction t(c);
    const QVariantList own{modem_port, modem_mode, ip_port, db::nullIfEmpty(ip_permitidas), db::nullIfEmpty(ip_escucha)};
    QSqlQuery q;
    if (perStation(c)) {
        // The read-back choice is the office's, shared by every station.
        q = db::exec(c, QStringLiteral("UPDATE configuracion SET verificar_subidas = ? WHERE id_configuracion = 1"),
                     {verificar_subidas ? 1 : 0});
        db::exec(c, QStringLiteral("INSERT INTO configuracion_estaciones (modem_port, modem_mode, ip_port, ip_permitidas, "
                                   "ip_escucha, estacion) VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (estacion) DO UPDATE SET "
                                   "modem_port = EXCLUDED.modem_port, modem_mode = EXCLUDED.modem_mode, "
                                   "ip_port = EXCLUDED.ip_port, ip_permitidas = EXCLUDED.ip_permitidas, "
                                   "ip_escucha = EXCLUDED.ip_escucha"),
                 own + QVariantList{db::stationName(c)});
    } else {
        q = db::exec(c, QStringLiteral("UPDATE configuracion SET modem_port = ?, modem_mode = ?, ip_port = ?, "
                                       "ip_permitidas = ?, ip_escucha = ?, verificar_subidas = ? "
                                       "WHERE id_configuracion = 1"),
                     own + QVariantList{verificar_subidas ? 1 : 0});
    }
    if (q.numRowsAffected() != 1)
        throw db::Error(QStringLiteral("Falta la fila de configuración"));
    t.commit();
}

void writeJobs(const QSqlDatabase& c, bool tareas_estacion, int dias_atencion)
{
    db::Transaction t(c);
    QSqlQuery q;
    if (perStation(c)) {
        q = db::exec(c, QStringLiteral("UPDATE configuracion SET dias_atencion = ? WHERE id_configuracion = 1"),
                     {dias_atencion});
        // A station without its own row starts it from the shared port settings.
        db::exec(c, QStringLiteral("INSERT INTO configuracion_estaciones (estacion, modem_port, modem_mode, ip_port, "
                                   "ip_permitidas, ip_escucha, tareas_estacion) SELECT ?, modem_port, modem_mode, "
                                   "ip_port, ip_permitidas, ip_escucha, ? FROM configuracion WHERE id_configuracion = 1 "
                                   "ON CONFLICT (estacion) DO UPDATE SET tareas_estacion = EXCLUDED.tareas_estacion"),
                 {db::stationName(c), tareas_estacion ? 1 : 0});
    } else {
        q = db::exec(c, QStringLiteral("UPDATE configuracion SET tareas_estacion = ?, dias_atencion = ? "
                                       "WHERE id_configuracion = 1"),
                     {tareas_estacion ? 1 : 0, dias_atencion});
    }
    if (q.numRowsAffected() != 1)
        throw db::Error(QStringLiteral("Falta la fila de configuración"));
    t.commit();
}

} // namespace settings
