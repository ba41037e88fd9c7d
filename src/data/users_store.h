#pragma once
// Operator accounts. Names and passwords compare without regard to case (Ñ
// and accented letters included), as the login compares them. Passwords are
// stored as hashes (passwords.h). Every function throws db::Error.

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace users {

// `password` as read is the stored hash (on a server its salt and costs
// only, passwords::saltOf); as written, the password itself
// (empty on an update: the stored one stays).
struct Account {
    int id_usuario = 0;
    QString usuario, password;
    int nivel = 0;
    int id_perfil = 0; // 0: the built-in profile of `nivel`
};

std::optional<Account> find(const QSqlDatabase& c, int id_usuario);

// The first account, the factory password of which the first login changes.
constexpr int FirstAccount = 1;
inline QString factoryPassword() { return QStringLiteral("1234"); }

// Failed logins of one account within this many minutes lock it for
// LockMinutes; the count is kept on the database for every station. On a
// server the check itself (clave_valida) keeps it, by the server's clock,
// so that calling the check directly meets the lockout too.
constexpr int FailedLogins = 5, FailWindowMinutes = 10, LockMinutes = 5;

struct Login {
    std::optional<Account> account; // the account logged in
    QDateTime lockedUntil;          // valid: the named account waits until then
    bool lockedNow = false;         // this failure locked it
    int lockedAccount = 0;          // the account locked
};
// The log's operation for an account locked by failed logins.
constexpr int LockedOperation = 24;
// The account a login names and proves. A wrong password counts a failure
// against the named account (with the station's name); a locked account is
// refused without looking at the password. `now` is the station's clock.
Login login(const QSqlDatabase& c, const QString& usuario, const QString& password, const QDateTime& now,
            const QString& station);

// Another account than `except` (0: none) already has this name.
bool nameTaken(const QSqlDatabase& c, const QString& usuario, int except);

// The writes open no transaction: the caller wraps the name check and the
// write in one. A new account takes the next number from 1000 on, returned.
int add(const QSqlDatabase& c, const Account& a);
// Saving over an account that is gone is a failure (db::Error), not a success;
// db::Changed when it is no longer as the operator read it (`asRead`, when given).
void update(const QSqlDatabase& c, const Account& a, const std::optional<Account>& asRead = std::nullopt);
void setPassword(const QSqlDatabase& c, int id_usuario, const QString& password,
                 const std::optional<Account>& asRead = std::nullopt);

// Refused (db::Error, a sentence for the operator) when it would leave no
// operator who may administer users.
void remove(const QSqlDatabase& c, int id_usuario);

// The level kept beside a profile for older stations sharing the database.
int levelOfProfile(const QSqlDatabase& c, int id_perfil);

} // namespace users
