// The job runner over the simulator's many-panel modem on a pseudo-terminal:
// 100 panels of 50 events each (the station's own time between hanging up
// one panel and dialling the next, and the turns against the protocol's
// minimum), 500 items in one process (resident memory), and the cost of a
// runner asleep until its next item.

#include "bench.h"

#include "app/station.h"
#include "data/db.h"
#include "data/seed.h"
#include "data/subscriber_hold.h"
#include "jobs/job_runner.h"
#include "link/panel_link.h"
#include "link/serialport_qt.h"
#include "modem.h"
#include "panel.h"
#include "panel_bank.h"
#include "session/mdl_main.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace jobs;

// A queue in memory: every item due now, one try each.
class BenchQueue : public JobQueue {
public:
    QList<JobItem> waiting;
    int recorded = 0;
    std::optional<QDateTime> later; // an item due then (the idle case)
    std::optional<JobItem> claimNext(const QDateTime&) override
    {
        if (waiting.isEmpty())
            return std::nullopt;
        return waiting.takeFirst();
    }
    void record(const JobItem&, const ItemResult& r) override
    {
        if (r.outcome != Outcome::Done)
            qFatal("bench: item not done: %s", qPrintable(r.detail));
        ++recorded;
    }
    void release(const JobItem& item, const QDateTime&) override { waiting.prepend(item); }
    std::optional<QDateTime> nextDue() override { return later; }
};

class FreeHolds : public HoldStore {
public:
    bool acquire(qint32) override { return true; }
    void release(qint32) override {}
    std::optional<locks::Holder> heldByOther(qint32) override { return std::nullopt; }
};

QString phone(int n)
{
    return QStringLiteral("55%1").arg(n, 5, 10, QLatin1Char('0'));
}

// The station with `panels` copies of the first demo subscriber, the
// many-panel modem on COM1, and a runner on its link.
struct Farm {
    Station& st;
    QtSerialPortAdapter com;
    panelsim::Panel nobody;
    panelsim::Modem modem{&nobody};
    panelsim::PanelBank bank;
    BenchQueue queue;
    FreeHolds holds;
    std::unique_ptr<JobRunner> runner;
    int panels;

    // Without `modem` the simulator is not started (its line watch would be
    // counted with the runner's idle cost).
    explicit Farm(int panels, int events, bool withModem = true)
        : st(bench::freshStation()), com(st.main.programDir()), panels(panels)
    {
        QSqlDatabase c = st.main.db();
        seed::loadDemoSubscribers(c);
        db::Transaction t(c);
        for (int n = 3; n <= panels + 2; ++n) {
            db::exec(c, QStringLiteral("INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, "
                                       "calle, numero, localidad, id_provincia, cp, tel_1, id_contacto1) "
                                       "SELECT ?, ?, id_panel, id_configuracion, apellido, nombre, calle, numero, localidad, "
                                       "id_provincia, cp, ?, id_contacto1 FROM abonados WHERE id_abonado = 1"),
                     {n, QString::number(n), phone(n)});
            db::exec(c, QStringLiteral("INSERT INTO abonados_valores (id_abonado, id_seccion, id_item, valor, id_estado) "
                                       "SELECT ?, id_seccion, id_item, valor, 0 FROM abonados_valores WHERE id_abonado = 1"),
                     {n});
            QJsonArray log;
            for (int e = 0; e < events; ++e)
                log.append(QJsonObject{{"event", 1 + e % 20}, {"parameter", e}, {"time", "2024-08-15 10:00"}});
            bank.add(phone(n), QJsonObject{{"panelCode", 1}, {"events", log}});
        }
        t.commit();
        st.main.portOpened();
        com.setCommPort(1);
        com.setSettings(QStringLiteral("110,N,8,2"));
        st.trans.setDevices(&com, nullptr);
        modem.options.dialDelayMs = 0;
        modem.route = [this](const QString& number, QByteArray* result) { return bank.route(number, result); };
        if (withModem && (!modem.open() || !modem.linkAs(st.main.programDir(), 1)))
            qFatal("bench: no modem");
        runner = std::make_unique<JobRunner>(st.trans, queue, holds,
                                             [this](qint32 id) { return lookUp(st.main.db(), id); });
    }
    ~Farm()
    {
        runner.reset();
        st.trans.setDevices(nullptr, nullptr);
    }
    void add(const QList<Action>& actions, int rounds = 1)
    {
        for (int r = 0; r < rounds; ++r)
            for (int n = 3; n <= panels + 2; ++n)
                queue.waiting << JobItem{n, 1, n, actions, Reach::Dial, 1};
    }
    // Ticks by hand; the pseudo-terminal gets a moment where the link waits for it.
    void runUntil(int recorded)
    {
        PanelLink& link = st.trans;
        while (queue.recorded < recorded) {
            QCoreApplication::processEvents();
            if (link.phase() == PanelLink::LinkPhase::Calling) {
                QElapsedTimer w;
                w.start();
                while (link.phase() == PanelLink::LinkPhase::Calling && w.elapsed() < 100)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            } else if (link.connected() && link.scheduler().awaitingAnswer == 1) {
                QElapsedTimer w;
                w.start();
                while (link.connected() && link.scheduler().awaitingAnswer == 1 && w.elapsed() < 200)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            }
            link.tick();
        }
    }
};

