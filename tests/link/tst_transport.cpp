// Dialling, the double call, waiting for the panel's call, connect
// detection, ending a connection and the routing of received data, on fake
// devices with ticks driven by hand.

#include "common/linkrig.h"

#include <QtTest>

class tst_transport : public QObject {
    Q_OBJECT
private slots:
    void modemReset();
    void dialConnectsOnSplitKeyword();
    void dialTimesOutRed();
    void endDuringDialStopsAtOnce();
    void failedDialGoesBackToWaiting();
    void callBackDialEndsOnFirstTurnThenWaits();
    void doubleCall();
    void waitingScansForTheKeyword();
    void datagramsConnectOnlyWithConnectIp();
    void endingVariants();
    void consoleToggles();
    void portOrSocketUnavailable();
    void keypadOwnsTheSerialEvents();
    void trafficColours();
    void modemWordsOnlyOutsideFrames();
    void ipSessionBelongsToItsPanel();
    void lostSerialDeviceEndsTheLink_data();
    void lostSerialDeviceEndsTheLink();
};

void tst_transport::modemReset()
{
    LinkRig r;
    r.com.open();
    r.link.resetModem();
    QCOMPARE(r.com.closes, 1);
    QCOMPARE(r.com.takeWritten(), QByteArray("ATZ\r"));
    r.st.main.portLost();
    r.link.resetModem();
    QVERIFY(!r.com.isOpen());
    QVERIFY(r.com.written.isEmpty());
}

void tst_transport::dialConnectsOnSplitKeyword()
{
    LinkRig r;
    r.show({7, 1, QStringLiteral("1234"), QStringLiteral("1")});
    r.link.dial(QStringLiteral("5550101"), 900);
    QCOMPARE(r.com.takeWritten(), QByteArray("ATDT5550101\r"));
    QVERIFY(r.link.dialling());
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("amarillo"));
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Marcando 5550101…"));
    for (char c : QByteArray("ATDT5550101\r\r\nCONNEC"))
        r.com.receive(QByteArray(1, c));
    r.ticks(5);
    QVERIFY(r.link.dialling() && !r.link.connected());
    r.com.receive("T");
    QVERIFY(r.link.connected());
    QVERIFY(!r.link.dialling());
    QCOMPARE(r.link.scheduler().pendingCommand, int(PanelLink::CmdReadClock));
    QCOMPARE(r.link.scheduler().waitCountdown, 15);
    QVERIFY(!r.link.connection().endAfterConnect);
    QCOMPARE(r.console.shownSubscribers, QList<qint32>{7});
    QCOMPARE(r.link.accessCode(), QStringLiteral("1234"));
    // Not green before the panel has answered once.
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("amarillo"));
    QCOMPARE(r.link.view().toolTip("img_connect"), QStringLiteral("Conectado, sin respuesta del panel"));
    // The rest of the modem's line is no frame: it gives the speed.
    r.com.receive(" 1200/ARQ\r\n");
    QVERIFY(!r.link.scheduler().frameError);
    QCOMPARE(r.link.scheduler().waitCountdown, 15);
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Conectado por módem (1200 bps)"));
    r.firstTurn();
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("verde"));
    QCOMPARE(r.link.view().toolTip("img_connect"), QStringLiteral("Conectado a 1200 bps"));
}

void tst_transport::dialTimesOutRed()
{
    LinkRig r;
    r.link.dial(QStringLiteral("1"), 900);
    r.ticks(899);
    QVERIFY(r.link.dialling());
    r.link.tick();
    QVERIFY(!r.link.dialling());
    QVERIFY(!r.com.isOpen());
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("rojo"));
    QVERIFY(!r.link.waitingForCall() && !r.link.connected());
    QCOMPARE(r.link.view().statusLine, QStringLiteral("No se pudo conectar: no hubo conexión en 90 s"));
    // The scheduler stays quiet afterwards.
    r.com.takeWritten();
    r.ticks(50);
    QVERIFY(r.com.written.isEmpty());
}

