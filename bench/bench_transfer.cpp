// Memory map transfer: building a subscriber's image, storing a read answer
// that completes several sections, and a whole upload over loopback UDP
// against the simulator, counting scheduler turns.

#include "bench.h"
#include "link_test_access.h"
#include "big_subscriber.h"

#include "app/station.h"
#include "session/mdl_main.h"
#include "communicator.h"
#include "data/db.h"
#include "link/datagramsocket_qt.h"
#include "link/linkconsole.h"
#include "link/panel_link.h"
#include "panel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUdpSocket>

namespace {

struct Console : LinkConsole {
    int armingModeIndex() const override { return 0; }
    bool restrictedCodeChecked() const override { return false; }
    QString restrictedCode() const override { return {}; }
    QString telephone() const override { return {}; }
    void sessionStarted(qint32) override {}
    void showSections() override {}
    void showEvents() override {}
};

// The big subscriber with every value marked for upload, built once.
void bigSubscriber()
{
    static bool ready = false;
    if (ready)
        return;
    ready = true;
    bench::freshStation();
    seedBigSubscriber(true);
}


bench::Register loadImage("memory image of 3,000 values", "10 ms", 9, [] {
    bigSubscriber();
    PanelLink link;
    link.setHost(&bench::station());
    link.requestTransfer(PanelLink::Transfer::Write);
    QElapsedTimer t;
    t.start();
    const bool ok = link.loadTransfer({1, 1, QString(), QString()});
    const double ms = t.nsecsElapsed() / 1e6;
    if (!ok || link.transfer().progressTotal != 100)
        qFatal("the image was not loaded");
    return ms;
});

bench::Register storeAnswer("read answer of 16 bytes completing sections", "5 ms", 9, [] {
    bigSubscriber();
    PanelLink link;
    link.setHost(&bench::station());
    link.requestTransfer(PanelLink::Transfer::Read);
    link.loadTransfer({1, 1, QString(), QString()});
    // A run over the last bytes of one section, the gap and the start of the
    // next, after marks that make three sections end within it: sections
    // shortened to 8 bytes at 0, 8 and 16 of the image.
    for (int a = 0; a < 24; ++a)
        LinkTestAccess::setAddress(link, a, a / 8, 2);
    LinkTestAccess::setAddress(link, 24, PanelLink::NoSection, 0);
    LinkTestAccess::setRun(link, 4, 20);
    QList<int> answer{0};
    for (int k = 1; k <= 16; ++k)
        answer << k;
    LinkTestAccess::setAnswer(link, answer);
    QElapsedTimer t;
    t.start();
    LinkTestAccess::takeMemoryAnswer(link, 17);
    return t.nsecsElapsed() / 1e6;
});

// Whole upload of 2,000 marked bytes over loopback UDP: the turns taken
// against the runs the protocol needs (one per 16 contiguous bytes), without
// and with the read-back, and "Subir cambios" after one changed value.
struct UploadCount {
    int turns = 0, ticks = 0, writes = 0, reads = 0;
};
UploadCount lastPlain, lastVerified, lastChanges;
constexpr int UploadRuns = (2000 + 15) / 16;

class UploadRig {
public:
    explicit UploadRig(bool verify)
    {
        bench::freshStation();
        QSqlDatabase c = bench::station().main.db();
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        const quint16 port = probe.localPort();
        probe.close();
        db::exec(c, "UPDATE configuracion SET ip_port = ?, verificar_subidas = ?", {port, verify ? 1 : 0});
        db::exec(c, "INSERT INTO paneles VALUES (8, 'UP', '1', '2', 0)");
        db::exec(c, "INSERT INTO secciones (id_panel, id_seccion, tipo, long, posicion, descripcion) "
                    "VALUES (8, 1, 4, 4000, 100, 'S')");
        db::exec(c, "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, "
                    "numero, localidad, id_provincia, tel_1) VALUES (2, '0002', 8, 1, 'A', 'N', 'C', '1', 'L', 1, '5')");
        db::exec(c, "INSERT INTO abonados_valores VALUES (2, 1, 1, ?, 1)", {QString(4000, QLatin1Char('A'))});
        bench::station().main.portOpened();
        subscriber = {2, 8, QStringLiteral("1234"), QStringLiteral("1")};
        comm.options.stationPort = port;
        comm.options.callBackDelayMs = 0;
        ip.setBindAddress(QHostAddress(QHostAddress::LocalHost));
        link.setHost(&bench::station());
        link.setConsole(&console);
        link.setDevices(nullptr, &ip);
        if (!comm.open())
            qFatal("no communicator");
        link.setSubscriber(subscriber);
        link.waitForIpCall();
        comm.callStation();
        wait.start();
        pump([&] { return link.connected(); });
    }
    // Turns until the write ends, counted with the runs the panel saw.
    UploadCount writeAll()
    {
        UploadCount n;
        const int writes = panel.requestsOf(1), reads = panel.requestsOf(0);
        while (link.connected() && link.writePending() && wait.elapsed() < 60000) {
            const int before = link.scheduler().framesSent;
            while (link.scheduler().framesSent == before && link.writePending()) {
                link.tick();
                ++n.ticks;
            }
            ++n.turns;
            pump([&] { return link.scheduler().awaitingAnswer == 0; });
        }
        n.writes = panel.requestsOf(1) - writes;
        n.reads = panel.requestsOf(0) - reads;
        return n;
    }
    bool panelHolds(char byte) const { return panel.state.programMemory.mid(100, 2000) == QByteArray(2000, byte); }

