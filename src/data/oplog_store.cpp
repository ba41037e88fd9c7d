#include "data/oplog_store.h"

#include "data/db.h"

#include <QSqlQuery>

namespace oplog {

QString startOfDay(const QDate& d)
{
    // Formatted as a time of no zone: a local midnight skipped by a clock
    // change must still give this day's first stored text.
    return db::dateTimeText(QDateTime(d, QTime(0, 0), Qt::UTC));
}

Statement query(const Filter& f)
{
    // The end is the next midnight, excluded: a row stamped at 00:00:00 of
    // the following day belongs to that day, not to this printout.
    Statement s;
    s.sql = QStringLiteral("SELECT uo.id_usuario, uo.id_operacion, uo.fecha, uo.parametro, o.descripcion, u.usuario "
                           "FROM usuarios_operaciones uo, operaciones o, usuarios u "
                           "WHERE uo.id_operacion = o.id_operacion AND u.id_usuario = uo.id_usuario");
    if (f.from.isValid()) {
        s.sql += QStringLiteral(" AND uo.fecha >= ?");
        s.values << startOfDay(f.from);
    }
    if (f.to.isValid()) {
        s.sql += QStringLiteral(" AND uo.fecha < ?");
        s.values << startOfDay(f.to.addDays(1));
    }
    if (f.id_usuario > 0) {
        s.sql += QStringLiteral(" AND u.id_usuario = ?");
        s.values << f.id_usuario;
    }
    s.sql += QStringLiteral(" ORDER BY uo.fecha");
    return s;
}

QList<Row> rows(const QSqlDatabase& c, const Filter& f)
{
    const Statement s = query(f);
    QList<Row> out;
    QSqlQuery q = db::exec(c, s.sql, s.values);
    while (db::next(q)) {
        Row r;
        r.id_usuario = db::integer(q, "id_usuario");
        r.id_operacion = db::integer(q, "id_operacion");
        r.fecha = db::text(q, "fecha");
        r.parametro = db::text(q, "parametro");
        r.descripcion = db::text(q, "descripcion");
        r.usuario = db::text(q, "usuario");
        out << r;
    }
    return out;
}

int purge(const QSqlDatabase& c, const QDate& through)
{
    // Every operator's rows go, including those of operators or operations
    // that the printout cannot show any more.
    db::Transaction t(c);
    QSqlQuery q = db::exec(c, QStringLiteral("DELETE FROM usuarios_operaciones WHERE fecha < ?"),
                           {startOfDay(through.addDays(1))});
    const int n = q.numRowsAffected();
    t.commit();
    return n;
}

void record(const QSqlDatabase& c, int id_usuario, int id_operacion, const QString& parametro)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("INSERT INTO usuarios_operaciones (id_usuario, id_operacion, parametro) VALUES (?, ?, ?)"),
             {id_usuario, id_operacion, db::nullIfEmpty(parametro)});
    t.commit();
}

} // namespace oplog
