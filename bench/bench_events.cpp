// The console's events view with a long history: the refresh after an event
// answer, and a download of 500 events (with the console's refresh) into an
// empty history and into one of 100,000 events.

#include "bench.h"
#include "link_test_access.h"

#include "app/station.h"

#include "session/mdl_main.h"
#include "console/w_panel.h"
#include "data/db.h"
#include "data/shared_ops.h"
#include "link/panel_link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTabWidget>

namespace {

constexpr int kHistory = 100000;

// Subscriber 1 (model 1) on the console, with `history` events stored.
w_panel* console(int history)
{
    bench::freshStation();
    bench::station().main.logIn(bench::station().main.currentUser(), 1);
    QSqlDatabase c = bench::station().main.db();
    db::Transaction t(c);
    db::exec(c, "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
                "localidad, id_provincia, tel_1) VALUES (1, '0001', 1, 1, 'A', 'B', 'C', '1', 'D', 6, '5550001')");
    copyValues(c, 1, 1, 999, 1, 1);
    db::exec(c, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < ?) "
                "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, fecha, id_tipo) "
                "SELECT 1, 1, i % 24, i % 1000, printf('2024-%02d-%02d 10:00:00', 1 + i % 12, 1 + i % 28), 0 FROM k",
             {history});
    t.commit();
    auto* w = new w_panel(bench::station().ctx, bench::station().trans);
    w->show();
    w->showSubscriber(1);
    w->SSTab_panel->setCurrentIndex(2);
    QCoreApplication::processEvents();
    return w;
}

// One short-record answer of 8 events, taken as the link takes it.
void eventAnswer(int n)
{
    PanelLink& link = bench::station().trans;
    QList<int> answer{6};
    for (int k = 0; k < 8; ++k)
        answer << (n + k) % 24 << k;
    LinkTestAccess::setAnswer(link, answer);
    LinkTestAccess::storeShortEvents(link, 17);
}

w_panel* g_long = nullptr;
double g_emptyMs = 0;
std::vector<double> g_bareEmpty, g_bareLong; // the same rows as bare SQL, in one transaction

double bareDownload()
{
    QSqlDatabase c = bench::station().main.db();
    QElapsedTimer t;
    t.start();
    db::Transaction tr(c);
    QSqlQuery q(c);
    q.prepare("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) VALUES (1, 1, ?, ?, 0)");
    for (int n = 0; n < 63; ++n) {
        for (int k = 0; k < 8; ++k) {
            q.bindValue(0, (n + k) % 24);
            q.bindValue(1, k);
            if (!q.exec())
                qFatal("bare insert failed");
        }
    }
    tr.commit();
    return t.nsecsElapsed() / 1e6;
}

double download(std::vector<double>& bare)
{
    QElapsedTimer t;
    t.start();
    // 504 events, then the answer without records that ends the download;
    // the console shows them when the link has stored them.
    LinkTestAccess::setEventsPending(bench::station().trans, true);
    for (int n = 0; n < 63; ++n)
        eventAnswer(n);
    LinkTestAccess::setAnswer(bench::station().trans, {6});
    LinkTestAccess::storeShortEvents(bench::station().trans, 1);
    QCoreApplication::processEvents();
    const double ms = t.nsecsElapsed() / 1e6;
    if (bench::station().trans.eventsPending())
        qFatal("the download did not end");
    bare.push_back(bareDownload());
    return ms;
}

// Each case's station replaces the one before: the empty history first.
// The history grows by a download (and its bare twin) per run.
bench::Register downloadEmpty("events: download 500 into an empty history", "100 ms, as into 100,000", 3, [] {
    static w_panel* w = nullptr;
    if (!w)
        w = console(0);
    return g_emptyMs = download(g_bareEmpty);
}, {}, bench::On::file, [] { return bench::median(g_bareEmpty); });

bench::Register refresh("events view: refresh after an answer, 100,000 events", "50 ms", 9, [] {
    if (!g_long)
        g_long = console(kHistory);
    QElapsedTimer t;
    t.start();
    g_long->showEvents();
    QCoreApplication::processEvents();
    return t.nsecsElapsed() / 1e6;
});

bench::Register downloadLong("events: download 500 over 100,000 stored", "100 ms, as into an empty one", 3, [] {
    if (!g_long)
        g_long = console(kHistory);
    return download(g_bareLong);
}, [] { return QStringLiteral("empty history %1 ms").arg(g_emptyMs, 0, 'f', 1); }, bench::On::file,
   [] { return bench::median(g_bareLong); });

} // namespace
