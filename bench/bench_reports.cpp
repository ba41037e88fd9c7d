// Printed reports: the largest one is a subscriber's whole programming.

#include "bench.h"

#include "app/station.h"
#include "big_subscriber.h"

#include "reports/de_reportes.h"
#include "reports/dr_layouts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {


bench::Register panelReport("panel report, 3,000 values: data, layout and PDF", "2000 ms", 5, [] {
    static QTemporaryDir out;
    static bool ready = false;
    if (!ready) {
        bench::freshStation();
        seedBigSubscriber(false);
        ready = true;
    }
    const QString file = out.filePath("panel.pdf");
    QElapsedTimer t;
    t.start();
    reports::de_reportes& d = bench::station().reports;
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
