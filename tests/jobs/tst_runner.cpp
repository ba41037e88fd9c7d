// The job runner against the simulator's many-panel modem over a real
// pseudo-terminal: retries of a busy panel, a number nobody answers, a
// subscriber another station holds, the actions' order and the end frames,
// the operator taking the line, a transfer cut and resumed, and the queue
// failing under the runner.

#include "common/job_rig.h"

#include "app/ui_startup_hooks.h"
#include "app/w_main.h"
#include "console/w_panel.h"
#include "data/lock_store.h"
#include "data/subscriber_hold.h"
#include "jobs/job_service.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

using namespace jobs;
using panelsim::Panel;

namespace {

// The test's SIGTERM handler writes to the service's end of a socket pair,
// as sorvent-tareas does.
int signalFd = -1;
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalFd, &c, 1);
}

// Request codes as the panel received them, in order, without the status polls.
QList<int> requests(const Panel* p)
{
    QList<int> out;
    for (const panelsim::Request& r : p->received)
        if (r.code != 2 && r.code != 12 && (out.isEmpty() || out.last() != r.code))
            out << r.code;
    return out;
}

} // namespace

class tst_runner : public QObject {
    Q_OBJECT
private slots:
    void queueOfFour();
    void databaseQueue();
    void operatorTakesTheLine();
    void refusalsAndFailures();
    void callBackOverIp();
    void doubleCall();
    void consoleAsksForTheLine();
    void keypadAsksForTheLine();
    void serviceStopsOnSignal();
    void programOnDirectory();
    void stationSaysTheQueueStopped();
};

