#include "data/copy_store.h"

#include "data/db.h"
#include "data/text_rules.h"
#include "data/schema_upgrade.h"

#include <QSqlError>

namespace copy_store {

namespace {

// Parents before the rows that refer to them. The last ones came with later
// stations: a file from before them has none to copy.
const char* const kOrder[] = {
    "provincias", "contactos", "operaciones", "usuarios", "paneles", "secciones", "secciones_items",
    "secciones_valores", "eventos", "configuraciones", "configuraciones_valores", "configuracion",
    "abonados", "abonados_valores", "abonados_eventos", "usuarios_operaciones", "abonados_imagen",
    "valores_historial", "configuracion_estaciones", "tareas", "tareas_abonados", "tareas_grupos", "tareas_cola",
    "tareas_resultados",
    "perfiles", "grupos", "usuarios_grupos", "usuarios_fallos",
};

// The tables of kOrder that `source` has, in that order.
QStringList tablesToCopy(const QSqlDatabase& source)
{
    const QStringList present = db::tableNames(source);
    QStringList tables;
    for (const char* t : kOrder)
        if (present.contains(QLatin1String(t)))
            tables << QLatin1String(t);
    return tables;
}

// Rows per INSERT: fewer round trips to the server.
constexpr int kRowsPerInsert = 200;

QString quoted(const QString& column)
{
    return QLatin1Char('"') + column + QLatin1Char('"');
}

qint64 countOf(const QSqlDatabase& c, const QString& table)
{
    return db::scalar(c, QStringLiteral("SELECT count(*) FROM %1").arg(table)).toLongLong();
}

void insertRows(const QSqlDatabase& target, const QString& table, const QStringList& columns,
                const QVariantList& values)
{
    const int rows = int(values.size() / columns.size());
    const QString one = QLatin1Char('(') + QStringList(columns.size(), QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')');
    QStringList quotedColumns;
    for (const QString& c : columns)
        quotedColumns << quoted(c);
    db::exec(target,
             QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                 .arg(table, quotedColumns.join(QStringLiteral(", ")), QStringList(rows, one).join(QStringLiteral(", "))),
             values);
}

void copyTable(const QSqlDatabase& source, const QSqlDatabase& target, const QString& table, const Progress& progress)
{
    // Columns both have: an older file may lack some, which then keep their defaults.
    const QStringList there = db::columnNames(target, table);
    QStringList columns;
    for (const QString& c : db::columnNames(source, table))
        if (there.contains(c))
            columns << c;
    QStringList quotedColumns;
    for (const QString& c : columns)
        quotedColumns << quoted(c);
    const qint64 total = countOf(source, table);
    QSqlQuery q = db::exec(source, QStringLiteral("SELECT %1 FROM %2").arg(quotedColumns.join(QStringLiteral(", ")), table));
    QVariantList batch;
    qint64 done = 0;
    while (db::next(q)) {
        for (int i = 0; i < columns.size(); ++i) {
            QVariant v = q.value(i);
            // Controls typed into an older station stay behind; only the
            // notes keep their line breaks.
            if (v.typeId() == QMetaType::QString && !v.isNull())
                v = textrules::withoutControls(v.toString(), columns.at(i) == QLatin1String("observaciones"));
            batch << v;
        }
        if (batch.size() == columns.size() * kRowsPerInsert) {
            insertRows(target, table, columns, batch);
            done += kRowsPerInsert;
            batch.clear();
            if (progress)
                progress(table, done, total);
        }
    }
    if (!batch.isEmpty()) {
        insertRows(target, table, columns, batch);
        done += batch.size() / columns.size();
    }
    if (progress)
        progress(table, done, total);
}

} // namespace

QList<TableCount> copyStation(const QSqlDatabase& source, const QSqlDatabase& target, const Progress& progress)
{
    if (const QStringList present = db::tableNames(target); !present.isEmpty())
        throw db::Error(QStringLiteral("La base de datos de destino no está vacía (tiene la tabla %1): "
                                       "solo se copia a una base de datos sin tablas.").arg(present.first()));
    if (const QStringList missing = schema::missingTables(source); !missing.isEmpty())
        throw db::Error(QStringLiteral("El origen no es una base de datos de la estación (falta %1)")
                            .arg(missing.join(QStringLiteral(", "))));
    const QStringList tables = tablesToCopy(source);
    {
        db::Transaction t(target);
        db::createSchema(target);
        for (const QString& table : tables)
            copyTable(source, target, table, progress);
        // The copied event numbers are kept: the server's own numbering
        // goes on after the highest.
        db::exec(target, QStringLiteral("SELECT setval(pg_get_serial_sequence('abonados_eventos', 'orden'), "
                                        "COALESCE(max(orden), 0) + 1, false) FROM abonados_eventos"));
        for (const auto& [table, column] : {std::pair{"tareas", "id_tarea"}, std::pair{"tareas_cola", "id_cola"},
                                            std::pair{"tareas_resultados", "id_resultado"}})
            db::exec(target, QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', '%2'), COALESCE(max(%2), 0) + 1, "
                                            "false) FROM %1").arg(QLatin1String(table), QLatin1String(column)));
        t.commit();
    }
    QList<TableCount> counts;
    QStringList differ;
    for (const QString& name : tables) {
        counts.append({name, countOf(source, name), countOf(target, name)});
        if (counts.last().source != counts.last().target)
            differ << name;
    }
    if (!differ.isEmpty())
        throw db::Error(QStringLiteral("El número de filas no coincide en %1").arg(differ.join(QStringLiteral(", "))));
    return counts;
}

} // namespace copy_store
