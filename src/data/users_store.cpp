#include "data/users_store.h"

#include "data/db.h"
#include "data/shared_ops.h"

#include <QSqlQuery>

namespace users {

namespace {

Account read(const QSqlQuery& q)
{
    return {db::integer(q, "id_usuario"), db::text(q, "usuario"), db::text(q, "password"), db::integer(q, "nivel")};
}

void expectOne(const QSqlQuery& q, int id_usuario)
{
    if (q.numRowsAffected() != 1)
        throw db::Error(QStringLiteral("El usuario %1 no existe").arg(id_usuario));
}

} // namespace

std::optional<Account> find(const QSqlDatabase& c, int id_usuario)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_usuario, usuario, password, nivel FROM usuarios WHERE id_usuario = ?"),
                           {id_usuario});
    if (!db::next(q))
        return std::nullopt;
    return read(q);
}

std::optional<Account> login(const QSqlDatabase& c, const QString& usuario, const QString& password)
{
    // Folded in the program: SQLite's NOCASE knows no letters beyond ASCII.
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_usuario, nivel, usuario, password FROM usuarios ORDER BY id_usuario"));
    const QString u = db::fold(usuario), p = db::fold(password);
    while (db::next(q)) {
        if (db::fold(db::text(q, "usuario")) == u && db::fold(db::text(q, "password")) == p)
            return read(q);
    }
    return std::nullopt;
}

bool nameTaken(const QSqlDatabase& c, const QString& usuario, int except)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_usuario, usuario FROM usuarios"));
    const QString folded = db::fold(usuario);
    while (db::next(q)) {
        if (db::integer(q, "id_usuario") != except && db::fold(db::text(q, "usuario")) == folded)
            return true;
    }
    return false;
}

int add(const QSqlDatabase& c, const Account& a)
{
    // In the caller's transaction: the server lock nextKey takes keeps
    // other stations' new accounts waiting until it ends.
    const int id = nextKey(c, QStringLiteral("usuarios"), QStringLiteral("id_usuario"), 1000);
    db::exec(c, QStringLiteral("INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (?, ?, ?, ?)"),
             {id, a.usuario, a.password, a.nivel});
    return id;
}

namespace {

// Read again and kept from other stations' changes until the caller commits.
void checkUnchanged(const QSqlDatabase& c, int id_usuario, const std::optional<Account>& asRead)
{
    if (!asRead)
        return;
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT usuario, password, nivel FROM usuarios WHERE id_usuario = ?") +
                                  db::forUpdate(c),
                           {id_usuario});
    if (!db::next(q))
        throw db::Changed(QStringLiteral("Otra estación eliminó este registro mientras usted lo editaba: no se "
                                         "guardaron los cambios."), true);
    if (q.value(0).toString() != asRead->usuario || q.value(1).toString() != asRead->password ||
        q.value(2).toInt() != asRead->nivel)
        throw db::Changed(QStringLiteral("Otra estación modificó este registro mientras usted lo editaba: no se "
                                         "guardaron los cambios. Se muestran los datos actuales."), false);
}

} // namespace

void update(const QSqlDatabase& c, const Account& a, const std::optional<Account>& asRead)
{
    checkUnchanged(c, a.id_usuario, asRead);
    expectOne(db::exec(c, QStringLiteral("UPDATE usuarios SET usuario = ?, password = ?, nivel = ? WHERE id_usuario = ?"),
                       {a.usuario, a.password, a.nivel, a.id_usuario}),
              a.id_usuario);
}

void setPassword(const QSqlDatabase& c, int id_usuario, const QString& password, const std::optional<Account>& asRead)
{
    checkUnchanged(c, id_usuario, asRead);
    expectOne(db::exec(c, QStringLiteral("UPDATE usuarios SET password = ? WHERE id_usuario = ?"), {password, id_usuario}),
              id_usuario);
}

void remove(const QSqlDatabase& c, int id_usuario)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("DELETE FROM usuarios WHERE id_usuario = ?"), {id_usuario});
    t.commit();
}

} // namespace users