void tst_runner::queueOfFour()
{
    JobRig rig;
    Panel* busy = rig.addPanel(1, 2);
    Panel* held = rig.addPanel(3);
    Panel* plain = rig.addPanel(4, 0, 5);
    rig.markForUpload(4, 2);
    const QDateTime t0 = rig.clock.t;
    // Listed out of order: the clock goes first, the upload last.
    const QList<Action> all{Action::UploadMarked, Action::DownloadEvents, Action::SetClock};
    for (int n = 1; n <= 4; ++n)
        rig.queue.add(n, all, t0);
    rig.holds.others.insert(3, locks::Holder{QStringLiteral("ANA"), QStringLiteral("CONSOLA2"), QStringLiteral("2024-08-15 20:10:00")});
    plain->setClock(QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
    QVERIFY(rig.start());

    // The first round: each subscriber once.
    QVERIFY(rig.drive([&] { return rig.done.size() == 4; }));
    QCOMPARE(rig.queue.outcomesOf(3), QList<Outcome>{Outcome::HeldElsewhere});
    QCOMPARE(rig.done.at(2).second.detail, QStringLiteral("En uso por ANA en CONSOLA2 desde 20:10"));
    QCOMPARE(held->received.size(), 0);
    QCOMPARE(rig.holds.mine, QList<qint32>{}); // every hold given back
    rig.holds.others.clear();

    QVERIFY(rig.driveUntilIdle());
    QCOMPARE(rig.queue.outcomesOf(1), (QList<Outcome>{Outcome::Busy, Outcome::Busy, Outcome::Done}));
    QCOMPARE(rig.queue.outcomesOf(2), (QList<Outcome>{Outcome::NoAnswer, Outcome::NoAnswer, Outcome::NoAnswer}));
    QCOMPARE(rig.queue.outcomesOf(3), (QList<Outcome>{Outcome::HeldElsewhere, Outcome::Done}));
    QCOMPARE(rig.queue.outcomesOf(4), QList<Outcome>{Outcome::Done});
    QCOMPARE(rig.modem.dialled.count(JobRig::phone(1)), 3);
    // A retry waits its ten minutes.
    QCOMPARE(rig.queue.results.at(4).item.subscriber, 1);
    QVERIFY(rig.queue.results.at(4).result.start >= rig.queue.results.at(0).result.end.addSecs(600));

    // Subscriber 4: clock, events, upload, in that order, then the end
    // frames; what was stored is counted.
    QCOMPARE(requests(plain), (QList<int>{10, 8, 6, 1, 0, 5}));
    QCOMPARE(plain->clock().date(), rig.clock.t.date());
    const ItemResult r4 = rig.queue.results.last().result.outcome == Outcome::Done &&
                                  rig.queue.results.last().item.subscriber == 4
                              ? rig.queue.results.last().result
                              : [&] {
                                    for (const auto& t : rig.queue.results)
                                        if (t.item.subscriber == 4)
                                            return t.result;
                                    return ItemResult{};
                                }();
    QCOMPARE(r4.events, 5);
    QCOMPARE(r4.sectionsSent, 2);
    QCOMPARE(rig.marked(4), 0);
    QCOMPARE(db::scalar(rig.st.main.db(), QStringLiteral("SELECT COUNT(*) FROM abonados_eventos WHERE id_abonado = 4")).toInt(), 5);
    for (Panel* p : {busy, held, plain})
        QCOMPARE(p->requestsOf(5), 1);
    QVERIFY(!rig.link.connected());
    QVERIFY(!rig.com.isOpen());
    QVERIFY(rig.runner->running());
    QCOMPARE(rig.runner->wakesAt(), std::optional<QDateTime>{});
    QVERIFY(rig.st.messages.shown.isEmpty());
}

void tst_runner::databaseQueue()
{
    // The whole way: a job saved as the window saves it, the station's
    // queue and holds, and the simulator's demo panels ("5550001" busy for
    // two calls, "5550002") plus subscriber 4's; subscriber 5's number
    // answers nobody, and subscriber 3 is held by another station's console
    // for the first round (only a server has other stations).
    JobRig rig(5);
    QSqlDatabase c = rig.st.main.db();
    QString why;
    QVERIFY2(rig.bank.load(qEnvironmentVariable("SORVENT_SCRIPTS") + "/../tools/panelsim/demo-paneles.json", &why),
             qPrintable(why));
    for (const QString& n : rig.bank.numbers())
        rig.bank.panel(n)->hostClock = rig.clock.fn();
    Panel* busy = rig.bank.panel(JobRig::phone(1));
    Panel* plain = rig.addPanel(4, 0, 4);
    rig.addPanel(3);
    busy->setClock(QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
    db::exec(c, QStringLiteral("UPDATE abonados SET tel_1 = '5550099' WHERE id_abonado = 5"));

    Job job;
    job.name = QStringLiteral("NOCHE");
    job.actions = {Action::DownloadEvents, Action::SetClock};
    job.subscribers = {1, 2, 3, 4, 5};
    job.triesAtOnce = 2;
    job.moreTries = 1;
    job.waitMinutes = 10;
    QCOMPARE(saveJob(c, job, rig.clock.t), QString());

    const bool server = testOnServer();
    QSqlDatabase other;
    if (server) {
        other = db::openAnother(QStringLiteral("otra-estacion"), c);
        QVERIFY(locks::acquire(other, 3, QStringLiteral("ANA"), QStringLiteral("CONSOLA2")));
    }
    DatabaseJobQueue queue(c);
    DatabaseHoldStore holds([&rig] { return rig.st.main.db(); }, [] { return QStringLiteral("TAREAS"); });
    QVERIFY(rig.start(queue, holds));
    const auto idle = [&] { return !queue.nextDue() && !rig.runner->onPanel(); };

    const auto triedThird = [&] {
        for (const auto& d : rig.done)
            if (d.first.subscriber == 3)
                return true;
        return false;
    };
    QVERIFY(rig.drive(triedThird));
    if (server) {
        QCOMPARE(rig.done.last().second.outcome, Outcome::HeldElsewhere);
        QCOMPARE(rig.bank.panel(JobRig::phone(3))->received.size(), 0);
        locks::release(other, 3);
    }
    QVERIFY(rig.drive(idle));
    QVERIFY2(rig.failures.isEmpty(), qPrintable(rig.failures.join("; ")));

    QMap<int, QStringList> outcomes;
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_abonado, resultado, intento, eventos FROM tareas_resultados "
                                             "WHERE id_tarea = ? ORDER BY id_resultado"),
                           {job.id});
    QMap<int, int> events;
    while (db::next(q)) {
        outcomes[q.value(0).toInt()] << q.value(1).toString();
        events[q.value(0).toInt()] += q.value(3).toInt();
    }
    QCOMPARE(outcomes[1], (QStringList{"ocupado", "ocupado", "hecha"}));
    QCOMPARE(outcomes[2], QStringList{"hecha"});
    QCOMPARE(outcomes[3], server ? (QStringList{"en uso", "hecha"}) : QStringList{"hecha"});
    QCOMPARE(outcomes[4], QStringList{"hecha"});
    QCOMPARE(outcomes[5], (QStringList{"no contesta", "no contesta", "no contesta"}));
    QCOMPARE(rig.modem.dialled.count(QStringLiteral("5550099")), 3);
    QCOMPARE(db::scalar(c, QStringLiteral("SELECT count(*) FROM tareas_cola WHERE estado = 'fallida'")).toInt(), 1);
    QCOMPARE(db::scalar(c, QStringLiteral("SELECT count(*) FROM tareas_cola WHERE estado = 'hecha'")).toInt(), 4);
    // Events stored as counted; clocks set.
    for (int n : {1, 2, 4}) {
        const int stored =
            db::scalar(c, QStringLiteral("SELECT count(*) FROM abonados_eventos WHERE id_abonado = ?"), {n}).toInt();
        QCOMPARE(stored, n == 1 ? 3 : n == 2 ? 1 : 4);
        QCOMPARE(events[n], stored);
    }
    QCOMPARE(busy->clock().date(), rig.clock.t.date());
    QCOMPARE(plain->requestsOf(5), 1);
    // Every hold given back; nothing of a job opened a box.
    QVERIFY(!locks::heldByOther(other.isValid() ? other : c, 3));
    QVERIFY(rig.st.messages.shown.isEmpty());
    QVERIFY(rig.st.messages.asked.isEmpty());
    if (server)
        db::close(QStringLiteral("otra-estacion"));
}