void tst_transport::endDuringDialStopsAtOnce()
{
    LinkRig r;
    QVERIFY(!r.link.hangUp()); // nothing to end
    QVERIFY(r.link.dialDirect(r.console.subscriber));
    QVERIFY(!r.link.dialDirect(r.console.subscriber)); // a second click while dialling
    QCOMPARE(r.com.opens, 1);
    QVERIFY(r.link.hangUp());
    QVERIFY(!r.link.dialling());
    QVERIFY(!r.com.isOpen());
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("gris"));
    QCOMPARE(r.link.scheduler().pendingCommand, 0);
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Llamada cancelada"));
    // A CONNECT arriving late changes nothing.
    r.com.receive("CONNECT");
    QVERIFY(!r.link.connected());
}

void tst_transport::failedDialGoesBackToWaiting()
{
    // Over the modem.
    {
        LinkRig r;
        r.link.toggleModemWait(r.console.subscriber);
        QVERIFY(r.link.waitingForCall() && r.link.waitingForConnect());
        QCOMPARE(r.com.takeWritten(), QByteArray("ATS0=1\r"));
        QCOMPARE(r.link.view().picture("Img_wait_call"), QStringLiteral("amarillo"));
        r.link.dialDirect(r.console.subscriber);
        QVERIFY(!r.link.waitingForConnect());
        QCOMPARE(r.com.takeWritten(), QByteArray("ATDT5550101\r"));
        r.ticks(900);
        QVERIFY(!r.link.dialling());
        QCOMPARE(r.com.takeWritten(), QByteArray("ATS0=1\r"));
        QVERIFY(r.com.isOpen() && r.link.waitingForCall() && r.link.waitingForConnect() && !r.link.ipMode());
    }
    // Over IP: dialling while waiting on the socket asks for an IP call-back.
    {
        LinkRig r;
        r.link.pressIpButton(r.console.subscriber);
        QVERIFY(r.link.ipMode() && r.link.waitingForCall());
        QCOMPARE(r.link.view().picture("img_IP"), QStringLiteral("amarillo"));
        r.link.dialDirect(r.console.subscriber);
        QVERIFY(r.link.connection().ipCallBack && !r.link.ipMode());
        r.ticks(900);
        QVERIFY(r.link.ipMode() && r.link.waitingForCall() && r.link.waitingForConnect());
        QVERIFY(!r.link.connection().ipCallBack);
        QCOMPARE(r.link.view().statusLine, QStringLiteral("No se pudo conectar: no hubo conexión en 90 s. "
                                                          "Esperando la llamada del panel por IP en el puerto 5000"));
        QCOMPARE(r.ip.binds, (QList<quint16>{5000, 5000}));
        QVERIFY(r.ip.isBound());
    }
}

void tst_transport::callBackDialEndsOnFirstTurnThenWaits()
{
    LinkRig r;
    r.link.toggleModemWait(r.console.subscriber);
    r.link.dialDirect(r.console.subscriber);
    r.com.takeWritten();
    r.com.receive("CONNECT");
    QVERIFY(r.link.connected() && r.link.connection().endAfterConnect);
    QCOMPARE(r.link.view().picture("Img_wait_call"), QStringLiteral("amarillo"));
    QCOMPARE(r.ticksUntilSent(), 16);
    const QByteArray written = r.com.takeWritten();
    const auto frames = splitFrames(written);
    QCOMPARE(frames.size(), 3);
    QCOMPARE(requestBytes(frames[0]), (QList<int>{0x12, 0x34, 1, 5, 0}));
    // Hung up (port closed and reopened) and waiting for the panel's call.
    QVERIFY(written.endsWith("ATS0=1\r"));
    QCOMPARE(r.com.closes, 2);
    QVERIFY(!r.link.connected() && r.link.waitingForCall() && r.link.waitingForConnect());
    // Asking for the call-back is no failed connection.
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Esperando la llamada del panel por módem"));
    QCOMPARE(r.console.failedConnections, 0);
    // The panel calls back: a normal connection, no end on the first turn.
    r.com.receive("RING\r\nCONNECT\r\n");
    QVERIFY(r.link.connected() && !r.link.connection().endAfterConnect);
    r.ticks(16);
    QCOMPARE(requestBytes(r.com.takeWritten()).value(3), 10);
}

