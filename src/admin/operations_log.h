#pragma once
// The operations log as the log viewer reads and purges it: which rows a
// printout covers, the rows themselves, and the purge. Days are whole local
// days; dates reach the engine as bound ISO texts, never as locale text.

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

namespace oplog {

// A statement with its values, bound in order.
struct Statement {
    QString sql;
    QVariantList values;
};

// One printed line, in the columns the log report reads.
struct Row {
    int id_usuario = 0;
    int id_operacion = 0;
    QString fecha, parametro, descripcion, usuario;
};

// The "Desde" the viewer opens with: today's day number in the previous
// month, or that month's last day when it has no such day (31 March gives
// the end of February).
QDate defaultFrom(const QDate& today);

// "yyyy-MM-dd 00:00:00" of `d`, the stored form compared against.
QString startOfDay(const QDate& d);

// Rows from the start of `from` through the whole of `to`, in time order, of
// one operator or of all (id_usuario < 1). Rows of unknown operations or
// operators are left out (inner joins).
Statement printQuery(const QDate& from, const QDate& to, int id_usuario);
QList<Row> rows(const QSqlDatabase& c, const Statement& s);

// Deletes every row up to and including the whole day `through`, in its own
// transaction; returns how many went. Throws db::Error (nothing deleted).
Statement purgeStatement(const QDate& through);
int purge(const QSqlDatabase& c, const QDate& through);

} // namespace oplog