void tst_runner::operatorTakesTheLine()
{
    JobRig rig(3);
    Panel* first = rig.addPanel(1);
    rig.addPanel(3);
    rig.markForUpload(1, 6);
    const int marks = rig.marked(1);
    rig.queue.add(1, {Action::UploadMarked}, rig.clock.t);
    rig.queue.add(3, {Action::SetClock}, rig.clock.t);
    QVERIFY(rig.start());

    // Yes: the upload stops where it is, the call ends with its end frames,
    // and what was not sent stays marked.
    QVERIFY(rig.drive([&] { return first->requestsOf(1) >= 3; }));
    QCOMPARE(rig.runner->jobOnLine(), 1);
    rig.runner->operatorTakesLine(true);
    QVERIFY(rig.drive([&] { return rig.done.size() == 1; }));
    QCOMPARE(rig.done.at(0).second.outcome, Outcome::Cancelled);
    QCOMPARE(first->requestsOf(5), 1);
    const int left = rig.marked(1);
    QVERIFY(left > 0 && left < marks);
    // The operator has the line: nothing starts while it is theirs.
    for (int i = 0; i < 50; ++i)
        rig.link.tick();
    QCoreApplication::processEvents();
    QCOMPARE(rig.queue.claims, 1);
    QCOMPARE(rig.runner->jobOnLine(), 0);

    // Given back: the runner goes on with the next item, and while it is on
    // it the operator asks without interrupting: that panel is finished,
    // and then the runner waits.
    rig.runner->operatorLeavesLine();
    QVERIFY(rig.drive([&] { return rig.runner->onPanel(); }));
    QCOMPARE(rig.runner->jobOnLine(), 3);
    rig.runner->operatorTakesLine(false);
    QVERIFY(rig.drive([&] { return rig.done.size() == 2; }));
    QCOMPARE(rig.done.at(1).second.outcome, Outcome::Done);
    QVERIFY(rig.runner->operatorHasLine());
    rig.clock.t = rig.clock.t.addSecs(3600);
    rig.runner->queueChanged();
    QCoreApplication::processEvents();
    QCOMPARE(rig.queue.claims, 2);

    // The retry of the cut upload sends only what was left.
    rig.runner->operatorLeavesLine();
    QVERIFY(rig.driveUntilIdle());
    QCOMPARE(rig.done.last().second.outcome, Outcome::Done);
    QCOMPARE(rig.marked(1), 0);
    QCOMPARE(rig.done.last().second.sectionsSent + rig.done.at(0).second.sectionsSent, 6);
}