void tst_transport::doubleCall()
{
    LinkRig r;
    QVERIFY(r.link.dialDoubleCall(r.console.subscriber));
    QCOMPARE(r.com.takeWritten(), QByteArray("ATDT5550101\r"));
    QCOMPARE(r.link.view().picture("img_connect_AMO"), QStringLiteral("amarillo"));
    // Ringing: the modem's answers are not read.
    r.com.receive("CONNECT");
    QVERIFY(!r.link.connected());
    r.ticks(100);
    QVERIFY(!r.com.isOpen());
    QVERIFY(r.link.dialling());
    QCOMPARE(r.link.view().picture("img_connect_AMO"), QStringLiteral("verde"));
    r.ticks(99);
    QVERIFY(r.com.written.isEmpty());
    r.link.tick();
    QCOMPARE(r.com.takeWritten(), QByteArray("ATDT5550101\r"));
    QCOMPARE(r.link.view().picture("img_connect_AMO"), QStringLiteral("gris"));
    r.ticks(299);
    QVERIFY(r.link.dialling());
    r.com.receive("CONNECT");
    QVERIFY(r.link.connected());

    // Cancelled during the pause in call-back mode with an IP call-back
    // asked: back to waiting on the socket.
    LinkRig c;
    c.link.pressIpButton(c.console.subscriber);
    c.link.dialDoubleCall(c.console.subscriber);
    c.ticks(150);
    QVERIFY(c.link.hangUp());
    QVERIFY(!c.link.dialling());
    QVERIFY(c.link.ipMode() && c.link.waitingForConnect());
    c.ticks(400);
    QVERIFY(c.com.written.endsWith("ATDT5550101\r") && c.com.writes.size() == 1);
}

void tst_transport::waitingScansForTheKeyword()
{
    LinkRig r;
    r.link.waitForModemCall();
    // Characters arriving before the wait are not the link's.
    QCOMPARE(r.link.connection().receiveBuffer.size(), 0);
    QRandomGenerator rng(7);
    for (int i = 0; i < 3000; ++i) {
        r.com.receive(QByteArray(1, char("CONECT ORING\r\n"[rng.bounded(14)])));
        if (r.link.connected())
            break;
        QVERIFY(r.link.connection().receiveBuffer.size() <= 7);
    }
    if (!r.link.connected()) {
        for (char c : QByteArray("CONNECT"))
            r.com.receive(QByteArray(1, c));
    }
    QVERIFY(r.link.connected());
    QVERIFY(!r.link.waitingForConnect());
    QVERIFY(r.link.waitingForCall());
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("gris"));
}

