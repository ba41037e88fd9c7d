#include "data/users_store.h"

#include "data/permissions.h"
#include "data/db.h"
#include "data/passwords.h"
#include "data/shared_ops.h"

#include <QHash>
#include <QSet>
#include <QSqlQuery>

namespace users {

namespace {

Account read(const QSqlQuery& q)
{
    return {db::integer(q, "id_usuario"), db::text(q, "usuario"), db::text(q, "password"), db::integer(q, "nivel"),
            db::integer(q, "id_perfil")};
}

QString stamp(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void keepAnAdministrator(const QSqlDatabase& c)
{
    if (permissions::administrators(c) == 0)
        throw db::Error(QStringLiteral("Debe quedar al menos un usuario que pueda administrar los usuarios."));
}

QString hashed(const QString& password)
{
    return passwords::hash(password);
}

// On a server the station's role may not read the hashes (sorvent-db
// gives it no grant on that column): it reads the salt and costs through
// clave_sal and has the server compare the hash it makes with them.
QString passwordColumn(const QSqlDatabase& c)
{
    return db::engine(c) == db::Engine::SQLite ? QStringLiteral("password")
                                                 : QStringLiteral("clave_sal(id_usuario) AS password");
}

// `counted`: the server counted a failure itself (clave_valida does, and
// locks), so the station must not count it again.
bool passwordMatches(const QSqlDatabase& c, const Account& a, const QString& password, bool& counted)
{
    counted = false;
    if (db::engine(c) == db::Engine::SQLite)
        return passwords::verify(a.password, password);
    const QString candidate = passwords::hashWithSalt(a.password, password);
    if (candidate.isEmpty())
        return false;
    counted = true;
    return db::scalar(c, QStringLiteral("SELECT clave_valida(?, ?)"), {a.id_usuario, candidate}).toBool();
}

void expectOne(const QSqlQuery& q, int id_usuario)
{
    if (q.numRowsAffected() != 1)
        throw db::Error(QStringLiteral("El usuario %1 no existe").arg(id_usuario));
}

} // namespace

std::optional<Account> find(const QSqlDatabase& c, int id_usuario)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_usuario, usuario, %1, nivel, id_perfil FROM usuarios "
                                             "WHERE id_usuario = ?").arg(passwordColumn(c)),
                           {id_usuario});
    if (!db::next(q))
        return std::nullopt;
    return read(q);
}

Login login(const QSqlDatabase& c, const QString& usuario, const QString& password, const QDateTime& now,
            const QString& station)
{
    Login out;
    db::Transaction t(c);
    // Folded in the program: SQLite's NOCASE knows no letters beyond ASCII.
    QList<Account> named;
    QHash<int, QString> lockBefore;
    {
        QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_usuario, usuario, %1, nivel, id_perfil, bloqueado_hasta "
                                                 "FROM usuarios ORDER BY id_usuario").arg(passwordColumn(c)));
        const QString u = db::fold(usuario);
        while (db::next(q)) {
            if (db::fold(db::text(q, "usuario")) != u)
                continue;
            const QString until = db::text(q, "bloqueado_hasta");
            if (!until.isEmpty() && until > stamp(now)) {
                // Locked: the password is not even looked at.
                out.lockedUntil = QDateTime::fromString(until, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                out.lockedAccount = db::integer(q, "id_usuario");
                return out;
            }
            named << read(q);
            lockBefore.insert(named.last().id_usuario, until);
        }
    }
    QSet<int> counted;
    for (const Account& a : named) {
        bool byServer = false;
        const bool matches = passwordMatches(c, a, password, byServer);
        if (byServer)
            counted << a.id_usuario;
        if (matches) {
            db::exec(c, QStringLiteral("DELETE FROM usuarios_fallos WHERE id_usuario = ?"), {a.id_usuario});
            db::exec(c, QStringLiteral("UPDATE usuarios SET bloqueado_hasta = NULL WHERE id_usuario = ?"), {a.id_usuario});
            t.commit();
            out.account = a;
            return out;
        }
    }
    // A wrong password counts against every account of that name (one, as
    // the users window keeps them).
    for (const Account& a : named) {
        if (counted.contains(a.id_usuario)) {
            // Counted by the server: whether that locked the operator.
            const QString until = db::scalar(c, QStringLiteral("SELECT bloqueado_hasta FROM usuarios WHERE id_usuario = ?"),
                                             {a.id_usuario}).toString();
            if (!until.isEmpty() && until != lockBefore.value(a.id_usuario)) {
                out.lockedUntil = QDateTime::fromString(until, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                out.lockedNow = true;
                out.lockedAccount = a.id_usuario;
            }
            continue;
        }
        db::exec(c, QStringLiteral("INSERT INTO usuarios_fallos (id_usuario, fecha, estacion) VALUES (?, ?, ?)"),
                 {a.id_usuario, stamp(now), station});
        const int failed = db::scalar(c, QStringLiteral("SELECT count(*) FROM usuarios_fallos WHERE id_usuario = ? AND fecha > ?"),
                                      {a.id_usuario, stamp(now.addSecs(-60 * FailWindowMinutes))})
                               .toInt();
        if (failed >= FailedLogins) {
            out.lockedUntil = now.addSecs(60 * LockMinutes);
            out.lockedNow = true;
            out.lockedAccount = a.id_usuario;
            db::exec(c, QStringLiteral("UPDATE usuarios SET bloqueado_hasta = ? WHERE id_usuario = ?"),
                     {stamp(out.lockedUntil), a.id_usuario});
            // After the wait the count starts again.
            db::exec(c, QStringLiteral("DELETE FROM usuarios_fallos WHERE id_usuario = ?"), {a.id_usuario});
        }
    }
    t.commit();
    return out;
}

