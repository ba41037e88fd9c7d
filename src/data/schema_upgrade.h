#pragma once
// What a database made by an older station lacks: columns and indexes added
// since, put in when the station opens it.

#include <QSqlDatabase>
#include <QStringList>

namespace schema {

// Adds the missing settings columns and indexes. Idempotent; throws db::Error.
void upgrade(const QSqlDatabase& c);

// The station's tables that the database does not have (empty when it has
// them all): a file without them is not a station database.
QStringList missingTables(const QSqlDatabase& c);
// None of them: an empty database the station may fill.
bool hasNoTables(const QSqlDatabase& c);

} // namespace schema
