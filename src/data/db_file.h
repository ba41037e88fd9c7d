#pragma once
// The file engine's own handle, for the few bulk writes where QtSql's cost
// per bound value would dominate. Only data/ uses it.

#include <QSqlDatabase>

struct sqlite3;

namespace db {

// Null on a server.
sqlite3* sqliteHandle(const QSqlDatabase& c);

} // namespace db
