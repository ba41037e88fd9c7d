// sorvent-db: copies a station's database file (sorvent20.mdb) into an empty
// database on a PostgreSQL server, the one a sorvent20.ini names, and checks
// the row counts table by table; or gives the stations' role its rights
// there (server_roles.h).

#include "data/copy_store.h"
#include "data/db.h"
#include "data/server_roles.h"
#include "data/station_db.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "Uso: sorvent-db <base de la estación> <sorvent20.ini>\n"
                 "Copia todas las tablas de la base de la estación (sorvent20.mdb) a la base de datos\n"
                 "vacía del servidor que indica la sección [basedatos] del archivo INI, y compara el\n"
                 "número de filas tabla por tabla. Una base de destino con tablas no se toca.\n"
                 "Ejemplo: sorvent-db sorvent20.mdb sorvent20.ini\n"
                 "\n"
                 "Uso: sorvent-db --rol-estacion <sorvent20.ini> <rol>\n"
                 "Con el usuario administrador (dueño de las tablas) que indica el archivo INI, crea las\n"
                 "tablas de una base vacía o actualiza las que tiene, y crea o actualiza el rol de las\n"
                 "estaciones: lee y escribe filas, no cambia tablas y no lee las contraseñas de los\n"
                 "operadores. El rol se crea sin contraseña: désela con psql (\\password rol).\n"
                 "Repítalo después de cada actualización del programa.\n"
                 "Ejemplo: sorvent-db --rol-estacion admin.ini sorvent_estacion\n");
    return 2;
}

int stationRole(const QString& ini, const QString& role)
{
    int result = 0;
    try {
        const db::Server server = db::serverConfigFile(ini);
        const QSqlDatabase c = db::openServer(QStringLiteral("administrador"), server);
        // An empty database gets its tables as from a first station.
        db::prepareServer(c);
        const bool created = server_roles::grantStation(c, role);
        std::printf("%s el rol %s de las estaciones en %s.\n", created ? "Se creó" : "Se actualizó", qPrintable(role),
                    qPrintable(server.describe()));
        if (created)
            std::printf("Désele una contraseña con psql: \\password %s\n", qPrintable(role));
    } catch (const db::Error& e) {
        std::fprintf(stderr, "sorvent-db: %s\n", qPrintable(e.text()));
        result = 1;
    }
    db::close(QStringLiteral("administrador"));
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 3 && args.at(0) == QLatin1String("--rol-estacion"))
        return stationRole(args.at(1), args.at(2));
    if (args.size() != 2 || args.at(0).startsWith(QLatin1Char('-')))
        return usage();
    int result = 0;
    try {
        const QSqlDatabase source = db::open(QStringLiteral("origen"), args.at(0));
        const db::Server server = db::serverConfigFile(args.at(1));
        const QSqlDatabase target = db::openServer(QStringLiteral("destino"), server);
        std::printf("Copiando %s a %s\n", qPrintable(args.at(0)), qPrintable(server.describe()));
        const auto progress = [](const QString& table, qint64 done, qint64 total) {
            std::printf("  %-24s %lld de %lld\r", qPrintable(table), done, total);
            if (done == total)
                std::printf("\n");
            std::fflush(stdout);
        };
        for (const copy_store::TableCount& t : copy_store::copyStation(source, target, progress))
            std::printf("%-24s origen %lld, destino %lld\n", qPrintable(t.table), t.source, t.target);
        std::printf("Copia completa y verificada.\n");
    } catch (const db::Error& e) {
        std::fprintf(stderr, "sorvent-db: %s\n", qPrintable(e.text()));
        result = 1;
    }
    db::close(QStringLiteral("destino"));
    db::close(QStringLiteral("origen"));
    return result;
}
