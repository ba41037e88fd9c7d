// Memory map transfer: building a subscriber's image, storing a read answer
// that completes several sections, and a whole upload over loopback UDP
// against the simulator, counting scheduler turns.

#include "bench.h"
#include "big_subscriber.h"

#include "app/station.h"
#include "session/mdl_main.h"
#include "communicator.h"
#include "data/db.h"
#include "link/datagramsocket_qt.h"
#include "link/linkconsole.h"
#include "link/mdl_trans.h"
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
    void wf_muestraabonado(qint32) override {}
    void wf_muestrasecciones() override {}
    void wf_muestraeventos() override {}
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
    mdl_trans link;
    link.setHost(&bench::station());
    link.forTestSetWritePending(true);
    QElapsedTimer t;
    t.start();
    const bool ok = link.f_cargatransferencia(1);
    const double ms = t.nsecsElapsed() / 1e6;
    if (!ok || link.progressTotal() != 100)
        qFatal("the image was not loaded");
    return ms;
});

bench::Register storeAnswer("read answer of 16 bytes completing sections", "5 ms", 9, [] {
    bigSubscriber();
    mdl_trans link;
    link.setHost(&bench::station());
    link.forTestSetReadPending(true);
    link.f_cargatransferencia(1);
    // A run over the last bytes of one section, the gap and the start of the
    // next, after marks that make three sections end within it: sections
    // shortened to 8 bytes at 0, 8 and 16 of the image.
    for (int a = 0; a < 24; ++a)
        link.forTestSetAddress(a, a / 8, 2);
    link.forTestSetAddress(24, mdl_trans::NoSection, 0);
    link.forTestSetRun(4, 20);
    link.rxFrame[0] = 0;
    for (int k = 1; k <= 16; ++k)
        link.rxFrame[size_t(k)] = k;
    link.rxCount = 17;
    QElapsedTimer t;
    t.start();
    link.f_recibememoria(17);
    return t.nsecsElapsed() / 1e6;
});

// Whole upload of 2,000 marked bytes over loopback UDP: the turns taken
// against the runs the protocol needs (one per 16 contiguous bytes).
int lastTurns = 0, lastRuns = 0, lastTicks = 0;

bench::Register upload(
    "upload of 2,000 bytes over UDP (turns)", "runs + 1 turns", 1,
    [] {
        bench::freshStation();
        QSqlDatabase c = bench::station().main.db();
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        const quint16 port = probe.localPort();
        probe.close();
        db::exec(c, "UPDATE configuracion SET ip_port = ?", {port});
        db::exec(c, "INSERT INTO paneles VALUES (8, 'UP', '1', '2', 0)");
        db::exec(c, "INSERT INTO secciones (id_panel, id_seccion, tipo, long, posicion, descripcion) "
                    "VALUES (8, 1, 4, 4000, 100, 'S')");
        db::exec(c, "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, "
                    "numero, localidad, id_provincia, tel_1) VALUES (2, '0002', 8, 1, 'A', 'N', 'C', '1', 'L', 1, '5')");
        db::exec(c, "INSERT INTO abonados_valores VALUES (2, 1, 1, ?, 1)", {QString(4000, QLatin1Char('A'))});
        bench::station().main.portOpen = true;

        Console console;
        console.il_abonado = 2;
        console.il_panel = 8;
        console.is_password_db = "1234";
        console.is_strpanel = "1";
        panelsim::Panel panel;
        panelsim::Communicator comm(&panel);
        comm.options.stationPort = port;
        comm.options.callBackDelayMs = 0;
        QtUdpSocketAdapter ip;
        ip.setBindAddress(QHostAddress(QHostAddress::LocalHost));
        mdl_trans link;
        link.setHost(&bench::station());
        link.setConsole(&console);
        link.setDevices(nullptr, &ip);
        if (!comm.open())
            qFatal("no communicator");
        link.f_esperaip();
        comm.callStation();
        QElapsedTimer wait;
        wait.start();
        const auto pump = [&](const std::function<bool()>& done) {
            while (!done() && wait.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        };
        pump([&] { return link.connected(); });
        link.forTestSetWritePending(true);
        link.f_cargatransferencia(2);
        int turns = 0, ticks = 0;
        QElapsedTimer t;
        t.start();
        while (link.connected() && link.writePending() && wait.elapsed() < 60000) {
            const int before = link.framesSent();
            while (link.framesSent() == before && link.writePending()) {
                link.tick();
                ++ticks;
            }
            ++turns;
            pump([&] { return link.awaitingAnswer() == 0; });
        }
        const double ms = t.nsecsElapsed() / 1e6;
        lastTurns = turns;
        lastTicks = ticks;
        lastRuns = (2000 + 15) / 16;
        if (panel.state.programMemory.mid(100, 2000) != QByteArray(2000, char(0xAA)))
            qFatal("the upload did not reach the panel");
        return ms;
    },
    [] {
        return QStringLiteral("%1 turns, %2 ticks for %3 runs (the end of the write included; 4 ticks a run "
                              "is the answer's countdown of 3 and no idle turn)")
            .arg(lastTurns)
            .arg(lastTicks)
            .arg(lastRuns);
    });

} // namespace