void tst_runner::refusalsAndFailures()
{
    JobRig rig(3);
    rig.addPanel(3);
    // "Subir cambios" without read-back is refused with the console's
    // reason; the other actions still run. A deleted subscriber is said.
    db::exec(rig.st.main.db(), QStringLiteral("UPDATE configuracion SET verificar_subidas = 0"));
    rig.queue.add(3, {Action::UploadChanges, Action::SetClock}, rig.clock.t);
    rig.queue.add(77, {Action::DownloadEvents}, rig.clock.t);
    QVERIFY(rig.start());
    QVERIFY(rig.drive([&] { return rig.done.size() == 2; }));
    QCOMPARE(rig.done.at(0).second.outcome, Outcome::Refused);
    QCOMPARE(rig.done.at(0).second.detail, QStringLiteral("Subir cambios necesita la verificación de las subidas (Parámetros)"));
    QCOMPARE(rig.bank.panel(JobRig::phone(3))->requestsOf(8), 1);
    QCOMPARE(rig.done.at(1).second.outcome, Outcome::SubscriberGone);

    // The queue fails (a lost server): the runner stops with one message
    // and claims nothing more.
    rig.queue.add(3, {Action::SetClock}, rig.clock.t.addSecs(60));
    rig.queue.failure = db::Error(QStringLiteral("Se perdió la conexión con el servidor"), false, db::Fault::Lost);
    QVERIFY(rig.drive([&] { return !rig.runner->running(); }, 2000));
    QCOMPARE(rig.failures, QStringList{QStringLiteral("Se perdió la conexión con el servidor")});
    QCOMPARE(rig.runner->failure(), QStringLiteral("Se perdió la conexión con el servidor"));
    rig.queue.failure.reset();
    rig.runner->queueChanged();
    rig.drive([] { return false; }, 20);
    QCOMPARE(rig.done.size(), 2);
}

void tst_runner::callBackOverIp()
{
    // As the console's keys: the wait over IP, then the dial asks the panel
    // to call back; the actions go over IP.
    JobRig rig(3);
    Panel* third = rig.addPanel(3);
    panelsim::Communicator comm{&rig.nobody};
    comm.options.stationPort = rig.ipPort;
    comm.options.callBackDelayMs = 0;
    QVERIFY(comm.open());
    rig.modem.route = [&](const QString& number, QByteArray* result) {
        Panel* p = rig.bank.route(number, result);
        if (p)
            comm.usePanel(p);
        return p;
    };
    rig.queue.add(3, {Action::SetClock}, rig.clock.t, Reach::IpCallBack);
    QVERIFY(rig.start());
    QVERIFY(rig.driveUntilIdle());
    QCOMPARE(rig.queue.outcomesOf(3), QList<Outcome>{Outcome::Done});
    QCOMPARE(third->requestsOf(8), 1);
    // The modem leg ends at once asking for the call-back; the clock and the
    // end of the session go over IP.
    QList<QPair<int, panelsim::Via>> seen;
    for (const panelsim::Request& r : third->received)
        if ((r.code == 5 || r.code == 8) && (seen.isEmpty() || seen.last() != qMakePair(r.code, r.via)))
            seen << qMakePair(r.code, r.via);
    QCOMPARE(seen, (QList<QPair<int, panelsim::Via>>{{5, panelsim::Via::Modem}, {8, panelsim::Via::Ip}, {5, panelsim::Via::Ip}}));
    QVERIFY(!rig.link.waitingForCall());
}

