#include "data/permissions.h"

#include "data/db.h"
#include "data/shared_ops.h"

#include <QSqlQuery>

namespace permissions {

QString caption(Right r)
{
    switch (r) {
    case Right::VerCodigos: return QStringLiteral("Ver códigos");
    case Right::Programar: return QStringLiteral("Programar el panel");
    case Right::Bajar: return QStringLiteral("Bajar del panel");
    case Right::EditarAbonados: return QStringLiteral("Editar abonados");
    case Right::EditarPlantillas: return QStringLiteral("Editar plantillas");
    case Right::Imprimir: return QStringLiteral("Imprimir y exportar");
    case Right::Usuarios: return QStringLiteral("Administrar usuarios");
    case Right::Borrar: return QStringLiteral("Borrar registros e historial");
    case Right::Parametros: return QStringLiteral("Parámetros");
    case Right::Tareas: return QStringLiteral("Tareas");
    }
    return QString();
}

Rights levelRights(int level)
{
    if (level == 1)
        return (Rights(1) << RightCount) - 1;
    // Level 3 could look subscribers up, arm, download events and print their
    // record (its console lists no sections to read or print); level 2 could
    // besides change subscribers and program and read panels.
    Rights r = bit(Right::VerCodigos) | bit(Right::Imprimir) | bit(Right::Bajar);
    if (level == 2)
        r |= bit(Right::Programar) | bit(Right::EditarAbonados) | bit(Right::Tareas);
    return r;
}

QString hiddenText()
{
    return QStringLiteral("••••");
}

bool hides(Rights rights, bool secret)
{
    return secret && !has(rights, Right::VerCodigos);
}

QString shown(Rights rights, bool secret, const QString& value)
{
    return hides(rights, secret) ? hiddenText() : value;
}

void addBuiltInProfiles(const QSqlDatabase& c)
{
    for (int level = 1; level <= 3; ++level)
        db::exec(c, QStringLiteral("INSERT INTO perfiles (id_perfil, nombre, derechos) VALUES (?, ?, ?) "
                                   "ON CONFLICT (id_perfil) DO NOTHING"),
                 {level, QStringLiteral("Nivel %1").arg(level), levelRights(level)});
}

QList<Profile> profiles(const QSqlDatabase& c)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_perfil, nombre, derechos FROM perfiles ORDER BY id_perfil"));
    QList<Profile> out;
    while (db::next(q))
        out.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()});
    return out;
}

std::optional<Profile> profile(const QSqlDatabase& c, int id_perfil)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_perfil, nombre, derechos FROM perfiles WHERE id_perfil = ?"),
                           {id_perfil});
    if (!db::next(q))
        return std::nullopt;
    return Profile{q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()};
}

int administrators(const QSqlDatabase& c, int except, int asProfile)
{
    // An operator without a profile of its own has the built-in one of its level.
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT u.id_usuario, COALESCE(u.id_perfil, u.nivel), p.derechos "
                                             "FROM usuarios u LEFT JOIN perfiles p "
                                             "ON p.id_perfil = COALESCE(u.id_perfil, u.nivel)"));
    int n = 0;
    while (db::next(q)) {
        const int id = q.value(0).toInt();
        if (id == except) {
            if (asProfile > 0) {
                if (const auto p = profile(c, asProfile); p && has(p->derechos, Right::Usuarios))
                    ++n;
            }
            continue;
        }
        if (has(q.value(2).toInt(), Right::Usuarios))
            ++n;
    }
    return n;
}

int saveProfile(const QSqlDatabase& c, const Profile& p)
{
    const QString name = p.nombre.trimmed();
    if (p.id_perfil >= 1 && p.id_perfil <= 3)
        throw db::Error(QStringLiteral("Los perfiles de los niveles 1, 2 y 3 no se pueden cambiar."));
    if (name.isEmpty())
        throw db::Error(QStringLiteral("El perfil debe tener un nombre."));
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_perfil, nombre FROM perfiles"));
    while (db::next(q))
        if (q.value(0).toInt() != p.id_perfil && db::fold(q.value(1).toString()) == db::fold(name))
            throw db::Error(QStringLiteral("Ya existe otro perfil con el nombre %1.").arg(name));
    if (p.id_perfil <= 0) {
        const int id = nextKey(c, QStringLiteral("perfiles"), QStringLiteral("id_perfil"), 4);
        db::exec(c, QStringLiteral("INSERT INTO perfiles (id_perfil, nombre, derechos) VALUES (?, ?, ?)"),
                 {id, name, p.derechos});
        return id;
    }
    db::exec(c, QStringLiteral("UPDATE perfiles SET nombre = ?, derechos = ? WHERE id_perfil = ?"),
             {name, p.derechos, p.id_perfil});
    if (administrators(c) == 0)
        throw db::Error(QStringLiteral("Nadie podría administrar los usuarios: el perfil debe conservar el "
                                       "derecho \"Administrar usuarios\"."));
    return p.id_perfil;
}

void removeProfile(const QSqlDatabase& c, int id_perfil)
{
    if (id_perfil <= 3)
        throw db::Error(QStringLiteral("Los perfiles de los niveles 1, 2 y 3 no se pueden borrar."));
    const int used = db::scalar(c, QStringLiteral("SELECT count(*) FROM usuarios WHERE id_perfil = ?"), {id_perfil}).toInt();
    if (used > 0)
        throw db::Error(QStringLiteral("El perfil lo tienen %1 usuario(s): no se puede borrar.").arg(used));
    db::exec(c, QStringLiteral("DELETE FROM perfiles WHERE id_perfil = ?"), {id_perfil});
}

