#pragma once
// Data operations shared by several windows, on an explicit connection.

#include <QSqlDatabase>

// Seeds a subscriber's values and marks from a template (section 999: all
// sections), with a history row (origin "plantilla", operator `id_usuario`)
// for every value that changes. Opens no transaction: the caller wraps it
// and rolls back on a db::Error. Returns true when every statement ran.
bool copyValues(const QSqlDatabase& c, int id_abonado, int id_panel, int id_seccion, int id_configuracion,
                    int id_usuario);

// New key: the column maximum plus one, or `firstKey` in an empty table. Read
// it inside the transaction that inserts the row.
int nextKey(const QSqlDatabase& c, const QString& table, const QString& column, int firstKey = 1);