void tst_runner::doubleCall()
{
    // A panel that answers only a call following an abandoned one: a plain
    // dial finds nobody, the double call reaches it.
    JobRig rig(3);
    Panel* third = rig.addPanel(3);
    rig.modem.options.requireDoubleCall = true;
    rig.queue.add(3, {Action::SetClock}, rig.clock.t, Reach::DoubleCall);
    QVERIFY(rig.start());
    // Ticks by hand outrun the simulator: the first leg rings until the
    // modem has seen the dial, or it never knows the call was abandoned.
    QVERIFY(rig.drive([&] { return rig.link.phase() == PanelLink::LinkPhase::Ringing; }));
    QVERIFY(waitFor([&] { return rig.modem.dialled.size() == 1; }));
    QVERIFY(rig.driveUntilIdle());
    QCOMPARE(rig.queue.outcomesOf(3), QList<Outcome>{Outcome::Done});
    QCOMPARE(rig.modem.dialled.count(JobRig::phone(3)), 2);
    QCOMPARE(third->requestsOf(8), 1);
}

void tst_runner::consoleAsksForTheLine()
{
    JobRig rig(3);
    rig.addPanel(1);
    Panel* third = rig.addPanel(3);
    rig.queue.add(1, {Action::DownloadEvents}, rig.clock.t);
    rig.queue.add(3, {Action::DownloadEvents}, rig.clock.t);
    QVERIFY(rig.start());
    auto console = std::make_unique<w_panel>(rig.st.ctx, rig.link);
    QVERIFY(rig.drive([&] { return rig.link.connected(); }));
    auto click = [&](const char* name) {
        QTest::mouseClick(console->findChild<QWidget*>(QLatin1String(name)), Qt::LeftButton);
    };
    const QString question = QStringLiteral("Hay una tarea en curso con el abonado 1. ¿La interrumpe?");

    // No (the default): the job finishes its panel, then the line waits
    // for the operator until the console closes.
    click("img_connect");
    QCOMPARE(rig.st.messages.asked, QStringList{question});
    QCOMPARE(rig.st.messages.defaults, QList<MessageService::Default>{MessageService::Default::No});
    QVERIFY(rig.link.connected());
    QVERIFY(rig.drive([&] { return rig.done.size() == 1; }));
    QCOMPARE(rig.done.at(0).second.outcome, Outcome::Done);
    rig.drive([] { return false; }, 30);
    QCOMPARE(rig.queue.claims, 1);
    console.reset();
    QVERIFY(rig.drive([&] { return rig.link.connected(); }));
    QCOMPARE(rig.runner->jobOnLine(), 3);

    // A console opened now leaves the job's call alone; Yes ends it at once
    // with its end frames.
    console = std::make_unique<w_panel>(rig.st.ctx, rig.link);
    QVERIFY(rig.link.connected());
    rig.st.messages.clear();
    rig.st.messages.answers.enqueue(true);
    click("st_end_t");
    QCOMPARE(rig.st.messages.asked, QStringList{QStringLiteral("Hay una tarea en curso con el abonado 3. ¿La interrumpe?")});
    QVERIFY(!rig.link.connected());
    QVERIFY(waitFor([&] { return third->requestsOf(5) == 1; }));
    QVERIFY(rig.drive([&] { return rig.done.size() == 2; }));
    QCOMPARE(rig.done.at(1).second.outcome, Outcome::Cancelled);
    QVERIFY(rig.st.messages.shown.isEmpty());
}

