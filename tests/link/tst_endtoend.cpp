// The station's link with its real device adapters (QSerialPort on a
// pseudo-terminal, QUdpSocket on loopback) against the simulator's modem,
// panel and IP communicator, in process. Ticks are driven by hand; only the
// device traffic takes real (short) time.

#include "common/linkfakes.h"
#include "common/testsupport.h"

#include "session/mdl_main.h"
#include "communicator.h"
#include "data/db.h"
#include "link/datagramsocket_qt.h"
#include "link/panel_link.h"
#include "link/serialport_qt.h"
#include "modem.h"
#include "panel.h"

#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

using namespace panelsim;

namespace {

struct Session {
    TestStation st;
    FakeConsole console;
    FakeClock clock;
    QtSerialPortAdapter com{st.dir()};
    QtUdpSocketAdapter ip;
    PanelLink link;
    Panel panel;
    Modem modem{&panel};
    Communicator comm{&panel};
    quint16 ipPort = freeUdpPort();

    Session()
    {
        db::exec(st.main.db(), QStringLiteral("UPDATE configuracion SET ip_port = ?"), {ipPort});
        st.main.portOpened();
        link.setHost(&st);
        panel.hostClock = clock.fn();
        link.setClock(clock.fn());
        link.setConsole(&console);
        console.link = &link;
        link.setSubscriber(console.subscriber);
        com.setCommPort(1);
        com.setSettings(QStringLiteral("110,N,8,2"));
        ip.setBindAddress(QHostAddress(QHostAddress::LocalHost));
        link.setDevices(&com, &ip);
        modem.options.dialDelayMs = 0;
        modem.options.callBackDelayMs = 0;
        modem.options.ringIntervalMs = 20;
        comm.options.stationPort = ipPort;
        comm.options.callBackDelayMs = 0;
    }
    bool start()
    {
        return modem.open() && modem.linkAs(st.dir(), 1) && comm.open();
    }
    bool turn(bool answered = true) { return linkTurn(link, answered); }
};

} // namespace

class tst_endtoend : public QObject {
    Q_OBJECT
private slots:
    void modemSession();
    void modemCallBack();
    void doubleCall();
    void ipSession();
    void modemDialThenIpCallBack();
    void simulatorProgram();
    void dialResultCodes();
    void lineDrops();
    void lostDeviceEndsTheCall();
    void echoesAreNoAnswer();
    void callAgainAfterHangingUp();
    void numbersCarryNoCommands();
    void refusedPanelIsSaid();
};

void tst_endtoend::modemSession()
{
    Session s;
    s.modem.options.connectText = "CONNECT 9600/ARQ/V42";
    QVERIFY(s.start());
    s.panel.state.zonesOpen = 0x0011;
    s.panel.setClock(QDateTime(QDate(2024, 8, 15), QTime(20, 25)));
    s.link.resetModem();
    QVERIFY(waitFor([&] { return s.modem.commands.contains(QStringLiteral("ATZ")); }));

    // The call's events go to the diagnostics log.
    for (const char* line : {"marcando 5550101", "conectado por módem \\(9600 bps\\)", "Comunicación terminada"})
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QString::fromUtf8(line)));
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QVERIFY(waitFor([&] { return s.link.connection().lineSpeed == 9600; }));
    QCOMPARE(s.modem.dialled, QStringList{QStringLiteral("5550101")});
    QCOMPARE(s.link.view().statusLine, QStringLiteral("Conectado por módem (9600 bps)"));
    QVERIFY(!s.link.scheduler().frameError);
    // The rest of the connect line was the modem's: the first request still
    // waits its 15 ticks.
    for (int i = 0; i < 15; ++i)
        s.link.tick();
    QCOMPARE(s.link.scheduler().framesSent, 0);

    QVERIFY(s.turn());
    QVERIFY(s.link.clockKnown());
    QCOMPARE(s.link.view().toolTip("img_connect"), QStringLiteral("Conectado a 9600 bps"));
    QVERIFY(s.turn());
    QCOMPARE(s.link.view().caption("st_hora"), QStringLiteral("15/08/2024 20:25"));
    LinkView v = s.link.view();
    QCOMPARE(v.picture("img_zona_0"), QStringLiteral("rojo"));
    QCOMPARE(v.picture("img_zona_4"), QStringLiteral("rojo"));
    QCOMPARE(v.picture("img_zona_1"), QStringLiteral("gris"));
    QCOMPARE(v.picture("img_listo"), QStringLiteral("gris"));
    QCOMPARE(v.picture("img_particion_0"), QStringLiteral("verde"));

    // Zones close: the next poll shows it, and the panel is ready.
    s.panel.state.zonesOpen = 0;
    QVERIFY(s.turn());
    QCOMPARE(s.link.view().picture("img_zona_0"), QStringLiteral("gris"));
    QCOMPARE(s.link.view().picture("img_listo"), QStringLiteral("verde"));

    s.console.armingMode = 3;
    QVERIFY(s.link.queueCommand(PanelLink::CmdArm));
    QVERIFY(s.turn());
    QVERIFY(s.panel.state.armed);
    QCOMPARE(s.panel.state.armMode, 3);
    QCOMPARE(s.link.view().picture("img_armado"), QStringLiteral("rojo"));
    QVERIFY(!s.link.scheduler().frameError);
    QCOMPARE(s.panel.ignored, 0);

    QVERIFY(s.link.hangUp());
    QVERIFY(s.turn(false));
    QVERIFY(!s.link.connected());
    QVERIFY(!s.com.isOpen());
    // The panel took the end request and hung up; the other two end frames
    // reached a modem in command mode.
    QVERIFY(waitFor([&] { return s.modem.line() == Modem::Line::Command && s.panel.requestsOf(5) == 1; }));
    QCOMPARE(s.panel.received.last().bytes, (QList<int>{0x12, 0x34, 1, 5, 0}));
    QVERIFY(!s.modem.callBackPending());
}