void tst_transport::datagramsConnectOnlyWithConnectIp()
{
    LinkRig r;
    // Not waiting: datagrams are dropped.
    r.ip.arrive("CONNECT IP");
    QVERIFY(!r.link.connected());
    r.link.waitForIpCall();
    QCOMPARE(r.ip.binds, QList<quint16>{5000});
    r.ip.arrive("CONNECT", 4001);
    r.ip.arrive("xxxxxxxxxxxxxxxxxxxxxxxxxCONNECT", 4001);
    QVERIFY(!r.link.connected());
    QVERIFY(r.link.connection().receiveBuffer.size() <= 10);
    // Serial text is not the link's while it waits on the socket.
    r.com.open();
    r.com.receive("CONNECT IP");
    QVERIFY(!r.link.connected());
    r.ip.arrive("CONNECT IP", 4002, QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(r.link.connected() && r.link.ipMode());
    QCOMPARE(r.link.view().st_rx, LinkColour::Blue);
    // Requests go to the sender of the last datagram.
    r.ticks(16);
    QCOMPARE(r.ip.sent.size(), 1);
    QCOMPARE(r.ip.sent[0].port, quint16(4002));
    QCOMPARE(r.ip.sent[0].host, QHostAddress(QStringLiteral("127.0.0.2")));
    QCOMPARE(requestBytes(r.ip.sent[0].data).value(3), 10);
    QVERIFY(r.com.written.isEmpty());
    // Another port of the same host is another source: its answer is
    // dropped and the replies stay with the panel.
    const QHostAddress panel(QStringLiteral("127.0.0.2"));
    r.ip.arrive(answerFrame({10, 25, 20, 15, 8, 24}), 4003, panel);
    QVERIFY(!r.link.clockKnown() && !r.link.scheduler().frameError);
    QCOMPARE(r.link.connection().strangerDatagrams, 1);
    r.ip.arrive(answerFrame({10, 25, 20, 15, 8, 24}), 4002, panel);
    QVERIFY(r.link.clockKnown() && !r.link.scheduler().frameError);
    QCOMPARE(r.link.scheduler().waitCountdown, 3);
    r.ticks(4);
    QCOMPARE(r.ip.sent.last().port, quint16(4002));
    QCOMPARE(r.ip.sent.last().host, panel);
}

void tst_transport::endingVariants()
{
    // IP connection in call-back mode: the end stops waiting.
    {
        LinkRig r;
        r.connectIp();
        r.link.hangUp();
        r.ticks(16);
        QCOMPARE(r.ip.sent.size(), 3);
        QVERIFY(!r.link.connected() && !r.link.waitingForCall() && !r.link.ipMode());
        QVERIFY(!r.ip.isBound());
    }
    // A modem connection with the IP call-back asked by Command1.
    {
        LinkRig r;
        r.connectModem();
        r.link.pressIpButton(r.console.subscriber);
        QVERIFY(r.link.connection().ipCallBack);
        QCOMPARE(r.link.view().picture("img_IP"), QStringLiteral("naranja"));
        r.link.pressIpButton(r.console.subscriber);
        QVERIFY(!r.link.connection().ipCallBack);
        r.link.pressIpButton(r.console.subscriber);
        r.link.hangUp();
        r.ticks(16);
        const auto reqs = r.takeRequests();
        QCOMPARE(reqs.size(), 3);
        QCOMPARE(reqs[0].value(4), 1);
        QVERIFY(r.link.ipMode() && r.link.waitingForConnect() && r.ip.isBound());
    }
    // A plain modem connection: idle afterwards.
    {
        LinkRig r;
        r.connectModem();
        r.link.hangUp();
        r.ticks(16);
        QVERIFY(!r.link.connected() && !r.link.waitingForCall() && !r.com.isOpen());
        QCOMPARE(r.link.view().statusLine, QStringLiteral("Comunicación terminada"));
    }
}

void tst_transport::consoleToggles()
{
    LinkRig r;
    r.link.toggleModemWait(r.console.subscriber);
    QVERIFY(r.link.waitingForCall());
    r.link.toggleModemWait(r.console.subscriber);
    QVERIFY(!r.link.waitingForCall() && !r.link.waitingForConnect() && !r.com.isOpen());
    QCOMPARE(r.link.view().picture("Img_wait_call"), QStringLiteral("gris"));

    r.connectIp();
    QVERIFY(!r.link.dialDirect(r.console.subscriber));
    QVERIFY(r.link.ipMode() && !r.link.connection().ipCallBack);
    r.link.toggleModemWait(r.console.subscriber);
    r.link.pressIpButton(r.console.subscriber); // an IP link: no call-back switch
    QVERIFY(r.link.connected() && r.link.waitingForCall() && !r.link.connection().ipCallBack);
    r.link.stopWaiting();
    r.link.waitForModemCall();
    QVERIFY(r.link.ipMode() && r.link.connected());

    // Commands need a link and nothing pending.
    r.link.endSession();
    QVERIFY(!r.link.queueCommand(PanelLink::CmdArm));
    r.connectModem();
    r.link.setPendingCommand(0);
    QVERIFY(!r.link.queueCommand(5));
    QVERIFY(!r.link.queueCommand(PanelLink::CmdPgm, 8));
    QVERIFY(r.link.queueCommand(PanelLink::CmdPanic));
    QCOMPARE(r.link.view().picture("img_panico"), QStringLiteral("verde"));
    // "Cortar" replaces whatever was pending.
    QVERIFY(r.link.hangUp());
    QCOMPARE(r.link.scheduler().pendingCommand, int(PanelLink::CmdEnd));
    QCOMPARE(r.link.view().picture("img_panico"), QStringLiteral("gris"));
    QCOMPARE(r.link.view().picture("img_end"), QStringLiteral("verde"));
}

void tst_transport::portOrSocketUnavailable()
{
    LinkRig r;
    r.com.canOpen = false;
    r.link.dial(QStringLiteral("1"), 900);
    QVERIFY(!r.link.dialling() && !r.link.connected());
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("rojo"));
    r.link.dialTwice(QStringLiteral("1"));
    QVERIFY(!r.link.dialling());
    QCOMPARE(r.link.view().picture("img_connect_AMO"), QStringLiteral("rojo"));
    r.link.waitForModemCall();
    QVERIFY(!r.link.waitingForCall() && !r.link.waitingForConnect());
    QCOMPARE(r.link.view().picture("Img_wait_call"), QStringLiteral("rojo"));
    r.ticks(2000);
    QVERIFY(!r.link.dialling() && !r.link.connected());

    r.ip.canBind = false;
    r.link.waitForIpCall();
    QVERIFY(!r.link.waitingForCall() && !r.link.ipMode());
    QCOMPARE(r.link.view().picture("img_IP"), QStringLiteral("rojo"));
    QVERIFY(r.st.messages.shown.isEmpty());

    // No settings row: message 101 and no wait either.
    r.ip.canBind = true;
    db::exec(r.st.main.db(), QStringLiteral("DELETE FROM configuracion"));
    r.link.waitForIpCall();
    QVERIFY(!r.link.waitingForCall());
    QCOMPARE(r.st.messages.lastTitle(), QStringLiteral("Error 101"));
    QVERIFY(r.ip.binds.size() == 1);
}