void tst_runner::keypadAsksForTheLine()
{
    JobRig rig(3);
    rig.addPanel(1);
    Panel* third = rig.addPanel(3);
    rig.queue.add(1, {Action::DownloadEvents}, rig.clock.t);
    rig.queue.add(3, {Action::DownloadEvents}, rig.clock.t);
    w_main w{rig.st.ctx, rig.st.trans};
    registerWindows(w, rig.st);
    rig.link.setDevices(&rig.com, &rig.ip); // the simulator's line, not the frame's port
    QVERIFY(rig.start());
    QVERIFY(rig.drive([&] { return rig.link.connected(); }));

    // No: the job goes on and the keypad stays shut; the line is not kept
    // for a keypad that never opened.
    QVERIFY(!w.showChild(QStringLiteral("cb_teclado")));
    QCOMPARE(rig.st.messages.asked, QStringList{QStringLiteral("Hay una tarea en curso con el abonado 1. ¿La interrumpe?")});
    QVERIFY(rig.drive([&] { return rig.runner->jobOnLine() == 3 && rig.link.connected(); }));
    QCOMPARE(rig.done.size(), 1);
    QCOMPARE(rig.done.at(0).second.outcome, Outcome::Done);

    // Yes: the job's call ends with its end frames and the keypad opens on
    // the free line; the item is tried again once the keypad closes.
    rig.st.messages.answers.enqueue(true);
    QVERIFY(w.showChild(QStringLiteral("cb_teclado")));
    QVERIFY(rig.drive([&] { return rig.done.size() == 2; }));
    QVERIFY(waitFor([&] { return third->requestsOf(5) == 1; }));
    QCOMPARE(rig.done.at(1).second.outcome, Outcome::Cancelled);
    rig.clock.t = rig.clock.t.addSecs(3600);
    rig.runner->queueChanged();
    rig.drive([] { return false; }, 30);
    QCOMPARE(rig.queue.claims, 2);
    w.closeChild(QStringLiteral("cb_teclado"));
    QVERIFY(rig.driveUntilIdle());
    QCOMPARE(rig.queue.outcomesOf(3), (QList<Outcome>{Outcome::Cancelled, Outcome::Done}));
    QVERIFY(rig.st.messages.shown.isEmpty());
}

void tst_runner::serviceStopsOnSignal()
{
    JobRig rig(3);
    rig.addPanel(1);
    Panel* third = rig.addPanel(3);
    QVERIFY(rig.openModem());
    db::exec(rig.st.main.db(), QStringLiteral("UPDATE configuracion SET modem_port = 1, modem_mode = 'Modem'"));
    int fds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    signalFd = fds[0];
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    QCOMPARE(sigaction(SIGTERM, &sa, nullptr), 0);

    for (const bool betweenPanels : {true, false}) {
        jobs::JobService service(rig.st.dir());
        QString why;
        QVERIFY2(service.open(&why), qPrintable(why));
        // A second runner on the same port says so and does not start.
        {
            jobs::JobService second(rig.st.dir());
            QVERIFY(!second.open(&why));
            QVERIFY2(why.contains(QStringLiteral("ya lo usa otro ejecutor de tareas")), qPrintable(why));
        }
        service.stopWhenReadable(fds[1]);
        MemoryJobQueue queue;
        const QDateTime now = QDateTime::currentDateTime();
        queue.add(betweenPanels ? 1 : 3, {Action::DownloadEvents}, now.addSecs(-1));
        // The next one is due later: the runner sleeps between the panels.
        queue.add(1, {Action::SetClock}, betweenPanels ? now.addSecs(3600) : now.addSecs(-1));
        int exitCode = -1;
        connect(&service, &jobs::JobService::finished, this, [&exitCode](int code) { exitCode = code; });
        service.run(queue);
        PanelLink& link = service.link();
        if (betweenPanels)
            QVERIFY(driveLink(link, nullptr, nullptr, [&] { return queue.results.size() == 1 && service.runner()->wakesAt(); }));
        else
            QVERIFY(driveLink(link, nullptr, nullptr, [&] { return link.connected() && link.scheduler().answersReceived[10] > 0; }));
        ::raise(SIGTERM);
        QVERIFY(driveLink(link, nullptr, nullptr, [&] { return exitCode != -1; }));
        QCOMPARE(exitCode, 0);
        // Nothing more was claimed; a call under way ended with its end frames.
        QCOMPARE(queue.claims, 1);
        QCOMPARE(queue.results.size(), 1);
        QCOMPARE(queue.results.at(0).result.outcome, betweenPanels ? Outcome::Done : Outcome::Cancelled);
        if (!betweenPanels)
            QVERIFY(waitFor([&] { return third->requestsOf(5) == 1; }));
        QVERIFY(!link.connected());
    }
    signal(SIGTERM, SIG_DFL);
    ::close(fds[0]);
    ::close(fds[1]);
}

