#pragma once
// Operator accounts. Names and passwords compare without regard to case (Ñ
// and accented letters included), as the login compares them. Every function
// throws db::Error.

#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace users {

struct Account {
    int id_usuario = 0;
    QString usuario, password;
    int nivel = 0;
};

std::optional<Account> find(const QSqlDatabase& c, int id_usuario);

// The account a login names; with duplicate names the lowest account wins.
std::optional<Account> login(const QSqlDatabase& c, const QString& usuario, const QString& password);

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

void remove(const QSqlDatabase& c, int id_usuario);

} // namespace users
