#include "data/settings_store.h"

#include "data/db.h"

#include <QSqlQuery>

namespace settings {

std::optional<Row> read(const QSqlDatabase& c)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT modem_port, modem_mode, ip_port, ip_permitidas, ip_escucha, "
                                             "verificar_subidas FROM configuracion WHERE id_configuracion = 1"));
    if (!q.next())
        return std::nullopt;
    return Row{q.value(0), q.value(1), q.value(2), db::text(q, "ip_permitidas"), db::text(q, "ip_escucha"),
               q.value(5).isNull() || q.value(5).toInt() != 0};
}

void writeCommunication(const QSqlDatabase& c, int modem_port, const QString& modem_mode, int ip_port,
                        const QString& ip_permitidas, const QString& ip_escucha, bool verificar_subidas)
{
    db::Transaction t(c);
    QSqlQuery q = db::exec(c, QStringLiteral("UPDATE configuracion SET modem_port = ?, modem_mode = ?, ip_port = ?, "
                                             "ip_permitidas = ?, ip_escucha = ?, verificar_subidas = ? "
                                             "WHERE id_configuracion = 1"),
                           {modem_port, modem_mode, ip_port, db::nullIfEmpty(ip_permitidas), db::nullIfEmpty(ip_escucha),
                            verificar_subidas ? 1 : 0});
    if (q.numRowsAffected() != 1)
        throw db::Error(QStringLiteral("Falta la fila de configuración"));
    t.commit();
}

} // namespace settings