void tst_runner::programOnDirectory()
{
    // sorvent-tareas itself on a station's program directory, against the
    // simulator program's demo panels: the due job is run and recorded,
    // a second runner on the same port refuses to start, and SIGTERM ends
    // the first one cleanly.
    TestStation st(true, true);
    QSqlDatabase c = st.main.db();
    db::exec(c, QStringLiteral("UPDATE configuracion SET modem_port = 1, modem_mode = 'Modem'"));
    Job job;
    job.name = QStringLiteral("NOCHE");
    job.actions = {Action::DownloadEvents};
    job.subscribers = {2};
    QCOMPARE(saveJob(c, job, QDateTime::currentDateTime()), QString());

    const QString bin = QCoreApplication::applicationDirPath();
    QProcess sim;
    sim.start(bin + QStringLiteral("/sorvent-panelsim"),
              {QStringLiteral("--dir"), st.dir(), QStringLiteral("--dial-delay"), QStringLiteral("0"), QStringLiteral("--quiet"),
               QStringLiteral("--paneles"), qEnvironmentVariable("SORVENT_SCRIPTS") + "/../tools/panelsim/demo-paneles.json"});
    QVERIFY(sim.waitForStarted());
    QVERIFY(waitFor([&] { return QFileInfo(st.path(QStringLiteral("COM1"))).isSymLink(); }));

    QProcess first;
    first.start(bin + QStringLiteral("/sorvent-tareas"), {QStringLiteral("--directorio"), st.dir()});
    QVERIFY(first.waitForStarted());
    const auto results = [&] {
        return db::scalar(c, QStringLiteral("SELECT count(*) FROM tareas_resultados WHERE id_tarea = ?"), {job.id}).toInt();
    };
    QVERIFY2(waitFor([&] { return results() == 1; }, 60000), first.readAllStandardError().constData());

    QProcess second;
    second.start(bin + QStringLiteral("/sorvent-tareas"), {QStringLiteral("--directorio"), st.dir()});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitCode(), 2);
    QVERIFY2(second.readAllStandardError().contains("ya lo usa otro ejecutor de tareas"), "the second runner says why");

    first.terminate();
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    QFile log(st.path(QStringLiteral("sorvent.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("fin de sorvent-tareas")));
    QCOMPARE(db::scalar(c, QStringLiteral("SELECT resultado FROM tareas_resultados WHERE id_tarea = ?"), {job.id}).toString(),
             QStringLiteral("hecha"));
    QCOMPARE(db::scalar(c, QStringLiteral("SELECT count(*) FROM abonados_eventos WHERE id_abonado = 2")).toInt(), 1);
    QCOMPARE(results(), 1);
    sim.write("salir\n");
    QVERIFY(sim.waitForFinished(5000));
}

QTEST_MAIN(tst_runner)
void tst_runner::stationSaysTheQueueStopped()
{
    // The station's own runner on a queue that fails (a full disk): one box
    // for the whole queue, then nothing more is claimed.
    TestStation st;
    MemoryJobQueue queue;
    queue.add(1, {Action::SetClock}, st.main.now());
    queue.add(2, {Action::SetClock}, st.main.now());
    queue.failure = db::Error(QStringLiteral("No hay espacio en el disco"), false, db::Fault::DiskFull);
    QVERIFY(st.startJobRunner(queue));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QVERIFY(!st.jobRunner()->running());
    QCOMPARE(st.messages.shown.size(), 1);
    QVERIFY(st.messages.lastText().contains(QStringLiteral("No hay espacio en el disco")));
    st.stopJobRunner();
}

#include "tst_runner.moc"