void tst_transport::keypadOwnsTheSerialEvents()
{
    LinkRig r;
    r.link.waitForModemCall();
    QList<int> events;
    r.link.setKeypad([&events](int e) { events << e; });
    r.com.receive("CONNECT");
    QVERIFY(!r.link.connected());
    QCOMPARE(events.size(), 7);
    QCOMPARE(r.com.inBufferCount(), 7); // the keypad reads them itself
    QCOMPARE(r.link.view().st_rx, LinkColour::ButtonFace);
    QVERIFY(!r.link.dialDirect(r.console.subscriber));
    r.link.toggleModemWait(r.console.subscriber);
    QVERIFY(r.link.waitingForCall());

    // Idle: characters stay in the port's buffer.
    r.link.clearKeypad();
    r.link.stopWaiting();
    r.com.open();
    r.com.receive("RING");
    QCOMPARE(r.com.inBufferCount(), 4);
}

void tst_transport::trafficColours()
{
    LinkRig r;
    // Idle: the modem's answer to its reset lights nothing.
    r.link.resetModem();
    r.com.receive("OK\r\n");
    QCOMPARE(r.link.view().st_rx, LinkColour::ButtonFace);
    r.connectModem();
    r.com.receive("x");
    QCOMPARE(r.link.view().st_rx, LinkColour::Red);
    emit r.com.commEvent(SerialPort::EvSend);
    QCOMPARE(r.link.view().st_tx, LinkColour::Green);
    QCOMPARE(r.link.view().st_rx, LinkColour::ButtonFace);
    r.link.endSession();
    r.connectIp();
    r.ticks(16);
    QCOMPARE(r.link.view().st_tx, LinkColour::Green);
    r.ip.arrive(answerFrame({10, 25, 20, 15, 8, 24}));
    QCOMPARE(r.link.view().st_rx, LinkColour::Red);
    QCOMPARE(r.link.view().st_tx, LinkColour::ButtonFace);
    // Serial events leave the colours alone in IP mode.
    r.com.open();
    emit r.com.commEvent(SerialPort::EvSend);
    QCOMPARE(r.link.view().st_tx, LinkColour::ButtonFace);
}

