#include "fuzz_support.h"

#include "app/station.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/seed.h"

#include <QGuiApplication>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

class Silent : public MessageService {
public:
    void show(const QString&, const QString&, Icon) override {}
    bool ask(const QString&, const QString&, Default) override { return false; }
};

} // namespace

Station& station()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    // The reports measure their texts, which takes the font database.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication* app = nullptr;
    if (!app) {
        app = new QGuiApplication(argc, argv);
        // The toolkit's per-thread font cache, made on first use, is freed by
        // the application object's end; static objects end in the reverse
        // order of their making, so the cache is made first and the
        // application ends at exit before it.
        QFontMetricsF(QFont()).height();
        std::atexit([] { delete app; });
    }
    // The link's diagnostics would flood the fuzzer's output.
    QLoggingCategory::setFilterRules(QStringLiteral("sorvent.*=false"));
    static Silent silent;
    static QTemporaryDir tmp;
    // Never destroyed: at exit the toolkit's connection registry may be gone
    // before a static station could close its connections.
    static Station& st = *new Station(silent, tmp.path());
    static bool ready = false;
    if (!ready) {
        const QString file = QDir(tmp.path()).filePath(mdl_main::DbFile);
        seed::createStationDatabase(file, true);
        db::open(mdl_main::DbConnection, file);
        ready = true;
    }
    return st;
}

void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "invariante rota: %s\n", what);
    std::abort();
}

} // namespace fuzz
