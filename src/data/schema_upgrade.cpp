#include "data/schema_upgrade.h"

#include "data/db.h"

#include <QSet>

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

} // namespace

void upgrade(const QSqlDatabase& c)
{
    const QSet<QString> settings = columnsOf(c, QStringLiteral("configuracion"));
    for (const char* column : {"ip_permitidas", "ip_escucha"})
        if (!settings.contains(QLatin1String(column)))
            db::exec(c, QStringLiteral("ALTER TABLE configuracion ADD COLUMN %1 TEXT").arg(QLatin1String(column)));
    db::exec(c, QStringLiteral("CREATE INDEX IF NOT EXISTS abonados_eventos_orden ON abonados_eventos(id_abonado, orden)"));
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
