// sorvent-db: copies a station's database file (sorvent20.mdb) into an empty
// database on a PostgreSQL server, the one a sorvent20.ini names, and checks
// the row counts table by table.

#include "data/copy_store.h"
#include "data/db.h"

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
                 "Ejemplo: sorvent-db sorvent20.mdb sorvent20.ini\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
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