void tst_endtoend::modemCallBack()
{
    Session s;
    QVERIFY(s.start());
    s.link.toggleModemWait(s.console.subscriber);
    QVERIFY(waitFor([&] { return s.modem.autoAnswer() == 1; }));
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.link.connection().endAfterConnect);
    // The first turn is the end request: the panel calls back, the modem
    // answers (auto-answer armed again) and the link comes up normally.
    QVERIFY(s.turn(false));
    QVERIFY(!s.link.connected());
    QVERIFY(s.link.waitingForConnect());
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(!s.link.connection().endAfterConnect);
    QVERIFY(s.modem.commands.count(QStringLiteral("ATS0=1")) >= 2);
    QVERIFY(s.turn());
    QCOMPARE(s.link.rxFrame()[0], 10);
    QCOMPARE(s.panel.requestsOf(5), 1);
    QCOMPARE(s.link.view().picture("Img_wait_call"), QStringLiteral("verde"));
}

void tst_endtoend::doubleCall()
{
    Session s;
    s.modem.options.requireDoubleCall = true;
    QVERIFY(s.start());
    QVERIFY(s.link.dialDoubleCall(s.console.subscriber));
    QVERIFY(waitFor([&] { return s.modem.line() == Modem::Line::Dialling; }));
    for (int i = 0; i < 100; ++i)
        s.link.tick();
    // Hung up after the ringing: the panel notes the abandoned call.
    QVERIFY(waitFor([&] { return s.modem.line() == Modem::Line::Command && !s.modem.lineOpen(); }));
    for (int i = 0; i < 100; ++i)
        s.link.tick();
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QCOMPARE(s.modem.dialled.size(), 2);
    QVERIFY(s.turn());
    QVERIFY(s.link.clockKnown());
}

