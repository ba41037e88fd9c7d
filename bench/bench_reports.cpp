// Printed reports: the largest one is a subscriber's whole programming.

#include "bench.h"

#include "app/mdl_main.h"
#include "data/db.h"
#include "reports/de_reportes.h"
#include "reports/dr_layouts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

// A model of 100 sections of 30 items and one subscriber with all 3,000 values.
void bigSubscriber()
{
    QSqlDatabase c = mdl_main::instance().db();
    db::Transaction t(c);
    db::exec(c, "INSERT INTO paneles VALUES (9, 'BIG', '1', '2', 0)");
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 99) "
                "INSERT INTO secciones (id_panel, id_seccion, tipo, long, posicion, descripcion) "
                "SELECT 9, i, 2, 0, i * 32, 'Sección de prueba ' || i FROM k");
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 30) "
                "INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) "
                "SELECT 9, s.id_seccion, k.i, 'Descripción del item ' || k.i FROM secciones s, k WHERE s.id_panel = 9");
    db::exec(c, "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
                "localidad, id_provincia, tel_1) VALUES (1, '0001', 9, 1, 'APELLIDO', 'NOMBRE', 'CALLE', '1', 'LOCALIDAD', 1, '555')");
    db::exec(c, "INSERT INTO abonados_valores (id_abonado, id_seccion, id_item, valor, id_estado) "
                "SELECT 1, id_seccion, id_item, printf('%02X', id_item), (id_item % 3) - 1 FROM secciones_items WHERE id_panel = 9");
    t.commit();
}

bench::Register panelReport("panel report, 3,000 values: data, layout and PDF", "2000 ms", 5, [] {
    static QTemporaryDir out;
    static bool ready = false;
    if (!ready) {
        bench::freshStation();
        bigSubscriber();
        ready = true;
    }
    const QString file = out.filePath("panel.pdf");
    QElapsedTimer t;
    t.start();
    reports::de_reportes& d = reports::de_reportes::instance();
    d.panel.open(d.connection(), 1, 9, 1);
    const reports::Document doc = reports::dr_panel(d.panel.result(), reports::PageSetup(), QDate::currentDate());
    const bool ok = reports::writePdf(doc, file);
    const double ms = t.nsecsElapsed() / 1e6;
    d.panel.close();
    if (!ok || QFile(file).size() == 0)
        qFatal("the panel report was not written");
    return ms;
});

} // namespace