    Console console;
    LinkSubscriber subscriber;
    panelsim::Panel panel;
    panelsim::Communicator comm{&panel};
    QtUdpSocketAdapter ip;
    PanelLink link;

private:
    void pump(const std::function<bool()>& done)
    {
        while (!done() && wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QElapsedTimer wait;
};

double timedUpload(bool verify, UploadCount& out)
{
    UploadRig rig(verify);
    rig.link.requestTransfer(PanelLink::Transfer::Write);
    rig.link.loadTransfer(rig.subscriber);
    QElapsedTimer t;
    t.start();
    out = rig.writeAll();
    const double ms = t.nsecsElapsed() / 1e6;
    if (!rig.panelHolds(char(0xAA)))
        qFatal("the upload did not reach the panel");
    return ms;
}

QString turnsNote(const UploadCount& n)
{
    return QStringLiteral("%1 turns, %2 ticks, %3 write and %4 read runs for %5 runs of data (the end of the write "
                          "included; 4 ticks a run is the answer's countdown of 3 and no idle turn)")
        .arg(n.turns)
        .arg(n.ticks)
        .arg(n.writes)
        .arg(n.reads)
        .arg(UploadRuns);
}

bench::Register upload("upload of 2,000 bytes over UDP, not verified (turns)", "runs + 1 turns", 1,
                       [] { return timedUpload(false, lastPlain); }, [] { return turnsNote(lastPlain); });

bench::Register verifiedUpload("verified upload of 2,000 bytes over UDP (turns)", "2 x runs + 1 turns", 1,
                               [] { return timedUpload(true, lastVerified); }, [] { return turnsNote(lastVerified); });

bench::Register changesUpload(
    "\"Subir cambios\" after one changed value (runs)", "1 write run + 1 read run", 1,
    [] {
        UploadRig rig(true);
        rig.link.requestTransfer(PanelLink::Transfer::Write);
        rig.link.loadTransfer(rig.subscriber);
        rig.writeAll();
        // One byte changed in the station.
        db::exec(bench::station().main.db(), "UPDATE abonados_valores SET valor = ? WHERE id_abonado = 2",
                 {QStringLiteral("AB") + QString(3998, QLatin1Char('A'))});
        QElapsedTimer t;
        t.start();
        if (rig.link.uploadChanges(rig.subscriber) != PanelLink::ChangesUpload::Started)
            qFatal("nothing to send");
        lastChanges = rig.writeAll();
        const double ms = t.nsecsElapsed() / 1e6;
        if (rig.panel.state.programMemory.at(100) != char(0xAB))
            qFatal("the change did not reach the panel");
        return ms;
    },
    [] { return turnsNote(lastChanges); });

} // namespace
