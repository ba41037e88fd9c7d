#include "data/schema_upgrade.h"

#include "data/permissions.h"
#include "data/db.h"
#include "data/passwords.h"
#include "data/users_store.h"

#include <QSet>
#include <QSqlQuery>

namespace schema {

namespace {

QSet<QString> columnsOf(const QSqlDatabase& c, const QString& table)
{
    const QStringList names = db::columnNames(c, table);
    return QSet<QString>(names.begin(), names.end());
}

const char* const kTables[] = {
    "abonados", "abonados_valores", "abonados_eventos", "eventos", "paneles", "secciones",
    "secciones_items", "secciones_valores", "configuraciones", "configuraciones_valores", "configuracion",
    "usuarios", "usuarios_operaciones", "operaciones", "provincias", "contactos",
};

// As in schema.sql.
const char* const kJobTables[] = {
    "CREATE TABLE IF NOT EXISTS tareas (id_tarea INTEGER PRIMARY KEY AUTOINCREMENT, nombre TEXT NOT NULL, "
    "acciones TEXT NOT NULL, alcance INTEGER NOT NULL DEFAULT 0, por_filtro INTEGER NOT NULL DEFAULT 0, "
    "filtro_panel INTEGER, filtro_configuracion INTEGER, filtro_desde TEXT, filtro_hasta TEXT, filtro_dias INTEGER, "
    "programa TEXT NOT NULL, ventana TEXT, intentos_seguidos INTEGER NOT NULL DEFAULT 2, "
    "intentos_mas INTEGER NOT NULL DEFAULT 6, espera_minutos INTEGER NOT NULL DEFAULT 10, proxima TEXT, "
    "borrada INTEGER NOT NULL DEFAULT 0, filtro_grupo INTEGER)",
    "CREATE TABLE IF NOT EXISTS tareas_abonados (id_tarea INTEGER NOT NULL REFERENCES tareas(id_tarea) "
    "ON DELETE CASCADE, id_abonado INTEGER NOT NULL, PRIMARY KEY (id_tarea, id_abonado))",
    "CREATE TABLE IF NOT EXISTS tareas_grupos (id_tarea INTEGER NOT NULL REFERENCES tareas(id_tarea) "
    "ON DELETE CASCADE, id_grupo INTEGER NOT NULL, PRIMARY KEY (id_tarea, id_grupo))",
    "CREATE TABLE IF NOT EXISTS tareas_cola (id_cola INTEGER PRIMARY KEY AUTOINCREMENT, id_tarea INTEGER NOT NULL "
    "REFERENCES tareas(id_tarea) ON DELETE CASCADE, corrida TEXT NOT NULL, id_abonado INTEGER NOT NULL, "
    "estado TEXT NOT NULL DEFAULT 'pendiente', intentos INTEGER NOT NULL DEFAULT 0, proximo TEXT NOT NULL, "
    "reclamo TEXT, cerrado TEXT)",
    "CREATE INDEX IF NOT EXISTS tareas_cola_proximo ON tareas_cola(estado, proximo)",
    "CREATE TABLE IF NOT EXISTS tareas_resultados (id_resultado INTEGER PRIMARY KEY AUTOINCREMENT, "
    "id_tarea INTEGER NOT NULL, id_cola INTEGER, "
    "id_abonado INTEGER, intento INTEGER NOT NULL DEFAULT 0, inicio TEXT NOT NULL, fin TEXT NOT NULL, estacion TEXT NOT NULL, "
    "resultado TEXT NOT NULL, detalle TEXT, "
    "eventos INTEGER NOT NULL DEFAULT 0, diferencias INTEGER NOT NULL DEFAULT 0, secciones INTEGER NOT NULL DEFAULT 0, "
    "descarga INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS tareas_resultados_abonado ON tareas_resultados(id_abonado, fin)",
    "CREATE INDEX IF NOT EXISTS tareas_resultados_tarea ON tareas_resultados(id_tarea, id_resultado)",
};

// Profiles, groups and hashed passwords, in one transaction: a file is never
// left with some passwords hashed and others not, nor with the columns but
// without the built-in profiles that give its operators their old rights.
void upgradeAccess(const QSqlDatabase& c)
{
    db::Transaction t(c);
    const QSet<QString> users = columnsOf(c, QStringLiteral("usuarios"));
    if (!users.contains(QStringLiteral("id_perfil")))
        db::exec(c, QStringLiteral("ALTER TABLE usuarios ADD COLUMN id_perfil INTEGER"));
    if (!users.contains(QStringLiteral("bloqueado_hasta")))
        db::exec(c, QStringLiteral("ALTER TABLE usuarios ADD COLUMN bloqueado_hasta TEXT"));
    if (!columnsOf(c, QStringLiteral("abonados")).contains(QStringLiteral("id_grupo")))
        db::exec(c, QStringLiteral("ALTER TABLE abonados ADD COLUMN id_grupo INTEGER"));
    db::exec(c, QStringLiteral("CREATE INDEX IF NOT EXISTS abonados_grupo ON abonados(id_grupo)"));
    if (!columnsOf(c, QStringLiteral("secciones")).contains(QStringLiteral("secreta")))
        db::exec(c, QStringLiteral("ALTER TABLE secciones ADD COLUMN secreta INTEGER NOT NULL DEFAULT 0"));
    db::exec(c, QStringLiteral("CREATE TABLE IF NOT EXISTS perfiles (id_perfil INTEGER PRIMARY KEY, nombre TEXT NOT NULL, "
                               "derechos INTEGER NOT NULL)"));
    db::exec(c, QStringLiteral("CREATE TABLE IF NOT EXISTS grupos (id_grupo INTEGER PRIMARY KEY, codigo TEXT NOT NULL "
                               "UNIQUE, descripcion TEXT NOT NULL)"));
    db::exec(c, QStringLiteral("CREATE TABLE IF NOT EXISTS usuarios_grupos (id_usuario INTEGER NOT NULL, id_grupo "
                               "INTEGER NOT NULL, PRIMARY KEY (id_usuario, id_grupo))"));
    db::exec(c, QStringLiteral("CREATE TABLE IF NOT EXISTS usuarios_fallos (id_usuario INTEGER NOT NULL, "
                               "fecha TEXT NOT NULL, estacion TEXT)"));
    db::exec(c, QStringLiteral("CREATE INDEX IF NOT EXISTS usuarios_fallos_usuario ON usuarios_fallos(id_usuario, fecha)"));
    permissions::addBuiltInProfiles(c);
    // Passwords kept as text by an older station; a hash is never hashed again.
    QList<QPair<int, QString>> plain;
    {
        QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_usuario, password FROM usuarios"));
        while (db::next(q))
            if (!passwords::isHash(q.value(1).toString()))
                plain.append({q.value(0).toInt(), q.value(1).toString()});
    }
    for (const auto& [id, password] : plain)
        db::exec(c, QStringLiteral("UPDATE usuarios SET password = ? WHERE id_usuario = ?"), {passwords::hash(password), id});
    t.commit();
}

// What the station does with passwords on a server, for a role that may
// not read the hashes: the salt and costs of an operator's hash (which say
// nothing of the password), and whether a hash the station made with them
// is the stored one. They run with their owner's rights (the schema's
// owner) and name the schema they were made in: a temporary table of the
// caller's cannot stand in for usuarios. Nobody but the owner may call
// them until sorvent-db gives them to the station's role.
//
// Anyone with the station role's password may call clave_valida, so the
// lockout is its own: it refuses while the operator is locked, counts a
// failure (with the session's station name) and locks at the fifth in the
// window, by the server's clock. The station then counts nothing itself.
void serverPasswordFunctions(const QSqlDatabase& c)
{
    // Made once (and again when it predates the lockout): stations
    // replacing a function at the same time can fail on each other's
    // catalogue row.
    if (db::scalar(c, QStringLiteral("SELECT to_regprocedure('clave_sal(integer)') IS NOT NULL AND "
                                     "coalesce((SELECT prosrc LIKE '%usuarios_fallos%' FROM pg_proc "
                                     "WHERE oid = to_regprocedure('clave_valida(integer, text)')), false)"))
            .toBool())
        return;
    const QString schema = db::scalar(c, QStringLiteral("SELECT quote_ident(current_schema())")).toString();
    db::exec(c, QStringLiteral("CREATE OR REPLACE FUNCTION clave_sal(usuario_id integer) RETURNS text "
                               "LANGUAGE sql STABLE SECURITY DEFINER SET search_path = %1, pg_temp AS $f$ "
                               "SELECT CASE WHEN password LIKE '$argon2id$%' THEN regexp_replace(password, '[^$]+$', '') END "
                               "FROM %1.usuarios WHERE id_usuario = usuario_id $f$")
                    .arg(schema));
    // The row is held until the caller's transaction ends: two sessions
    // guessing at once count every failure.
    db::exec(c, QStringLiteral("CREATE OR REPLACE FUNCTION clave_valida(usuario_id integer, candidata text) RETURNS boolean "
                               "LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = %1, pg_temp AS $f$ "
                               "DECLARE ahora text := to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS'); "
                               "guardada text; hasta text; fallos integer; "
                               "BEGIN "
                               "SELECT password, bloqueado_hasta INTO guardada, hasta FROM %1.usuarios "
                               "WHERE id_usuario = usuario_id FOR UPDATE; "
                               "IF NOT FOUND THEN RETURN false; END IF; "
                               "IF hasta IS NOT NULL AND hasta > ahora THEN RETURN false; END IF; "
                               "IF guardada = candidata THEN "
                               "DELETE FROM %1.usuarios_fallos WHERE id_usuario = usuario_id; "
                               "UPDATE %1.usuarios SET bloqueado_hasta = NULL WHERE id_usuario = usuario_id; "
                               "RETURN true; END IF; "
                               "INSERT INTO %1.usuarios_fallos (id_usuario, fecha, estacion) "
                               "VALUES (usuario_id, ahora, current_setting('application_name')); "
                               "SELECT count(*) INTO fallos FROM %1.usuarios_fallos WHERE id_usuario = usuario_id "
                               "AND fecha > to_char(localtimestamp - interval '%3 minutes', 'YYYY-MM-DD HH24:MI:SS'); "
                               "IF fallos >= %2 THEN "
                               "UPDATE %1.usuarios SET bloqueado_hasta = "
                               "to_char(localtimestamp + interval '%4 minutes', 'YYYY-MM-DD HH24:MI:SS') "
                               "WHERE id_usuario = usuario_id; "
                               "DELETE FROM %1.usuarios_fallos WHERE id_usuario = usuario_id; "
                               "END IF; "
                               "RETURN false; "
                               "END $f$")
                    .arg(schema)
                    .arg(users::FailedLogins)
                    .arg(users::FailWindowMinutes)
                    .arg(users::LockMinutes));
    db::exec(c, QStringLiteral("REVOKE ALL ON FUNCTION clave_sal(integer), clave_valida(integer, text) FROM PUBLIC"));
}

// A station's role on a server may not change the schema: the
// administrator upgrades it with sorvent-db.
bool ownsSchema(const QSqlDatabase& c)
{
    return db::scalar(c, QStringLiteral("SELECT pg_has_role(current_user, relowner, 'USAGE') FROM pg_class "
                                        "WHERE oid = to_regclass('usuarios')"))
        .toBool();
}

} // namespace

void upgrade(const QSqlDatabase& c)
{
    if (db::engine(c) == db::Engine::PostgreSQL && !ownsSchema(c)) {
        if (db::scalar(c, QStringLiteral("SELECT to_regprocedure('clave_valida(integer, text)') IS NULL")).toBool())
            throw db::Error(QStringLiteral("La base de datos del servidor es de una versión anterior del programa: "
                                           "el administrador debe actualizarla con sorvent-db."));
        return;
    }
    upgradeAccess(c);
    const QSet<QString> settings = columnsOf(c, QStringLiteral("configuracion"));
    for (const char* column : {"ip_permitidas", "ip_escucha"})
        if (!settings.contains(QLatin1String(column)))
            db::exec(c, QStringLiteral("ALTER TABLE configuracion ADD COLUMN %1 TEXT").arg(QLatin1String(column)));
    if (!settings.contains(QStringLiteral("verificar_subidas")))
        db::exec(c, QStringLiteral("ALTER TABLE configuracion ADD COLUMN verificar_subidas INTEGER NOT NULL DEFAULT 1"));
    if (!settings.contains(QStringLiteral("tareas_estacion")))
        db::exec(c, QStringLiteral("ALTER TABLE configuracion ADD COLUMN tareas_estacion INTEGER NOT NULL DEFAULT 0"));
    if (!settings.contains(QStringLiteral("dias_atencion")))
        db::exec(c, QStringLiteral("ALTER TABLE configuracion ADD COLUMN dias_atencion INTEGER NOT NULL DEFAULT 7"));
    db::exec(c, QStringLiteral("CREATE INDEX IF NOT EXISTS abonados_eventos_orden ON abonados_eventos(id_abonado, orden)"));
    if (!db::tableNames(c).contains(QStringLiteral("abonados_imagen")))
        db::exec(c, db::schemaDialect(c, QStringLiteral("CREATE TABLE abonados_imagen (id_abonado INTEGER PRIMARY KEY "
                                                        "REFERENCES abonados(id_abonado) ON DELETE CASCADE, fecha TEXT NOT "
                                                        "NULL, memoria BLOB NOT NULL, conocida BLOB NOT NULL)")));
    db::exec(c, QStringLiteral("CREATE TABLE IF NOT EXISTS configuracion_estaciones (estacion TEXT PRIMARY KEY, "
                               "modem_port INTEGER NOT NULL, modem_mode TEXT NOT NULL, ip_port INTEGER NOT NULL, "
                               "ip_permitidas TEXT, ip_escucha TEXT)"));
    if (!columnsOf(c, QStringLiteral("configuracion_estaciones")).contains(QStringLiteral("tareas_estacion")))
        db::exec(c, QStringLiteral("ALTER TABLE configuracion_estaciones ADD COLUMN tareas_estacion INTEGER NOT NULL DEFAULT 0"));
    // The value history: a file from before it starts with an empty one.
    db::exec(c, QStringLiteral("CREATE TABLE IF NOT EXISTS valores_historial (id_historial INTEGER PRIMARY KEY, "
                               "fecha TEXT NOT NULL, id_abonado INTEGER, id_configuracion INTEGER, "
                               "id_panel INTEGER NOT NULL, id_seccion INTEGER NOT NULL, id_item INTEGER NOT NULL, "
                               "valor_anterior TEXT, valor_nuevo TEXT, origen TEXT NOT NULL, id_usuario INTEGER, "
                               "borrado INTEGER NOT NULL DEFAULT 0)"));
    db::exec(c, QStringLiteral("CREATE INDEX IF NOT EXISTS valores_historial_abonado "
                               "ON valores_historial(id_abonado, fecha) WHERE id_abonado IS NOT NULL"));
    db::exec(c, QStringLiteral("CREATE INDEX IF NOT EXISTS valores_historial_configuracion "
                               "ON valores_historial(id_configuracion, id_panel, fecha) WHERE id_configuracion IS NOT NULL"));
    // The job queue: a file from before it starts with none.
    for (const char* table : kJobTables)
        db::exec(c, db::schemaDialect(c, QLatin1String(table)));
    // A queue from before jobs by group.
    if (!columnsOf(c, QStringLiteral("tareas")).contains(QStringLiteral("filtro_grupo")))
        db::exec(c, QStringLiteral("ALTER TABLE tareas ADD COLUMN filtro_grupo INTEGER"));
    if (db::engine(c) == db::Engine::PostgreSQL)
        serverPasswordFunctions(c);
}

QStringList missingTables(const QSqlDatabase& c)
{
    const QStringList names = db::tableNames(c);
    const QSet<QString> present(names.begin(), names.end());
    QStringList missing;
    for (const char* t : kTables)
        if (!present.contains(QLatin1String(t)))
            missing << QLatin1String(t);
    return missing;
}

bool hasNoTables(const QSqlDatabase& c)
{
    return missingTables(c).size() == int(std::size(kTables));
}

} // namespace schema
