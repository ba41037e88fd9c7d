#include "fuzz_support.h"

#include "app/station.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/seed.h"

#include <QCoreApplication>
#include <QDir>
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
    static QCoreApplication app(argc, argv);
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