QList<Group> groups(const QSqlDatabase& c)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_grupo, codigo, descripcion FROM grupos ORDER BY codigo"));
    QList<Group> out;
    while (db::next(q))
        out.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString()});
    return out;
}

int saveGroup(const QSqlDatabase& c, const Group& g)
{
    const QString code = g.codigo.trimmed().toUpper();
    if (code.isEmpty())
        throw db::Error(QStringLiteral("El grupo debe tener un código."));
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_grupo, codigo FROM grupos"));
    while (db::next(q))
        if (q.value(0).toInt() != g.id_grupo && db::fold(q.value(1).toString()) == db::fold(code))
            throw db::Error(QStringLiteral("Ya existe otro grupo con el código %1.").arg(code));
    if (g.id_grupo <= 0) {
        const int id = nextKey(c, QStringLiteral("grupos"), QStringLiteral("id_grupo"), 1);
        db::exec(c, QStringLiteral("INSERT INTO grupos (id_grupo, codigo, descripcion) VALUES (?, ?, ?)"),
                 {id, code, g.descripcion.trimmed()});
        return id;
    }
    db::exec(c, QStringLiteral("UPDATE grupos SET codigo = ?, descripcion = ? WHERE id_grupo = ?"),
             {code, g.descripcion.trimmed(), g.id_grupo});
    return g.id_grupo;
}

void removeGroup(const QSqlDatabase& c, int id_grupo)
{
    const int used = db::scalar(c, QStringLiteral("SELECT count(*) FROM abonados WHERE id_grupo = ?"), {id_grupo}).toInt();
    if (used > 0)
        throw db::Error(QStringLiteral("El grupo tiene %1 abonado(s): no se puede borrar.").arg(used));
    // The operators limited to it keep the limit: they see no subscriber of
    // it rather than every subscriber.
    db::exec(c, QStringLiteral("DELETE FROM grupos WHERE id_grupo = ?"), {id_grupo});
}

Grant grantOf(const QSqlDatabase& c, int id_usuario)
{
    Grant g;
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT p.derechos FROM usuarios u JOIN perfiles p "
                                             "ON p.id_perfil = COALESCE(u.id_perfil, u.nivel) WHERE u.id_usuario = ?"),
                           {id_usuario});
    if (db::next(q))
        g.rights = q.value(0).toInt();
    QSqlQuery gq = db::exec(c, QStringLiteral("SELECT ug.id_grupo, g.id_grupo FROM usuarios_grupos ug "
                                              "LEFT JOIN grupos g ON g.id_grupo = ug.id_grupo WHERE ug.id_usuario = ?"),
                            {id_usuario});
    while (db::next(gq)) {
        g.limited = true;
        if (gq.value(1).isNull())
            ++g.lostGroups;
        else
            ++g.keptGroups;
    }
    return g;
}

QList<int> operatorGroups(const QSqlDatabase& c, int id_usuario)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_grupo FROM usuarios_grupos WHERE id_usuario = ? ORDER BY id_grupo"),
                           {id_usuario});
    QList<int> out;
    while (db::next(q))
        out << q.value(0).toInt();
    return out;
}

void setOperatorGroups(const QSqlDatabase& c, int id_usuario, const QList<int>& groups)
{
    db::exec(c, QStringLiteral("DELETE FROM usuarios_grupos WHERE id_usuario = ?"), {id_usuario});
    for (int g : groups)
        db::exec(c, QStringLiteral("INSERT INTO usuarios_grupos (id_usuario, id_grupo) VALUES (?, ?)"), {id_usuario, g});
}

QString groupCondition(const QString& alias)
{
    // No rows for the operator: every subscriber. Rows: only those groups
    // (a subscriber of no group is not in them).
    return QStringLiteral("(NOT EXISTS (SELECT 1 FROM usuarios_grupos ug WHERE ug.id_usuario = ?) OR %1.id_grupo IN "
                          "(SELECT ug.id_grupo FROM usuarios_grupos ug WHERE ug.id_usuario = ?))")
        .arg(alias);
}

QVariantList groupBinds(int id_usuario)
{
    return {id_usuario, id_usuario};
}

QString outsideGroupsText(int id_abonado)
{
    return QStringLiteral("El abonado %1 no pertenece a los grupos de abonados con los que usted puede trabajar.")
        .arg(id_abonado);
}

bool maySee(const QSqlDatabase& c, int id_usuario, int id_abonado)
{
    QVariantList binds{id_abonado};
    binds << groupBinds(id_usuario);
    return db::scalar(c, QStringLiteral("SELECT count(*) FROM abonados a WHERE a.id_abonado = ? AND ") + groupCondition(QStringLiteral("a")),
                      binds).toInt() > 0;
}

QSet<int> secretSections(const QSqlDatabase& c, int id_panel)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT s.id_seccion FROM secciones s JOIN paneles p ON p.id_panel = s.id_panel "
                                             "WHERE s.id_panel = ? AND (s.secreta = 1 OR s.id_seccion = p.id_seccionpwd)"),
                           {id_panel});
    QSet<int> out;
    while (db::next(q))
        out.insert(q.value(0).toInt());
    return out;
}

} // namespace permissions
