#include "bench.h"

#include "app/station.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/seed.h"
#include "data/station_db.h"
#include "link/panel_link.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace bench {

std::vector<Case>& cases()
{
    static std::vector<Case> c;
    return c;
}

double median(std::vector<double> t)
{
    if (t.empty())
        return 0;
    std::sort(t.begin(), t.end());
    return t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
}

namespace {

std::unique_ptr<Station> g_station;
Engine g_engine = Engine::file;
QStringList g_serverDatabases; // made here, dropped at the end

const QString kAdmin = QStringLiteral("bench-servidor");

QString serverHost()
{
    return qEnvironmentVariable("SORVENT_BENCH_PGHOST");
}

QSqlDatabase serverAdmin()
{
    if (QSqlDatabase::contains(kAdmin))
        return QSqlDatabase::database(kAdmin, false);
    db::Server s;
    s.host = serverHost();
    s.dbname = QStringLiteral("postgres");
    return db::openServer(kAdmin, s);
}

void dropServerDatabases()
{
    if (g_serverDatabases.isEmpty())
        return;
    for (const QString& name : std::as_const(g_serverDatabases)) {
        try {
            db::exec(serverAdmin(), QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
        } catch (const db::Error&) {
            // FORCE may not end the server's own autovacuum worker for a role
            // that is not a superuser; a plain drop ends it itself.
            db::exec(serverAdmin(), QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name));
        }
    }
    g_serverDatabases.clear();
    db::close(kAdmin);
}

} // namespace

Engine engine()
{
    return g_engine;
}

bool firstOn(std::optional<Engine>& done)
{
    if (done == g_engine)
        return false;
    done = g_engine;
    return true;
}

QSqlDatabase newServerDatabase(const QString& connection)
{
    // Names from the code only: nothing here comes from outside.
    const QString name = QStringLiteral("sorvent_bench_%1_%2").arg(QCoreApplication::applicationPid()).arg(g_serverDatabases.size() + 1);
    db::exec(serverAdmin(), QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name));
    db::exec(serverAdmin(), QStringLiteral("CREATE DATABASE %1").arg(name));
    g_serverDatabases << name;
    db::Server s;
    s.host = serverHost();
    s.dbname = name;
    return db::openServer(connection, s);
}

Station& freshStation(const QString& dir)
{
    static ConsoleMessages messages;
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    g_station.reset();
    if (!dir.isEmpty()) {
        g_station = std::make_unique<Station>(messages, dir);
        return *g_station;
    }
    dirs.push_back(std::make_unique<QTemporaryDir>());
    const QString fresh = dirs.back()->path();
    g_station = std::make_unique<Station>(messages, fresh);
    if (g_engine == Engine::server) {
        // As a station's first start on an empty server, less the demo subscribers.
        const QSqlDatabase c = newServerDatabase(mdl_main::DbConnection);
        db::prepareServer(c);
        db::exec(c, QStringLiteral("DELETE FROM abonados"));
        return *g_station;
    }
    seed::createStationDatabase(QDir(fresh).filePath(mdl_main::DbFile), false);
    db::open(mdl_main::DbConnection, QDir(fresh).filePath(mdl_main::DbFile));
    return *g_station;
}

Station& station()
{
    return *g_station;
}

void endStation()
{
    g_station.reset();
}

} // namespace bench

int main(int argc, char** argv)
{
    // The offscreen platform's chatter would bury the results.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type != QtDebugMsg && !msg.contains(QLatin1String("propagateSizeHints")))
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList filters = app.arguments().mid(1);
    std::vector<bench::Engine> engines = {bench::Engine::file};
    if (!bench::serverHost().isEmpty())
        engines.push_back(bench::Engine::server);
    try {
        for (const bench::Engine e : engines) {
            bench::g_engine = e;
            for (const bench::Case& c : bench::cases()) {
                if (e == bench::Engine::server && c.on != bench::On::both)
                    continue;
                if (!filters.isEmpty() && std::none_of(filters.begin(), filters.end(), [&](const QString& f) { return c.name.contains(f); }))
                    continue;
                std::vector<double> t;
                for (int i = 0; i < c.runs; ++i)
                    t.push_back(c.runOnce());
                QString note = c.note ? c.note() : QString();
                const double bare = c.bare ? c.bare() : 0;
                if (bare > 0)
                    note += QStringLiteral("%1ratio %2 to bare SQL (%3 ms)")
                                .arg(note.isEmpty() ? "" : "; ")
                                .arg(bench::median(t) / bare, 0, 'f', 2)
                                .arg(bare, 0, 'f', 1);
                std::printf("%-10s %-55s median %10.2f ms  (%d runs; goal %s%s%s)\n",
                            e == bench::Engine::file ? "sqlite" : "postgresql", qPrintable(c.name), bench::median(t), c.runs,
                            qPrintable(c.goal), note.isEmpty() ? "" : "; ", qPrintable(note));
                std::fflush(stdout);
            }
            bench::endStation();
        }
        bench::dropServerDatabases();
    } catch (const db::Error& err) {
        std::fprintf(stderr, "%s\n", qPrintable(err.text()));
        return 1;
    }
    return 0;
}
