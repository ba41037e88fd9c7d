#include "bench.h"

#include "app/station.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/seed.h"
#include "link/mdl_trans.h"

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
    for (const bench::Case& c : bench::cases()) {
        if (!filters.isEmpty() && std::none_of(filters.begin(), filters.end(), [&](const QString& f) { return c.name.contains(f); }))
            continue;
        std::vector<double> t;
        for (int i = 0; i < c.runs; ++i)
            t.push_back(c.runOnce());
        const QString note = c.note ? QStringLiteral("; ") + c.note() : QString();
        std::printf("%-55s median %10.2f ms  (%d runs; goal %s%s)\n", qPrintable(c.name), bench::median(t), c.runs,
                    qPrintable(c.goal), qPrintable(note));
        std::fflush(stdout);
    }
    bench::endStation();
    return 0;
}
