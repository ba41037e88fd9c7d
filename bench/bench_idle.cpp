// What the station costs while nobody touches it: the process's CPU time
// over 30 s of the real event loop, with the real 100 ms timer, at the login
// dialog and with the console connected to the simulator polling status.

#include "bench.h"

#include "app/station.h"

#include "session/mdl_main.h"
#include "app/ui_shell.h"
#include "communicator.h"
#include "console/w_panel.h"
#include "data/db.h"
#include "data/seed.h"
#include "link/panel_link.h"
#include "panel.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUdpSocket>

#include <sys/resource.h>

namespace {

constexpr int MeasuredMs = 30000;
double lastPercent = 0;

double cpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU milliseconds spent over the measured time, after a second to settle
// (first paint, the login's placement).
double idleCpu()
{
    runEventLoop(1000);
    const double before = cpuMs();
    runEventLoop(MeasuredMs);
    const double used = cpuMs() - before;
    lastPercent = 100.0 * used / MeasuredMs;
    return used;
}

QString percentNote()
{
    return QStringLiteral("%1 % of a core").arg(lastPercent, 0, 'f', 2);
}

bench::Register atLogin("idle at the login dialog (CPU ms in 30 s)", "600 ms, 2 % of a core", 1, [] {
    bench::freshStation();
    double used = 0;
    {
        AppShell shell(bench::station());
        shell.onEnd = [](int) {};
        bench::station().main.initialize(shell);
        if (!shell.login() || !shell.login()->isVisible())
            qFatal("no login dialog");
        used = idleCpu();
    }
    bench::endStation();
    return used;
}, percentNote);

bench::Register consolePolling("idle console polling the simulator by IP (CPU ms in 30 s)", "600 ms, 2 % of a core", 1, [] {
    bench::freshStation();
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const quint16 port = probe.localPort();
    probe.close();
    seed::loadDemoSubscribers(bench::station().main.db());
    db::exec(bench::station().main.db(), "UPDATE configuracion SET ip_port = ?", {port});

    // The simulator runs in this process: its share is counted too.
    panelsim::Panel panel;
    panelsim::Communicator comm(&panel);
    comm.options.stationPort = port;
    if (!comm.open())
        qFatal("no communicator");

    double used = 0;
    {
        AppShell shell(bench::station());
        shell.onEnd = [](int) {};
        bench::station().main.initialize(shell);
        if (!shell.login())
            qFatal("no login dialog");
        shell.login()->sle_password->setText(QStringLiteral("1234"));
        shell.login()->cb_aceptar->trigger();
        if (shell.ended || bench::station().main.currentUser() != 1)
            qFatal("the login failed");
        w_main* main = shell.mainWindow();
        auto* console = qobject_cast<w_panel*>(main->showChild(QStringLiteral("cb_panel")));
        console->showSubscriber(1);
        panel.state.panelCode = console->m_subscriber.protocolCode.toInt();
        panel.state.accessCode = console->m_subscriber.accessCode;
        console->Command1->click();
        comm.callStation();
        PanelLink& link = bench::station().trans;
        for (int i = 0; i < 100 && !link.connected(); ++i)
            runEventLoop(50);
        if (!link.connected())
            qFatal("the simulator did not connect");
        const int before = link.scheduler().answersReceived[2];
        used = idleCpu();
        if (link.scheduler().answersReceived[2] - before < 40)
            qFatal("the console did not poll (%d status answers)", link.scheduler().answersReceived[2] - before);
        link.endSession();
        link.closeIpSocket();
    }
    bench::endStation();
    return used;
}, percentNote);

} // namespace
