#pragma once
// The operations log: one line per operation an operator ran. One query
// serves the log viewer and the log report; days are whole local days and
// reach the engine as bound ISO texts, never as locale text.

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
    QString fecha, usuario, descripcion, parametro;
    int id_usuario = 0;
    int id_operacion = 0;
};

// Which rows: from the start of `from` through the whole of `to` (null dates:
// the whole log), of one operator or of all (id_usuario < 1).
struct Filter {
    QDate from, to;
    int id_usuario = 0;
};

// "yyyy-MM-dd 00:00:00" of `d`, the stored form compared against.
QString startOfDay(const QDate& d);

// Rows in time order. Rows of unknown operations or operators are left out
// (inner joins). Throws db::Error.
Statement query(const Filter& f);
QList<Row> rows(const QSqlDatabase& c, const Filter& f = {});

// Deletes every row up to and including the whole day `through`, in its own
// transaction; returns how many went. Throws db::Error (nothing deleted).
int purge(const QSqlDatabase& c, const QDate& through);

// Adds a line stamped now; an empty parameter is stored as null. Throws db::Error.
void record(const QSqlDatabase& c, int id_usuario, int id_operacion, const QString& parametro);

} // namespace oplog