void tst_transport::modemWordsOnlyOutsideFrames()
{
    LinkRig r;
    r.link.waitForModemCall();
    // A connect line that ends with the first frame rather than a line end:
    // the clock answer to the request sent once the 15 ticks have run.
    r.com.receive("RING\r\nCONNECT 9600/V42");
    r.ticks(16);
    r.com.receive(answerFrame({10, 25, 20, 15, 8, 24}));
    QCOMPARE(r.link.connection().lineSpeed, 9600);
    QCOMPARE(r.link.view().toolTip("Img_wait_call"), QStringLiteral("Conectado a 9600 bps"));
    QVERIFY(r.link.clockKnown() && !r.link.scheduler().frameError);
    // Result-code words inside a frame, or not on a line of their own, end nothing.
    r.com.receive(":NO CARRIER\r");
    r.com.receive("NO CARRIER" + answerFrame({10, 25, 20, 15, 8, 24}));
    r.com.receive("BUSY\r\n");
    QVERIFY(r.link.connected() && r.link.clockKnown());
    QVERIFY(r.link.connection().lineReason.isEmpty());
    // The line drops: ended at once, no end request, back to waiting.
    r.com.takeWritten();
    r.com.receive("\r\nNO CARRIER\r\n");
    QVERIFY(!r.link.connected());
    QCOMPARE(r.com.takeWritten(), QByteArray("ATS0=1\r"));
    QVERIFY(r.link.waitingForConnect());
    QCOMPARE(r.link.view().toolTip("Img_wait_call"), QStringLiteral("Sin portadora"));
}

// Only allowed panels connect, the keyword must come whole from one source,
// and the session's panel is the only one heard until it ends.
void tst_transport::ipSessionBelongsToItsPanel()
{
    LinkRig r;
    db::exec(r.st.main.db(), QStringLiteral("UPDATE configuracion SET ip_permitidas = '10.0.0.0/8; 127.0.0.2', "
                                            "ip_escucha = '127.0.0.1'"));
    r.link.waitForIpCall();
    QCOMPARE(r.ip.boundAddress, QHostAddress(QStringLiteral("127.0.0.1")));
    const QHostAddress panel(QStringLiteral("10.1.2.3")), other(QStringLiteral("127.0.0.2"));
    r.ip.arrive("CONNECT IP", 4000, QHostAddress(QStringLiteral("192.168.1.9")));
    r.ip.arrive("CONNECT", 4000, other);
    r.ip.arrive(" IP", 4000, panel);
    QVERIFY(!r.link.connected());
    QCOMPARE(r.link.connection().strangerDatagrams, 1);
    QCOMPARE(r.link.view().toolTip(QStringLiteral("img_IP")),
             QStringLiteral("Datagramas descartados de otros orígenes: 1 (el último de 192.168.1.9:4000)\n"
                            "Paneles no permitidos: 1 (el último 192.168.1.9)"));
    QCOMPARE(r.link.view().statusLine.left(45), QStringLiteral("Se rechazó un panel no permitido: 192.168.1.9"));
    r.ip.arrive("CONNECT IP", 4500, panel);
    QVERIFY(r.link.connected());
    QCOMPARE(r.link.connection().peerHost, panel);
    QCOMPARE(r.link.connection().peerPort, quint16(4500));

    // An allowed address on another port, and the same port elsewhere, are
    // strangers: nothing of theirs is decoded and replies stay with the panel.
    r.ticks(16);
    r.ip.arrive(answerFrame({10, 25, 20, 15, 8, 24}), 4000, other);
    r.ip.arrive(answerFrame({10, 25, 20, 15, 8, 24}), 4500, QHostAddress(QStringLiteral("10.1.2.4")));
    QVERIFY(!r.link.clockKnown() && !r.link.scheduler().frameError);
    QCOMPARE(r.link.connection().strangerDatagrams, 3);
    r.ticks(60);
    QCOMPARE(r.ip.sent.size(), 2);
    for (const auto& sent : r.ip.sent)
        QVERIFY(sent.host == panel && sent.port == 4500);
    r.ip.arrive(answerFrame({2, 0, 0, 0, 0, 0, 0, 0, 0}), 4500, panel);
    QVERIFY(!r.link.scheduler().frameError);

    // The session over, the panel is nobody's until the next CONNECT IP.
    r.link.endSession();
    QVERIFY(r.link.connection().peerHost.isNull());

    // A list that cannot be read keeps the socket closed.
    db::exec(r.st.main.db(), QStringLiteral("UPDATE configuracion SET ip_permitidas = '10.0.0.0/40'"));
    r.link.waitForIpCall();
    QVERIFY(!r.ip.isBound() && !r.link.waitingForCall());
}

