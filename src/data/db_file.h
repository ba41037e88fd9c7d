#pragma once
// The file engine's own handle, for the few bulk writes and reads where
// QtSql's cost per bound value would dominate, and a server's whole result
// at once. Only data/ uses it.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>

struct sqlite3;

namespace db {

// Null on a server.
sqlite3* sqliteHandle(const QSqlDatabase& c);

// As exec, the rows fetched all at once: a server's forward-only query
// fetches them one by one, which for tens of thousands of rows costs more
// than the query itself. Throws Error.
QSqlQuery execWhole(const QSqlDatabase& c, const QString& sql, const QVariantList& values = {});

// As exec for a statement whose rows, if any, are not wanted; on a file
// through the engine's own handle, for a statement of many bound values run
// often (QtSql's binding and preparing cost more there than the statement).
// Its errors read as exec's. Throws Error.
void execWrite(const QSqlDatabase& c, const QString& sql, const QVariantList& values);

} // namespace db
