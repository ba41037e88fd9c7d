// sorvent-catalogo: exports the panel catalogue of a station database (models,
// sections, value lists, items and the values of configuration 1) into a new
// update file "novedades20.mdb" that the stations merge at their next start.

#include "data/catalogue_export_store.h"
#include "data/db.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "Uso: sorvent-catalogo [--panel N]... <base de la estación> <archivo de novedades>\n"
                 "Exporta el catálogo de paneles (modelos, secciones, valores, ítems y los valores de la\n"
                 "configuración 1) a un archivo de novedades nuevo. Con --panel, sólo esos modelos.\n"
                 "Ejemplo: sorvent-catalogo sorvent20.mdb novedades20.mdb\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QList<int> panels;
    QStringList files;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--panel")) {
            bool ok = false;
            const int p = i + 1 < args.size() ? args.at(i + 1).toInt(&ok) : 0;
            if (!ok)
                return usage();
            panels << p;
            ++i;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help") || a.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            files << a;
        }
    }
    if (files.size() != 2)
        return usage();
    try {
        const export_store::ExportCounts n = export_store::exportCatalogue(files.at(0), files.at(1), panels);
        std::printf("%s: %lld paneles, %lld secciones, %lld valores, %lld ítems, %lld valores de la configuración 1\n",
                    qPrintable(files.at(1)), n.paneles, n.secciones, n.secciones_valores, n.secciones_items,
                    n.configuraciones_valores);
    } catch (const db::Error& e) {
        std::fprintf(stderr, "sorvent-catalogo: %s\n", qPrintable(e.text()));
        return 1;
    }
    return 0;
}