void tst_transport::lostSerialDeviceEndsTheLink_data()
{
    QTest::addColumn<int>("state"); // 0 dialling, 1 double call, 2 connected, 3 waiting, 4 idle
    QTest::addColumn<QString>("red");
    QTest::newRow("dialling") << 0 << "img_connect";
    QTest::newRow("double call") << 1 << "img_connect_AMO";
    QTest::newRow("connected") << 2 << "img_connect";
    QTest::newRow("waiting") << 3 << "Img_wait_call";
    QTest::newRow("idle") << 4 << "";
}

void tst_transport::lostSerialDeviceEndsTheLink()
{
    QFETCH(int, state);
    QFETCH(QString, red);
    LinkRig r;
    r.st.main.attachPort(&r.com);
    switch (state) {
    case 0: r.link.dial(QStringLiteral("1"), 900); break;
    case 1: r.link.dialTwice(QStringLiteral("1")); break;
    case 2: r.connectModem(); break;
    case 3: r.link.waitForModemCall(); break;
    default: r.com.open(); break;
    }
    QVERIFY(r.com.isOpen());
    for (int i = 0; i < 3; ++i)
        emit r.com.commEvent(SerialPort::ErDevice);
    QCoreApplication::processEvents();
    QVERIFY(!r.com.isOpen());
    QVERIFY(!r.st.main.portOpen());
    QCOMPARE(r.st.main.portStatusPicture(), QStringLiteral("modem_no"));
    QVERIFY(!r.link.connected() && !r.link.dialling() && !r.link.waitingForConnect() && !r.link.waitingForCall());
    if (red.isEmpty()) {
        QVERIFY(r.st.messages.shown.isEmpty());
        return;
    }
    QCOMPARE(r.link.view().picture(red), QStringLiteral("rojo"));
    QCOMPARE(r.st.messages.shown.size(), 1);
    QCOMPARE(r.st.messages.lastTitle(), QStringLiteral("Error 102"));
    // Nothing runs on afterwards: no dial result, no request, no reopening.
    const int sent = r.link.scheduler().framesSent, opens = r.com.opens;
    r.ticks(1200);
    QCOMPARE(r.link.scheduler().framesSent, sent);
    QCOMPARE(r.com.opens, opens);
    QVERIFY(!r.link.connected());
    QCOMPARE(r.st.messages.shown.size(), 1);
}

QTEST_GUILESS_MAIN(tst_transport)
#include "tst_transport.moc"