int levelOfProfile(const QSqlDatabase& c, int id_perfil)
{
    if (id_perfil >= 1 && id_perfil <= 3)
        return id_perfil;
    const auto p = permissions::profile(c, id_perfil);
    if (!p)
        throw db::Error(QStringLiteral("El perfil %1 no existe").arg(id_perfil));
    if (permissions::has(p->derechos, permissions::Right::Usuarios))
        return 1;
    return permissions::has(p->derechos, permissions::Right::Programar) ? 2 : 3;
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
    db::exec(c, QStringLiteral("INSERT INTO usuarios (id_usuario, usuario, password, nivel, id_perfil) VALUES (?, ?, ?, ?, ?)"),
             {id, a.usuario, hashed(a.password), a.nivel, a.id_perfil > 0 ? QVariant(a.id_perfil) : QVariant()});
    return id;
}

namespace {

// Read again and kept from other stations' changes until the caller commits.
void checkUnchanged(const QSqlDatabase& c, int id_usuario, const std::optional<Account>& asRead)
{
    if (!asRead)
        return;
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT usuario, %1, nivel, id_perfil FROM usuarios WHERE id_usuario = ?").arg(passwordColumn(c)) +
                                  db::forUpdate(c),
                           {id_usuario});
    if (!db::next(q))
        throw db::Changed(QStringLiteral("Otra estación eliminó este registro mientras usted lo editaba: no se "
                                         "guardaron los cambios."), true);
    if (q.value(0).toString() != asRead->usuario || q.value(1).toString() != asRead->password ||
        q.value(2).toInt() != asRead->nivel || q.value(3).toInt() != asRead->id_perfil)
        throw db::Changed(QStringLiteral("Otra estación modificó este registro mientras usted lo editaba: no se "
                                         "guardaron los cambios. Se muestran los datos actuales."), false);
}

} // namespace

void update(const QSqlDatabase& c, const Account& a, const std::optional<Account>& asRead)
{
    checkUnchanged(c, a.id_usuario, asRead);
    expectOne(db::exec(c, QStringLiteral("UPDATE usuarios SET usuario = ?, nivel = ?, id_perfil = ? WHERE id_usuario = ?"),
                       {a.usuario, a.nivel, a.id_perfil > 0 ? QVariant(a.id_perfil) : QVariant(), a.id_usuario}),
              a.id_usuario);
    if (!a.password.isEmpty())
        db::exec(c, QStringLiteral("UPDATE usuarios SET password = ? WHERE id_usuario = ?"), {hashed(a.password), a.id_usuario});
    keepAnAdministrator(c);
}

void setPassword(const QSqlDatabase& c, int id_usuario, const QString& password, const std::optional<Account>& asRead)
{
    checkUnchanged(c, id_usuario, asRead);
    expectOne(db::exec(c, QStringLiteral("UPDATE usuarios SET password = ? WHERE id_usuario = ?"),
                       {hashed(password), id_usuario}),
              id_usuario);
}

void remove(const QSqlDatabase& c, int id_usuario)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("DELETE FROM usuarios WHERE id_usuario = ?"), {id_usuario});
    db::exec(c, QStringLiteral("DELETE FROM usuarios_grupos WHERE id_usuario = ?"), {id_usuario});
    db::exec(c, QStringLiteral("DELETE FROM usuarios_fallos WHERE id_usuario = ?"), {id_usuario});
    keepAnAdministrator(c);
    t.commit();
}

} // namespace users
