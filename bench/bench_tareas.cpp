// The jobs window's "Resultados" tab with 100,000 result rows: opening it
// reads one count and one page, however many rows there are.

#include "bench.h"

#include "admin/w_tareas.h"
#include "app/station.h"
#include "data/db.h"
#include "session/mdl_main.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

void prepare()
{
    static std::optional<bench::Engine> ready;
    if (!bench::firstOn(ready))
        return;
    bench::freshStation();
    bench::station().main.logIn(bench::station().main.currentUser(), 3); // results only
    QSqlDatabase c = bench::station().main.db();
    db::Transaction t(c);
    db::exec(c, "INSERT INTO tareas (id_tarea, nombre, acciones, programa) VALUES (1, 'NOCHE', 'eventos', 'ahora')");
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 100000) "
                "INSERT INTO tareas_resultados (id_tarea, id_cola, id_abonado, intento, inicio, fin, estacion, resultado, "
                "eventos) SELECT 1, i, 1 + i % 500, 1, '2026-11-01 22:00:00', '2026-11-01 22:01:00', 'OFICINA', "
                "CASE WHEN i % 5 = 0 THEN 'ocupado' ELSE 'hecha' END, i % 50 FROM k");
    t.commit();
}

bench::Register openResults("jobs: open \"Resultados\" with 100,000 results", "300 ms", 5, [] {
    prepare();
    QElapsedTimer t;
    t.start();
    auto* w = new w_tareas(bench::station().ctx);
    w->show();
    QCoreApplication::processEvents(); // first paint
    const double ms = t.nsecsElapsed() / 1e6;
    delete w;
    return ms;
}, bench::On::both);

} // namespace
