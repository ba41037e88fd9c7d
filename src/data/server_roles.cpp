#include "data/server_roles.h"

#include "data/db.h"
#include "data/schema_upgrade.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QStringList>

namespace server_roles {

bool validRoleName(const QString& role)
{
    static const QRegularExpression name(QStringLiteral("^[a-z_][a-z0-9_]{0,62}$"));
    return name.match(role).hasMatch();
}

bool grantStation(const QSqlDatabase& c, const QString& role)
{
    if (db::engine(c) != db::Engine::PostgreSQL)
        throw db::Error(QStringLiteral("Los roles solo existen en un servidor PostgreSQL"));
    if (!validRoleName(role))
        throw db::Error(QStringLiteral("El nombre del rol «%1» no es válido: use minúsculas, dígitos y «_»").arg(role));
    if (db::scalar(c, QStringLiteral("SELECT to_regclass('usuarios') IS NULL")).toBool())
        throw db::Error(QStringLiteral("La base de datos no tiene las tablas de la estación"));
    if (db::scalar(c, QStringLiteral("SELECT NOT pg_has_role(current_user, (SELECT relowner FROM pg_class WHERE oid = "
                                     "to_regclass('usuarios')), 'USAGE')"))
            .toBool())
        throw db::Error(QStringLiteral("El usuario del archivo INI no es el dueño de las tablas de la estación"));
    schema::upgrade(c);
    db::Transaction t(c);
    bool created = false;
    QSqlQuery r = db::exec(c, QStringLiteral("SELECT rolsuper, pg_has_role(rolname, current_user, 'USAGE') FROM pg_roles "
                                             "WHERE rolname = ?"),
                           {role});
    if (db::next(r)) {
        if (r.value(0).toBool() || r.value(1).toBool())
            throw db::Error(QStringLiteral("El rol «%1» es superusuario o actúa como el administrador: no puede ser el "
                                           "rol de las estaciones")
                                .arg(role));
    } else {
        db::exec(c, QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
        created = true;
    }
    const QString schema = db::scalar(c, QStringLiteral("SELECT quote_ident(current_schema())")).toString();
    // Nobody but the owner creates in the schema (older servers let every
    // role do so); only the schema's owner may take that away.
    if (db::scalar(c, QStringLiteral("SELECT pg_has_role(current_user, nspowner, 'USAGE') FROM pg_namespace "
                                     "WHERE nspname = current_schema()"))
            .toBool())
        db::exec(c, QStringLiteral("REVOKE CREATE ON SCHEMA %1 FROM PUBLIC").arg(schema));
    const QString sql[] = {
        QStringLiteral("REVOKE ALL ON SCHEMA %1 FROM %2"),
        QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2"),
        QStringLiteral("REVOKE ALL ON ALL TABLES IN SCHEMA %1 FROM %2"),
        QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA %1 TO %2"),
        QStringLiteral("REVOKE ALL ON ALL SEQUENCES IN SCHEMA %1 FROM %2"),
        QStringLiteral("GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA %1 TO %2"),
        QStringLiteral("ALTER DEFAULT PRIVILEGES IN SCHEMA %1 GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO %2"),
        QStringLiteral("ALTER DEFAULT PRIVILEGES IN SCHEMA %1 GRANT USAGE, SELECT, UPDATE ON SEQUENCES TO %2"),
        // The hashes: written, never read.
        QStringLiteral("REVOKE SELECT ON %1.usuarios FROM %2"),
        QStringLiteral("GRANT EXECUTE ON FUNCTION %1.clave_sal(integer), %1.clave_valida(integer, text) TO %2"),
    };
    for (const QString& s : sql)
        db::exec(c, s.arg(schema, role));
    QStringList readable;
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT quote_ident(attname) FROM pg_attribute WHERE attrelid = "
                                             "to_regclass('usuarios') AND attnum > 0 AND NOT attisdropped AND "
                                             "attname <> 'password' ORDER BY attnum"));
    while (db::next(q))
        readable << q.value(0).toString();
    db::exec(c, QStringLiteral("GRANT SELECT (%1) ON %2.usuarios TO %3").arg(readable.join(QStringLiteral(", ")), schema, role));
    if (db::scalar(c, QStringLiteral("SELECT has_schema_privilege(?, current_schema(), 'CREATE')"), {role}).toBool())
        throw db::Error(QStringLiteral("El esquema %1 deja crear tablas a todos los roles: su dueño debe quitarlo "
                                       "(REVOKE CREATE ON SCHEMA %1 FROM PUBLIC)")
                            .arg(schema));
    t.commit();
    return created;
}

} // namespace server_roles