void tst_endtoend::ipSession()
{
    Session s;
    QVERIFY(s.start());
    s.panel.state.faults = 0x05;
    s.panel.state.pgm = 0x05;
    s.panel.state.partition = 2;
    s.link.pressIpButton(s.console.subscriber);
    QVERIFY(s.link.ipMode() && s.ip.isBound());
    QCOMPARE(s.ip.localPort(), s.ipPort);
    s.comm.callStation();
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.link.ipMode() && !s.link.connection().endAfterConnect);
    QVERIFY(s.turn());
    QVERIFY(s.link.clockKnown());
    QVERIFY(s.turn());
    QCOMPARE(s.link.view().picture("img_fallas"), QStringLiteral("azul"));
    QCOMPARE(s.link.status().partition, 2);
    QCOMPARE(s.link.status().pgmMask, 0x05);
    // The fault lamp is lit: asking for faults shows them on the zones.
    QVERIFY(s.link.queueCommand(PanelLink::CmdFaults));
    QVERIFY(s.turn());
    QVERIFY(s.link.status().faultView);
    QCOMPARE(s.link.view().picture("img_zona_0"), QStringLiteral("azul"));
    QCOMPARE(s.link.view().picture("img_zona_2"), QStringLiteral("azul"));
    QCOMPARE(s.link.view().picture("img_zona_1"), QStringLiteral("gris"));
    QVERIFY(s.link.partitionClick(1));
    QVERIFY(s.turn());
    QCOMPARE(s.panel.state.partition, 1);
    QVERIFY(s.turn());
    QCOMPARE(s.link.status().partition, 1);

    QVERIFY(s.link.hangUp());
    QVERIFY(s.turn(false));
    QVERIFY(waitFor([&] { return s.panel.requestsOf(5) == 3; }));
    // Waiting for the panel was the way in: it ends too.
    QVERIFY(!s.link.connected() && !s.link.waitingForCall() && !s.ip.isBound());
}

void tst_endtoend::modemDialThenIpCallBack()
{
    Session s;
    QVERIFY(s.start());
    s.link.pressIpButton(s.console.subscriber);
    // Dialling while waiting over IP: the panel is to call back over IP.
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QVERIFY(s.link.connection().ipCallBack);
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(!s.link.ipMode() && s.link.connection().endAfterConnect);
    QVERIFY(s.turn(false));
    QVERIFY(s.link.ipMode() && s.link.waitingForConnect());
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.link.ipMode());
    QCOMPARE(s.comm.calls, 1);
    QVERIFY(s.turn());
    QVERIFY(s.link.clockKnown());
    QCOMPARE(s.panel.received.last().via, Via::Ip);
}

void tst_endtoend::simulatorProgram()
{
    Session s;
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/sorvent-panelsim");
    QVERIFY(QFile::exists(program));
    QProcess sim;
    sim.start(program, {QStringLiteral("--dir"), s.st.dir(), QStringLiteral("--com"), QStringLiteral("1"),
                        QStringLiteral("--dial-delay"), QStringLiteral("0"), QStringLiteral("--zones"),
                        QStringLiteral("3"), QStringLiteral("--access-code"), QStringLiteral("ab12"),
                        QStringLiteral("--quiet"), QStringLiteral("--state-out"), s.st.path(QStringLiteral("sim.json"))});
    QVERIFY(sim.waitForStarted());
    QVERIFY(waitFor([&] { return QFileInfo(s.st.path(QStringLiteral("COM1"))).isSymLink(); }));
    s.console.subscriber.accessCode = QStringLiteral("AB12");
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.turn());
    QVERIFY(s.turn());
    QCOMPARE(s.link.view().picture("img_zona_2"), QStringLiteral("rojo"));
    // By default it speaks like a real modem: a speed after CONNECT.
    QCOMPARE(s.link.connection().lineSpeed, 2400);
    QVERIFY(!s.link.scheduler().frameError);
    s.link.hangUp();
    QVERIFY(s.turn(false));
    QJsonArray received;
    QVERIFY(waitFor([&] {
        QFile f(s.st.path(QStringLiteral("sim.json")));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        received = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("received")).toArray();
        return received.size() == 3;
    }));
    QCOMPARE(received[0].toObject().value(QStringLiteral("code")).toInt(), 10);
    QCOMPARE(received[2].toObject().value(QStringLiteral("code")).toInt(), 5);
    sim.write("salir\n");
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
}

