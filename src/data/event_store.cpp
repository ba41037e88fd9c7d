#include "data/event_store.h"

#include "data/db.h"

#include <limits>

namespace events {

QList<Row> page(const QSqlDatabase& c, qint32 abonado, qint64 beforeOrden, int limit)
{
    // The index on (id_abonado, orden) gives the rows in order: the page
    // costs its own rows, however long the history.
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT ae.orden, ae.fecha, e.descripcion, ae.parametro "
                                          "FROM abonados_eventos ae, eventos e "
                                          "WHERE ae.id_evento = e.id_evento AND ae.id_tipo = e.id_tipo "
                                          "AND ae.id_panel = e.id_panel AND ae.id_abonado = ? AND ae.orden < ? "
                                          "ORDER BY ae.orden DESC LIMIT ?"),
                           {abonado, beforeOrden > 0 ? beforeOrden : std::numeric_limits<qint64>::max(), limit});
    QList<Row> rows;
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toInt()});
    return rows;
}

} // namespace events
