// Start-up, seeding and compaction: where users wait at the start and the end.

#include "bench.h"

#include "app/station.h"

#include "app/compaction.h"
#include "session/mdl_main.h"
#include "app/ui_shell.h"
#include "data/db.h"
#include "data/shared_ops.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {

void addSubscribers(int n)
{
    QSqlDatabase c = bench::station().main.db();
    db::Transaction t(c);
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < ?) "
                "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
                "localidad, id_provincia, tel_1) SELECT i, printf('%05d', i), 1 + i % 2, 1, 'APELLIDO ' || i, 'NOMBRE', "
                "'CALLE', '100', 'LOCALIDAD', 1, '555' || i FROM k", {n});
    t.commit();
}

// Process start to the login dialog, less the splash's one-second timer.
bench::Register startup("start-up to login, 5,000 subscribers (+1000 ms splash)", "300 ms", 5, [] {
    static QString dir;
    if (dir.isEmpty()) {
        dir = bench::freshStation().main.programDir();
        addSubscribers(5000);
    }
    bench::freshStation(dir);
    QElapsedTimer t;
    t.start();
    double ms = 0;
    {
        AppShell shell(bench::station());
        shell.onEnd = [](int) {};
        bench::station().main.initialize(shell);
        while (!shell.login() || !shell.login()->isVisible())
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        ms = t.nsecsElapsed() / 1e6;
    }
    bench::station().main.logIn(0, bench::station().main.currentLevel());
    return ms;
});

bench::Register seeding("seed one subscriber with 2,000 values", "20 ms", 9, [] {
    static bool ready = false;
    if (!ready) {
        bench::freshStation();
        QSqlDatabase c = bench::station().main.db();
        db::exec(c, "INSERT INTO paneles VALUES (9, 'BIG', '1', '2', 0)");
        db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 1999) "
                    "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
                    "SELECT 1, 9, i / 8, 1 + i % 8, '00', 1 FROM k");
        addSubscribers(1);
        db::exec(c, "UPDATE abonados SET id_panel = 9 WHERE id_abonado = 1");
        ready = true;
    }
    QSqlDatabase c = bench::station().main.db();
    QElapsedTimer t;
    t.start();
    db::Transaction tr(c);
    copyValues(c, 1, 9, 999, 1, 1);
    tr.commit();
    return t.nsecsElapsed() / 1e6;
});

std::vector<double> g_bareVacuum; // ms of a bare VACUUM INTO of the same file

// VACUUM INTO a scratch file, nothing else: what compaction cannot do without.
double bareVacuum(const QString& dir)
{
    const QString out = QDir(dir).filePath("bare-vacuum.mdb");
    QFile::remove(out);
    QElapsedTimer t;
    t.start();
    {
        QSqlDatabase c = db::open("bench-vacuum", QDir(dir).filePath("sorvent20.mdb"));
        db::exec(c, "VACUUM INTO ?", {out});
    }
    const double ms = t.nsecsElapsed() / 1e6;
    db::close("bench-vacuum");
    QFile::remove(out);
    return ms;
}

bench::Register compact("compaction of a 200 MB database", "2000 ms, or 2x a bare VACUUM INTO", 3, [] {
    static QString dir;
    if (dir.isEmpty()) {
        dir = bench::freshStation().main.programDir();
        addSubscribers(2000);
        {
        QSqlDatabase c = bench::station().main.db();
        // About 200 MB of events, with free pages left by a purge.
        db::Transaction t(c);
        db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 2600000) "
                    "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, fecha, id_tipo) "
                    "SELECT 1 + i % 2000, 1, i % 24, i % 1000, printf('2024-%02d-%02d 10:00:00', 1 + i % 12, 1 + i % 28), 0 FROM k");
        db::exec(c, "DELETE FROM abonados_eventos WHERE orden % 10 = 0");
        t.commit();
        }
        bench::station().main.closeConnections();
        std::printf("  (database of %.0f MB)\n", QFileInfo(QDir(dir).filePath("sorvent20.mdb")).size() / 1048576.0);
    }
    g_bareVacuum.push_back(bareVacuum(dir));
    QElapsedTimer t;
    t.start();
    compaction::run(dir);
    return t.nsecsElapsed() / 1e6;
}, {}, bench::On::file, [] { return bench::median(g_bareVacuum); });

} // namespace