void tst_endtoend::dialResultCodes()
{
    Session s;
    QVERIFY(s.start());
    QSignalSpy status(&s.link, &PanelLink::lineMessage);
    const std::pair<const char*, const char*> codes[] = {
        {"BUSY", "Ocupado"}, {"NO DIALTONE", "Sin tono de marcado"}, {"NO ANSWER", "No contesta"},
        {"NO CARRIER", "Sin portadora"}, {"ERROR", "Error del módem"},
    };
    // No tick is driven: only the modem's answer can end these dials.
    for (const auto& [code, reason] : codes) {
        s.modem.options.dialResult = code;
        QVERIFY(s.link.dialDirect(s.console.subscriber));
        QVERIFY2(waitFor([&] { return !s.link.dialling(); }), code);
        QVERIFY(!s.link.connected() && !s.com.isOpen());
        QCOMPARE(s.link.view().picture("img_connect"), QStringLiteral("rojo"));
        QCOMPARE(s.link.view().toolTip("img_connect"), QString::fromUtf8(reason));
        QCOMPARE(status.last().value(0).toString(), QString::fromUtf8(reason));
    }
    // In call-back mode a busy line goes back to waiting for the panel.
    s.modem.options.dialResult = "BUSY";
    s.link.toggleModemWait(s.console.subscriber);
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QVERIFY(waitFor([&] { return !s.link.dialling(); }));
    QVERIFY(s.link.waitingForConnect() && s.com.isOpen());
    QCOMPARE(s.link.view().toolTip("Img_wait_call"), QStringLiteral("Ocupado"));
    QVERIFY(waitFor([&] { return s.modem.commands.count(QStringLiteral("ATS0=1")) == 2; }));
}

void tst_endtoend::lineDrops()
{
    Session s;
    QVERIFY(s.start());
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.turn());
    // The line drops under the session: ended at once, without an end
    // request, and idle.
    QVERIFY(s.modem.dropLine());
    QVERIFY(waitFor([&] { return !s.link.connected(); }));
    QVERIFY(!s.com.isOpen() && !s.link.waitingForCall());
    QCOMPARE(s.link.view().toolTip("img_connect"), QStringLiteral("Sin portadora"));
    QCOMPARE(s.panel.requestsOf(5), 0);

    // In call-back mode the station waits for the panel's call again.
    s.link.toggleModemWait(s.console.subscriber);
    QVERIFY(s.link.connection().lineReason.isEmpty());
    QVERIFY(waitFor([&] { return s.modem.autoAnswer() == 1; }));
    s.modem.callStation();
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.turn());
    QVERIFY(s.modem.dropLine());
    QVERIFY(waitFor([&] { return !s.link.connected(); }));
    QVERIFY(s.link.waitingForConnect() && s.com.isOpen());
    QCOMPARE(s.link.view().toolTip("Img_wait_call"), QStringLiteral("Sin portadora"));
    QVERIFY(waitFor([&] { return s.modem.commands.count(QStringLiteral("ATS0=1")) == 2; }));
    s.modem.callStation();
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.turn());
    QCOMPARE(s.panel.requestsOf(5), 0);
}

// The modem is unplugged during a call: the call ends as a hang-up, message
// 102 once, the port is freed and opens again when asked.
void tst_endtoend::lostDeviceEndsTheCall()
{
    Session s;
    Pty line;
    QVERIFY(line.ok() && line.linkAs(s.st.dir(), 1));
    s.st.main.attachPort(&s.com);
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QByteArray heard;
    QVERIFY(waitFor([&] { return (heard += line.readAvailable()).contains("ATDT5550101\r"); }));
    line.write("\r\nCONNECT\r\n");
    QVERIFY(waitFor([&] { return s.link.connected(); }));

    line.close();
    QVERIFY(waitFor([&] { return !s.link.connected() && !s.st.messages.shown.isEmpty(); }));
    QCOMPARE(s.link.view().picture("img_connect"), QStringLiteral("rojo"));
    QCOMPARE(s.st.messages.lastTitle(), QStringLiteral("Error 102"));
    QVERIFY(!s.com.isOpen());
    QCOMPARE(s.st.main.portStatusPicture(), QStringLiteral("modem_no"));
    for (int i = 0; i < 200; ++i)
        s.link.tick();
    QCoreApplication::processEvents();
    QCOMPARE(s.st.messages.shown.size(), 1);

    // Plugged in again: what a click on the modem panel runs opens it.
    Pty again;
    QVERIFY(again.ok() && again.linkAs(s.st.dir(), 1));
    int port = 1;
    QVERIFY(s.st.main.openPort(1, port, QStringLiteral("Modem")));
    QVERIFY(s.com.isOpen());
    QCOMPARE(s.st.main.portStatusPicture(), QStringLiteral("modem_si"));
}

