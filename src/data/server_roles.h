#pragma once
// The two roles of a station database on a PostgreSQL server: the
// administrator, who owns the schema and alone creates and upgrades it, and
// the stations' role, which reads and writes rows but changes no table and
// cannot read the operators' password hashes.
//
// The hashes are kept from it by a column grant (every column of usuarios
// but password may be read; password may be written, as setting a password
// needs). Logging in still needs something of the hash, so two functions
// that run with the owner's rights give the station only what a login
// needs: the salt and costs of an operator's hash, and whether a hash the
// station made with them is the stored one (schema_upgrade makes them).
// The hashing stays in the station (the server has no Argon2id); a role
// that can only ask whether a password is right must guess online, one
// Argon2id hash per guess, instead of taking the hashes away.

#include <QSqlDatabase>
#include <QString>

namespace server_roles {

// Whether `role` is a name the command takes: lower-case letters, digits
// and "_", not starting with a digit (it is written into the statements).
bool validRoleName(const QString& role);

// On the connection of the schema's owner: upgrades the schema, creates
// `role` (LOGIN, without a password) when it does not exist, and gives it
// the rights above, again from nothing when it had others; tables a later
// upgrade adds get the same by default. Returns whether the role was
// created. Throws db::Error (a superuser role, or the owner itself, is
// refused: it could read everything anyway).
bool grantStation(const QSqlDatabase& c, const QString& role);

} // namespace server_roles
