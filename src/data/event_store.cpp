#include "data/event_store.h"

#include "data/db.h"

#include <limits>

namespace events {

QList<Row> page(const QSqlDatabase& c, qint32 abonado, qint64 beforeOrden, int limit)
{
    // The index on (id_abonado, orden) gives the rows in order: the page
    // costs its own rows, however long the history.
    QSqlQuery q = db::exec(c,
                           // An event without a text is listed all the same.
                           QStringLiteral("SELECT ae.orden, ae.fecha, ae.id_evento, e.descripcion, ae.parametro, p.cadena "
                                          "FROM abonados_eventos ae "
                                          "LEFT JOIN eventos e ON ae.id_evento = e.id_evento "
                                          "AND ae.id_tipo = e.id_tipo AND ae.id_panel = e.id_panel "
                                          "LEFT JOIN paneles p ON p.id_panel = ae.id_panel "
                                          "WHERE ae.id_abonado = ? AND ae.orden < ? "
                                          "ORDER BY ae.orden DESC LIMIT ?"),
                           {abonado, beforeOrden > 0 ? beforeOrden : std::numeric_limits<qint64>::max(), limit});
    QList<Row> rows;
    while (db::next(q))
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(), q.value(3).toString(),
                     q.value(4).toInt(), q.value(5).toString()});
    return rows;
}

int countUntil(const QSqlDatabase& c, qint32 abonado, const QString& until)
{
    return db::scalar(c, QStringLiteral("SELECT count(*) FROM abonados_eventos WHERE id_abonado = ? AND fecha <= ?"),
                      {abonado, until})
        .toInt();
}

void removeUntil(const QSqlDatabase& c, qint32 abonado, const QString& until)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("DELETE FROM abonados_eventos WHERE id_abonado = ? AND fecha <= ?"), {abonado, until});
    t.commit();
}

} // namespace events
