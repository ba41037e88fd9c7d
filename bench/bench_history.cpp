// The value history: seeding a subscriber writes 2,000 history rows, a
// download compares and records each value, and the history window opens on
// a table of a million rows.

#include "bench.h"

#include "app/station.h"
#include "data/db.h"
#include "data/link_store.h"
#include "data/subscriber_store.h"
#include "records/w_historial.h"

#include <QElapsedTimer>
#include <QTableWidget>

namespace {

QSqlDatabase c()
{
    return bench::station().main.db();
}

// Panel 9 with 250 sections of 8 items: 2,000 values in template 1.
void panelOf2000()
{
    static std::optional<bench::Engine> ready;
    if (!bench::firstOn(ready))
        return;
    bench::freshStation();
    db::Transaction t(c());
    db::exec(c(), "INSERT INTO paneles VALUES (9, 'BIG', '1', '2', 0)");
    db::exec(c(), "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 249) "
                  "INSERT INTO secciones (id_panel, id_seccion, tipo, long, posicion, descripcion) "
                  "SELECT 9, i, 2, 0, i * 8, 'Sección ' || i FROM k");
    db::exec(c(), "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 1999) "
                  "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
                  "SELECT 1, 9, i / 8, 1 + i % 8, '00', 0 FROM k");
    t.commit();
}

int newSubscriber()
{
    QVariantList f(24);
    for (int i : {3, 4, 5, 6, 9, 12})
        f[i] = QStringLiteral("X");
    f[0] = QStringLiteral("B");
    f[1] = 9;
    f[2] = 1;
    f[10] = 1;
    return subscribers::insert(c(), f, 1);
}

bench::Register seedingWithHistory("seed a new subscriber with 2,000 values (history)", "50 ms", 9, [] {
    panelOf2000();
    QElapsedTimer t;
    t.start();
    newSubscriber();
    return t.nsecsElapsed() / 1e6;
}, bench::On::both);

// A download of every value, each one different from what is stored: the
// store as the link calls it, once per answer, against the statements it ran
// before it kept history (a transaction per section, a statement per value)
// and against bare updates grouped as the link groups them now.
struct Download {
    int abonado = 0;
    int round = 0;
    std::vector<double> with, without, grouped;
};

Download& download()
{
    static Download d;
    if (!d.abonado) {
        panelOf2000();
        d.abonado = newSubscriber();
    }
    return d;
}

// The sections one read answer of 16 bytes completes: two of 8 one-byte values.
constexpr int kSectionsPerAnswer = 2;

enum class Store { history, beforeHistory, bareGrouped };

double storeAll(Store how)
{
    Download& d = download();
    const QString valor = QStringLiteral("%1").arg(++d.round % 256, 2, 16, QLatin1Char('0')).toUpper();
    db::exec(c(), "UPDATE abonados_valores SET id_estado = -1 WHERE id_abonado = ?", {d.abonado});
    SqlLinkStore store(c(), 1);
    QList<QPair<int, QString>> items;
    for (int i = 1; i <= 8; ++i)
        items.append({i, valor});
    QElapsedTimer t;
    t.start();
    for (int s = 0; s < 250; s += kSectionsPerAnswer) {
        if (how == Store::history) {
            QList<LinkSectionRead> answer;
            for (int k = 0; k < kSectionsPerAnswer; ++k)
                answer.append({s + k, items});
            if (!store.storeSections(d.abonado, answer))
                qFatal("the sections were not stored");
            continue;
        }
        const auto update = [&](int seccion) {
            for (const auto& [item, v] : items)
                db::exec(c(), "UPDATE abonados_valores SET id_estado = 0, valor = ? WHERE id_abonado = ? AND id_seccion = ? "
                              "AND id_item = ?",
                         {v, d.abonado, seccion, item});
        };
        if (how == Store::bareGrouped) {
            db::Transaction tr(c());
            for (int k = 0; k < kSectionsPerAnswer; ++k)
                update(s + k);
            tr.commit();
            continue;
        }
        for (int k = 0; k < kSectionsPerAnswer; ++k) {
            db::Transaction tr(c());
            update(s + k);
            tr.commit();
        }
    }
    return t.nsecsElapsed() / 1e6;
}

// With the disk's sync on (as the station runs) and off (the statements'
// own cost, which the sync would hide).
Download& downloadRegistered(bool sync)
{
    static Download on, off;
    return sync ? on : off;
}

double downloadRound(bool sync)
{
    download(); // the station first
    Download& d = downloadRegistered(sync);
    if (!sync)
        db::exec(c(), "PRAGMA synchronous = OFF");
    d.without.push_back(storeAll(Store::beforeHistory));
    d.grouped.push_back(storeAll(Store::bareGrouped));
    const double ms = storeAll(Store::history);
    d.with.push_back(ms);
    if (!sync)
        db::exec(c(), "PRAGMA synchronous = FULL");
    return ms;
}

QString downloadNote(bool sync)
{
    const Download& d = downloadRegistered(sync);
    const double without = bench::median(d.without), grouped = bench::median(d.grouped), with = bench::median(d.with);
    return QStringLiteral("before history %1 ms, %2 %; bare updates grouped alike %3 ms, %4 %")
        .arg(without, 0, 'f', 2)
        .arg(100.0 * (with - without) / without, 0, 'f', 1)
        .arg(grouped, 0, 'f', 2)
        .arg(100.0 * (with - grouped) / grouped, 0, 'f', 1);
}

bench::Register downloadWithHistory("download storing 2,000 changed values (history)", "+10 % at most", 9,
                                    [] { return downloadRound(true); }, [] { return downloadNote(true); }, bench::On::file,
                                    [] { return bench::median(downloadRegistered(true).without); });
bench::Register downloadWithHistoryNoSync("the same download, disk sync off", "+30 % at most", 9,
                                          [] { return downloadRound(false); }, [] { return downloadNote(false); },
                                          bench::On::file, [] { return bench::median(downloadRegistered(false).without); });

bench::Register historyWindow("history window, 1,000,000 rows, one subscriber", "300 ms", 5, [] {
    static int abonado = 0;
    if (!abonado) {
        panelOf2000();
        abonado = newSubscriber();
        // A thousand subscribers' changes over the last month, a thousand each.
        db::Transaction t(c());
        db::exec(c(), "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 1000000) "
                      "INSERT INTO valores_historial (id_historial, fecha, id_abonado, id_panel, id_seccion, id_item, "
                      "valor_anterior, valor_nuevo, origen, id_usuario) "
                      "SELECT 100000 + i, strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime', '-' || (i % 2500000) || ' seconds'), "
                      "CASE WHEN i % 1000 = 0 THEN ? ELSE 1000 + i % 1000 END, 9, (i / 1000) % 250, 1 + i % 8, "
                      "'00', '01', 'panel', 1 FROM k",
                 {abonado});
        t.commit();
    }
    QElapsedTimer t;
    t.start();
    w_historial* w = w_historial::abrirAbonado(bench::station().ctx, abonado);
    const double ms = t.nsecsElapsed() / 1e6;
    if (!w || w->dg_historial->rowCount() < 900)
        qFatal("the history was not listed");
    delete w;
    return ms;
});

} // namespace

