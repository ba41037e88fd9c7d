#include "data/catalogue_export_store.h"

#include "data/db.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace export_store {

namespace {

// The update file carries the catalogue tables with their keys only: no
// foreign keys (configuration 1 itself is not shipped) and no NOT NULL, so
// that the station, not the file, judges what it accepts.
const char* const kUpdateSchema[] = {
    "CREATE TABLE paneles (id_panel INTEGER PRIMARY KEY, codigo TEXT, version TEXT, cadena TEXT, "
    "id_seccionpwd INTEGER)",
    "CREATE TABLE secciones (id_panel INTEGER, id_seccion INTEGER, tipo INTEGER, long INTEGER, "
    "caracteres INTEGER, posicion INTEGER, descripcion TEXT, filler TEXT, secreta INTEGER, PRIMARY KEY (id_panel, id_seccion))",
    "CREATE TABLE secciones_valores (id_panel INTEGER, id_seccion INTEGER, id_valor TEXT, descripcion TEXT, "
    "PRIMARY KEY (id_panel, id_seccion, id_valor))",
    "CREATE TABLE secciones_items (id_panel INTEGER, id_seccion INTEGER, id_item INTEGER, descripcion TEXT, "
    "PRIMARY KEY (id_panel, id_seccion, id_item))",
    "CREATE TABLE configuraciones_valores (id_configuracion INTEGER, id_panel INTEGER, id_seccion INTEGER, "
    "id_item INTEGER, valor TEXT, id_estado INTEGER, PRIMARY KEY (id_configuracion, id_panel, id_seccion, id_item))",
};

struct Copy {
    const char* table;
    const char* columns;
    const char* order;
    const char* extraWhere;
};

const Copy kCopies[] = {
    {"paneles", "id_panel, codigo, version, cadena, id_seccionpwd", "id_panel", ""},
    {"secciones", "id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler, secreta",
     "id_panel, id_seccion", ""},
    {"secciones_valores", "id_panel, id_seccion, id_valor, descripcion", "id_panel, id_seccion, id_valor", ""},
    {"secciones_items", "id_panel, id_seccion, id_item, descripcion", "id_panel, id_seccion, id_item", ""},
    {"configuraciones_valores", "id_configuracion, id_panel, id_seccion, id_item, valor, id_estado",
     "id_panel, id_seccion, id_item", " AND id_configuracion = 1"},
};

} // namespace

ExportCounts exportCatalogue(const QString& stationFile, const QString& updateFile, const QList<int>& panels)
{
    if (!QFileInfo::exists(stationFile))
        throw db::Error(QStringLiteral("No existe la base de datos %1").arg(stationFile));
    if (QFileInfo::exists(updateFile))
        throw db::Error(QStringLiteral("El archivo %1 ya existe").arg(updateFile));

    const QString name = QStringLiteral("sorvent-exportar-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    ExportCounts counts;
    bool written = false;
    try {
        {
            // Made owner-only before a byte is in it, as every file the
            // station writes; SQLite takes an empty file as an empty database.
            QFile created(updateFile);
            if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
                throw db::Error(QStringLiteral("No se pudo crear el archivo %1").arg(updateFile));
            written = true;
            created.close();
            QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            c.setDatabaseName(updateFile);
            if (!c.open())
                throw db::Error(QStringLiteral("No se pudo crear el archivo %1").arg(updateFile));
            written = true;
            db::exec(c, QStringLiteral("ATTACH DATABASE ? AS estacion"), {stationFile});
            // A file that is not a station database fails here.
            db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM estacion.paneles"));

            db::Transaction t(c);
            for (const char* sql : kUpdateSchema)
                db::exec(c, QString::fromLatin1(sql));
            db::exec(c, QStringLiteral("CREATE TEMP TABLE exportar (id_panel INTEGER PRIMARY KEY)"));
            if (panels.isEmpty()) {
                db::exec(c, QStringLiteral("INSERT INTO temp.exportar (id_panel) SELECT id_panel FROM estacion.paneles"));
            } else {
                for (int p : panels) {
                    if (db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM estacion.paneles WHERE id_panel = ?"), {p}).toInt() == 0)
                        throw db::Error(QStringLiteral("El panel %1 no existe en la base de datos").arg(p));
                    db::exec(c, QStringLiteral("INSERT OR IGNORE INTO temp.exportar (id_panel) VALUES (?)"), {p});
                }
            }
            qint64* targets[] = {&counts.paneles, &counts.secciones, &counts.secciones_valores,
                                 &counts.secciones_items, &counts.configuraciones_valores};
            // A station file from before the secret mark has no secret sections.
            const bool marked = db::scalar(c, QStringLiteral("SELECT count(*) FROM pragma_table_info('secciones', "
                                                             "'estacion') WHERE name = 'secreta'")).toInt() > 0;
            int n = 0;
            for (const Copy& k : kCopies) {
                const QString cols = QString::fromLatin1(k.columns);
                QString from = cols;
                if (!marked)
                    from.replace(QStringLiteral(", secreta"), QStringLiteral(", 0"));
                QSqlQuery q = db::exec(c, QStringLiteral("INSERT INTO main.%1 (%2) SELECT %5 FROM estacion.%1 "
                                                         "WHERE id_panel IN (SELECT id_panel FROM temp.exportar)%3 ORDER BY %4")
                                              .arg(QString::fromLatin1(k.table), cols, QString::fromLatin1(k.extraWhere),
                                                   QString::fromLatin1(k.order), from));
                *targets[n++] = q.numRowsAffected();
            }
            t.commit();
            db::exec(c, QStringLiteral("DETACH DATABASE estacion"));
        }
        db::close(name);
    } catch (const db::Error&) {
        db::close(name);
        if (written)
            QFile::remove(updateFile);
        throw;
    }
    return counts;
}

} // namespace export_store
