#pragma once
// Which database the station works on: the server named in sorvent20.ini,
// or (without that file) the SQLite file beside the program, opened by
// start-up as before.

#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace db {

// Connects `name` to the server of `programDir`/sorvent20.ini and makes it a
// station database when it is empty (schema, reference rows, demo catalogue
// and subscribers, as a first start on a file does). nullopt without the INI
// file. Throws Error with a Spanish text naming the server and the reason;
// nothing is then changed and no file is used instead.
std::optional<QSqlDatabase> openFromConfig(const QString& name, const QString& programDir);

// Fills an empty server database (several stations may start at once: one
// fills it, the others wait and find it filled), refuses one that holds
// other tables, and adds what an older station did not create.
void prepareServer(const QSqlDatabase& c);

} // namespace db