std::vector<double> g_gaps;
int g_turns = 0, g_minimum = 0;

double hundredPanels()
{
    constexpr int Panels = 100, Events = 50;
    Farm farm(Panels, Events);
    farm.add({Action::DownloadEvents});
    // The station's own time: from the link leaving its call to the next dial.
    QElapsedTimer clock;
    clock.start();
    qint64 hungUp = -1;
    g_gaps.clear();
    PanelLink::LinkPhase last = farm.st.trans.phase();
    QObject::connect(&farm.st.trans, &PanelLink::viewChanged, farm.runner.get(), [&] {
        const PanelLink::LinkPhase now = farm.st.trans.phase();
        if (now == last)
            return;
        if (last == PanelLink::LinkPhase::Connected && now == PanelLink::LinkPhase::Idle)
            hungUp = clock.nsecsElapsed();
        if (now == PanelLink::LinkPhase::Calling && hungUp >= 0)
            g_gaps.push_back((clock.nsecsElapsed() - hungUp) / 1e6);
        last = now;
    });
    QElapsedTimer total;
    total.start();
    farm.runner->start();
    farm.runUntil(Panels);
    const double ms = total.elapsed();
    g_turns = 0;
    for (const QString& n : farm.bank.numbers())
        g_turns += int(farm.bank.panel(n)->received.size());
    // Per panel: the clock read every connection starts with, one event
    // request per answer of 3 records and the empty one that ends the log,
    // and the end request.
    const int perAnswer = farm.bank.panel(farm.bank.numbers().first())->state.eventsPerAnswer;
    g_minimum = Panels * (1 + (Events + perAnswer - 1) / perAnswer + 1 + 1);
    return ms;
}

QString hundredNote()
{
    const double worst = g_gaps.empty() ? 0 : *std::max_element(g_gaps.begin(), g_gaps.end());
    return QStringLiteral("hang-up to next dial: median %1 ms, worst %2 ms over %3 gaps; turns %4 vs minimum %5 (%6 %)")
        .arg(bench::median(g_gaps), 0, 'f', 2)
        .arg(worst, 0, 'f', 2)
        .arg(g_gaps.size())
        .arg(g_turns)
        .arg(g_minimum)
        .arg(g_minimum ? 100.0 * (g_turns - g_minimum) / g_minimum : 0, 0, 'f', 1);
}

double residentMb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double g_growth = 0;

double fiveHundredItems()
{
    Farm farm(100, 0);
    farm.add({Action::SetClock}, 6);
    farm.runner->start();
    // The first round fills the caches the rest reuses.
    farm.runUntil(100);
    const double before = residentMb();
    QElapsedTimer t;
    t.start();
    farm.runUntil(600);
    g_growth = residentMb() - before;
    return t.elapsed();
}

QString growthNote()
{
    return QStringLiteral("resident memory grew %1 MB over 500 items").arg(g_growth, 0, 'f', 2);
}

double cpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double g_idlePercent = 0;

double sleepingRunner()
{
    constexpr int MeasuredMs = 30000;
    Farm farm(1, 0, false);
    farm.queue.later = QDateTime::currentDateTime().addSecs(3600);
    farm.runner->start();
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double before = cpuMs();
    QTimer::singleShot(MeasuredMs, &loop, &QEventLoop::quit);
    loop.exec();
    const double used = cpuMs() - before;
    g_idlePercent = 100.0 * used / MeasuredMs;
    return used;
}

QString idleNote()
{
    return QStringLiteral("%1 % of a core").arg(g_idlePercent, 0, 'f', 3);
}

bench::Register panels100("jobs: 100 panels x 50 events over the modem (ms)", "gap < 1 s, turns within 5 %", 1, hundredPanels,
                          hundredNote);
bench::Register items500("jobs: 500 items in one process (ms)", "memory growth < 5 MB", 1, fiveHundredItems, growthNote);
bench::Register idle("jobs: runner asleep until its next item (CPU ms in 30 s)", "< 2 % of a core", 1, sleepingRunner,
                     idleNote);

} // namespace