// The modem hung up without a word (its port was reopened under the call)
// and, back in command mode, echoes every request: an echo is no answer,
// and ten requests without one end the call.
void tst_endtoend::echoesAreNoAnswer()
{
    Session s;
    QVERIFY(s.start());
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QVERIFY(waitFor([&] { return s.link.connected(); }));
    QVERIFY(s.turn());
    s.com.close();
    QVERIFY(waitFor([&] { return s.modem.line() == Modem::Line::Command; }));
    QVERIFY(s.com.open());
    for (int i = 0; i < 15 && s.link.connected(); ++i) {
        const int echoes = s.link.scheduler().rejectedAnswers;
        QVERIFY(s.turn(false));
        if (s.link.connected())
            QVERIFY(waitFor([&] { return s.link.scheduler().rejectedAnswers > echoes; }));
    }
    QVERIFY(!s.link.connected());
    QCOMPARE(s.link.view().statusLine, QStringLiteral("Colgado: el panel no respondió a 10 pedidos"));
}

// "Cortar", then "Llamar": the modem's "NO CARRIER" of the hang-up and the
// echoes of the last end frames wait in the line, and are not the new
// dial's result.
void tst_endtoend::callAgainAfterHangingUp()
{
    Session s;
    QVERIFY(s.start());
    for (int call = 1; call <= 2; ++call) {
        QVERIFY(s.link.dialDirect(s.console.subscriber));
        QVERIFY2(waitFor([&] { return s.link.connected(); }), qPrintable(s.link.view().statusLine));
        QVERIFY(s.turn());
        QVERIFY(s.link.hangUp());
        QVERIFY(s.turn(false));
        QVERIFY(waitFor([&] { return s.modem.line() == Modem::Line::Command && s.panel.requestsOf(5) == call; }));
    }
    QCOMPARE(s.modem.dialled.size(), 2);
}

// A number with anything but dial characters never reaches the modem: a
// carriage return in it would carry modem commands of its own.
void tst_endtoend::numbersCarryNoCommands()
{
    Session s;
    Pty line;
    QVERIFY(line.ok() && line.linkAs(s.st.dir(), 1));
    for (const char* bad : {"5550001\rATH\rAT&F\rATDT666", "555\n0001", "5550001 x"}) {
        s.console.phone = QString::fromLatin1(bad);
        QVERIFY(!s.link.dialDirect(s.console.subscriber));
        QVERIFY(!s.link.dialling() && !s.com.isOpen());
        QVERIFY2(s.link.view().statusLine.startsWith(
                     QStringLiteral("No se marcó: el número de teléfono tiene un carácter que no se puede marcar")),
                 qPrintable(s.link.view().statusLine));
    }
    QVERIFY(s.link.view().statusLine.endsWith(QStringLiteral("(«x»)")));
    // Every dial character goes out as it is, and nothing went before it.
    s.console.phone = QStringLiteral("(011) 555-0001,W*#!@;P2T");
    QVERIFY(s.link.dialDirect(s.console.subscriber));
    QByteArray heard;
    QVERIFY(waitFor([&] { return (heard += line.readAvailable()).endsWith('\r'); }));
    QCOMPARE(heard, QByteArray("ATDT(011) 555-0001,W*#!@;P2T\r"));
}

// A panel the allowed list refuses, while the station waits over IP: the
// log and the status line say why nothing happens.
void tst_endtoend::refusedPanelIsSaid()
{
    Session s;
    QVERIFY(s.start());
    db::exec(s.st.main.db(), QStringLiteral("UPDATE configuracion SET ip_permitidas = '10.0.0.7'"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("panel no permitido \\(127\\.0\\.0\\.1\\)")));
    s.link.pressIpButton(s.console.subscriber);
    QVERIFY(s.link.waitingForConnect() && s.link.ipMode());
    s.comm.callStation();
    QVERIFY(waitFor([&] { return s.link.connection().refusedPanels == 1; }));
    QVERIFY(!s.link.connected());
    QCOMPARE(s.link.view().statusLine,
             QStringLiteral("Se rechazó un panel no permitido: 127.0.0.1. Esperando la llamada del panel por IP en el puerto %1")
                 .arg(s.ipPort));
    QVERIFY(s.link.view().toolTip(QStringLiteral("img_IP")).contains(QStringLiteral("Paneles no permitidos: 1 (el último 127.0.0.1)")));
}

QTEST_GUILESS_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
