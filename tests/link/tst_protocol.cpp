// Frames, the request scheduler and status decoding, on fake devices with
// ticks driven by hand.

#include "common/linkrig.h"
#include "link_test_access.h"
#include "link/link_view_builder.h"

#include <QtTest>

class tst_protocol : public QObject {
    Q_OBJECT
private slots:
    void encodesTheReferenceFrame();
    void decodeTakesOnlyWholeFramesWithTheirSum();
    void indicatorViewKeepsWhatTheStateDoesNotDecide();
    void oneChangedLetterFailsTheChecksum();
    void badFramesSetTheErrorAndCallNoHandler_data();
    void badFramesSetTheErrorAndCallNoHandler();
    void serialNoiseAndShortFrames();
    void answersGoToTheirHandlers();
    void firstRequestAndAnswerTiming();
    void requestLayouts();
    void schedulerOrder();
    void tenUnansweredTurnsEndTheConnection();
    void silenceAfterAnswersIsNoFailedConnection();
    void endFramesAtFourThousandEightHundredBaud();
    void panelClock();
    void statusViews();
    void extensionBytesPartitionAndPgm();
    void bypassRoundTrip();
    void accessCodeChoiceAndOddCodes();
};

void tst_protocol::decodeTakesOnlyWholeFramesWithTheirSum()
{
    const int bytes[] = {0x0C, 0xFF, 0x10, 0x00};
    const QByteArray text = codec::encode(bytes, 4);
    codec::Bytes out{};
    QCOMPARE(codec::decode(text.mid(1, text.size() - 2), out), 5);
    QCOMPARE(out[0], 0x0C);
    QCOMPARE(out[1], 0xFF);
    QCOMPARE((out[0] + out[1] + out[2] + out[3] + out[4]) & 0xFF, 0);
    QCOMPARE(codec::decode("ACIBAAHO", out), -1); // checksum off by one
    QCOMPARE(codec::decode("ACIBAAH", out), -1);  // half a byte
    QCOMPARE(codec::decode("AA", out), -1);       // no checksum
    QCOMPARE(codec::decode("ACIBAAHQ", out), -1); // a letter past "P"
    QCOMPARE(codec::decode(QByteArray(2 * codec::MaxBytes + 2, 'A'), out), -1);
}

void tst_protocol::indicatorViewKeepsWhatTheStateDoesNotDecide()
{
    IndicatorState s;
    s.connected = s.answeredSinceConnect = true;
    s.status.zoneState[3] = 1;
    s.pendingCommand = PanelLink::CmdArm;
    LinkView before;
    before.items[QStringLiteral("st_hora")].caption = QStringLiteral("01/02/2026 10:00");
    before.items[LinkView::indexed("img_zona", 3)].picture = QStringLiteral("gris");
    const LinkView v = indicatorView(s, before);
    QCOMPARE(v.caption(QStringLiteral("st_hora")), QStringLiteral("01/02/2026 10:00"));
    QCOMPARE(v.picture(LinkView::indexed("img_zona", 3)), QStringLiteral("rojo"));
    QCOMPARE(v.picture(QStringLiteral("img_arm")), QStringLiteral("verde"));
    QCOMPARE(v.picture(QStringLiteral("img_connect")), QStringLiteral("verde"));
    // The input view is a value: building from it leaves it as it was.
    QCOMPARE(before.picture(LinkView::indexed("img_zona", 3)), QStringLiteral("gris"));
    // Without an answer yet the link is connected but not working.
    s.answeredSinceConnect = false;
    QCOMPARE(indicatorView(s, before).picture(QStringLiteral("img_connect")), QStringLiteral("amarillo"));
}

void tst_protocol::encodesTheReferenceFrame()
{
    const int bytes[] = {0x02, 0x81, 0x00};
    QCOMPARE(codec::encode(bytes, 3), QByteArray(":ACIBAAHN\r"));

    LinkRig r;
    r.connectModem();
    r.link.setPendingCommand(PanelLink::CmdArm);
    LinkTestAccess::sendRequest(r.link, {0x02, 0x81, 0x00}, 3);
    QCOMPARE(r.com.takeWritten(), QByteArray(":ACIBAAHN\r"));
    QCOMPARE(r.link.scheduler().awaitingAnswer, 1);
    QCOMPARE(r.link.scheduler().pendingCommand, 0);
}

void tst_protocol::oneChangedLetterFailsTheChecksum()
{
    LinkRig r;
    r.connectModem();
    const QByteArray good = LinkRig::status(2, {0x81, 0, 0, 0, 0, 0, 0, 0});
    r.answer(2, good);
    QVERIFY(!r.link.scheduler().frameError);
    QCOMPARE(r.link.scheduler().answersReceived[2], 1);
    for (qsizetype i = 1; i < good.size() - 1; ++i) {
        for (int delta : {1, 7, 15}) {
            QByteArray bad = good;
            bad[i] = char('A' + (bad.at(i) - 'A' + delta) % 16);
            LinkTestAccess::setRetryCounter(r.link, 4);
            r.com.receive(bad);
            QVERIFY2(r.link.scheduler().frameError, qPrintable(QString::fromLatin1(bad)));
            QCOMPARE(r.link.scheduler().retryCounter, 4);
            r.answer(2, good);
            QVERIFY(!r.link.scheduler().frameError);
            QCOMPARE(r.link.scheduler().retryCounter, 0);
        }
    }
    QCOMPARE(r.link.scheduler().answersReceived[2], 1 + int(good.size() - 2) * 3);
}

void tst_protocol::badFramesSetTheErrorAndCallNoHandler_data()
{
    // Each frame comes while a request it could otherwise answer is
    // outstanding: only its own fault refuses it.
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("request");
    QTest::newRow("answer code 3") << answerFrame({3, 1, 2}) << 2;
    QTest::newRow("answer code 14") << answerFrame({14}) << 2;
    QTest::newRow("odd length") << QByteArray(answerFrame({2, 0, 0, 0, 0, 0, 0, 0, 0}).insert(3, 'A')) << 2;
    QTest::newRow("letter beyond P") << QByteArray(":ACQB\r") << 2;
    QTest::newRow("lower case") << QByteArray(answerFrame({2, 0, 0, 0, 0, 0, 0, 0, 0}).toLower()) << 2;
    QTest::newRow("status of 8 bytes") << answerFrame({2, 1, 0, 0, 0, 0, 0, 0}) << 2;
    QTest::newRow("clock of 5 bytes") << answerFrame({10, 1, 2, 3, 4}) << 10;
    QTest::newRow("dated events for short ones") << answerFrame({13, 1, 2, 3, 4, 5, 6}) << 6;
    QTest::newRow("short events for dated ones") << answerFrame({6, 1, 2}) << 13;
    QList<int> big(300, 0);
    big[0] = 2;
    QTest::newRow("300 bytes") << answerFrame(big) << 2;
    QTest::newRow("only a checksum") << QByteArray(":AA\r") << 2;
    // Each wrong in one way only, the checksum still adding up.
    const QByteArray good = answerFrame({2, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("one stray letter") << QByteArray(good).insert(good.size() - 1, 'A') << 2;
    QByteArray beyond = good;
    beyond[3] = 'Q'; // 16 in the high place: 256, nothing modulo 256
    QTest::newRow("letter beyond P, sum unchanged") << beyond << 2;
    QByteArray bit7 = good;
    bit7[3] = 'I'; // 8 in the high place: the sum is off by 128 only
    QTest::newRow("checksum off in bit 7") << bit7 << 2;
}

void tst_protocol::badFramesSetTheErrorAndCallNoHandler()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, request);
    for (bool overIp : {false, true}) {
        LinkRig r;
        overIp ? r.connectIp() : r.connectModem();
        LinkTestAccess::setOutstandingRequest(r.link, request);
        LinkTestAccess::status(r.link).zoneState[3] = 1;
        LinkTestAccess::setClockKnown(r.link, true);
        LinkTestAccess::setRetryCounter(r.link, 2);
        LinkTestAccess::setAwaitingAnswer(r.link, 1);
        overIp ? r.ip.arrive(frame) : r.com.receive(frame);
        QVERIFY(r.link.scheduler().frameError);
        QCOMPARE(r.link.view().st_err, LinkColour::Red);
        QCOMPARE(r.link.scheduler().retryCounter, 2);
        QCOMPARE(r.link.scheduler().awaitingAnswer, 1); // no answer came: the turn still counts as missed
        QCOMPARE(r.link.status().zoneState[3], 1);
        QVERIFY(r.link.clockKnown());
        for (int n : r.link.scheduler().answersReceived)
            QCOMPARE(n, 0);
        QCOMPARE(r.console.sectionRefreshes + r.console.eventRefreshes, 0);
        QVERIFY(r.link.connection().receiveBuffer.size() <= 2 * PanelLink::MaxFrameBytes);
    }
}

void tst_protocol::serialNoiseAndShortFrames()
{
    LinkRig r;
    r.connectModem();
    LinkTestAccess::setAwaitingAnswer(r.link, 1);
    LinkTestAccess::setWaitCountdown(r.link, 40);
    // Fewer than 2 characters between ":" and the carriage return: ignored.
    r.com.receive(":A\r");
    r.com.receive(":\r");
    QCOMPARE(r.link.scheduler().awaitingAnswer, 1);
    QCOMPARE(r.link.scheduler().waitCountdown, 40);
    QVERIFY(!r.link.scheduler().frameError);
    // Noise before ":" goes; the frame after it is taken.
    r.com.receive("\n\x07garbage NO CARRIER");
    r.answer(2, LinkRig::status(2, {1, 0, 0, 0, 0, 0, 0, 0}));
    QVERIFY(!r.link.scheduler().frameError);
    QCOMPARE(r.link.status().zoneState[0], 1);
    QCOMPARE(r.link.scheduler().waitCountdown, 3);
    // A second carriage return does not hand the same answer over again.
    r.com.receive("\r");
    QCOMPARE(r.link.scheduler().answersReceived[2], 1);
    // Endless noise without ":" never grows the buffer past a frame.
    r.com.receive(QByteArray(5000, 'B'));
    QVERIFY(r.link.connection().receiveBuffer.size() <= 2 * PanelLink::MaxFrameBytes);
    r.com.receive("\r");
    QVERIFY(r.link.scheduler().frameError);
}

void tst_protocol::answersGoToTheirHandlers()
{
    LinkRig r;
    r.connectModem();
    LinkTestAccess::setRun(r.link, 10, 13);
    r.answer(0, answerFrame({0, 1, 2, 3}));
    r.answer(1, answerFrame({1}));
    QCOMPARE(r.console.sectionRefreshes, 2);
    r.answer(6, answerFrame({6, 0x85, 4}));
    r.answer(13, answerFrame({13, 1, 2, 0x2A, 0xA3, 0x0F, 0x31}));
    // Event records are held until the download ends; the console sees them
    // once stored.
    QCOMPARE(r.console.eventRefreshes, 0);
    QCOMPARE(r.link.scheduler().answersReceived[0], 1);
    QCOMPARE(r.link.scheduler().answersReceived[1], 1);
    QCOMPARE(r.link.scheduler().answersReceived[6], 1);
    QCOMPARE(r.link.scheduler().answersReceived[13], 1);
    // The handlers read the answer from rxFrame.
    QCOMPARE(r.link.rxCount(), 7);
    QCOMPARE(r.link.rxFrame()[3], 0x2A);
    QVERIFY(!r.link.scheduler().frameError);
}

void tst_protocol::firstRequestAndAnswerTiming()
{
    LinkRig r;
    r.connectModem();
    // 1.5 s of silence after CONNECT, then the clock request.
    QCOMPARE(r.ticksUntilSent(), 16);
    const auto reqs = r.takeRequests();
    QCOMPARE(reqs.size(), 1);
    QCOMPARE(reqs[0].value(3), 10);
    // An answer shortens the wait to 0.3 s; without one the turn waits 5 s.
    r.answer(10, answerFrame({10, 25, 20, 15, 8, 24}));
    QCOMPARE(r.ticksUntilSent(), 4);
    QCOMPARE(r.takeRequests().value(0).value(3), 2);
    QCOMPARE(r.ticksUntilSent(), 51);
    QVERIFY(r.link.scheduler().frameError);
    QCOMPARE(r.link.scheduler().retryCounter, 1);
}

void tst_protocol::requestLayouts()
{
    LinkRig r;
    r.show({1, 1, QStringLiteral("A1f3"), QStringLiteral(" 2 ")});
    r.connectModem();
    r.ticks(16);
    QCOMPARE(r.takeRequests(), (QList<QList<int>>{{0xA1, 0xF3, 2, 10}}));

    struct Case {
        const char* what;
        std::function<void()> prepare;
        QList<int> expected;
    };
    r.console.armingMode = 3;
    r.clock.t = QDateTime(QDate(2031, 12, 24), QTime(23, 59));
    const QList<Case> cases = {
        {"arm", [&] { r.link.queueCommand(1); }, {0xA1, 0xF3, 2, 3, 3}},
        {"disarm", [&] { r.link.queueCommand(2); }, {0xA1, 0xF3, 2, 4}},
        {"panic", [&] { r.link.queueCommand(6); }, {0xA1, 0xF3, 2, 11}},
        {"set clock", [&] { r.link.queueCommand(9); }, {0xA1, 0xF3, 2, 8, 59, 23, 24, 12, 31}},
        {"pgm", [&] { LinkTestAccess::status(r.link).pgmMask = 0x0C; r.link.queueCommand(12, 3); }, {0xA1, 0xF3, 2, 9, 0x04}},
        {"faults", [&] { LinkTestAccess::status(r.link).systemFlags[13] = 1; r.link.queueCommand(14); }, {0xA1, 0xF3, 2, 12}},
        {"status", [&] {}, {0xA1, 0xF3, 2, 2}},
        {"fault status", [&] { LinkTestAccess::status(r.link).faultView = true; }, {0xA1, 0xF3, 2, 12}},
        {"faults back", [&] { r.link.queueCommand(14); }, {0xA1, 0xF3, 2, 2}},
        {"dated events", [&] { LinkTestAccess::status(r.link).faultView = false; r.link.requestTransfer(PanelLink::Transfer::Events); }, {0xA1, 0xF3, 2, 13, 2}},
        {"short events", [&] { r.show({1, 1, QStringLiteral("A1f3"), QStringLiteral("1")}); }, {0xA1, 0xF3, 1, 6, 8}},
        {"bypass", [&] { LinkTestAccess::setEventsPending(r.link, false); LinkTestAccess::status(r.link).zoneBypass[0] = 3; LinkTestAccess::status(r.link).zoneBypass[9] = 1; LinkTestAccess::status(r.link).zoneBypass[15] = 3; },
         {0xA1, 0xF3, 1, 7, 0x01, 0x82}},
        {"partition", [&] { LinkTestAccess::status(r.link).partition = 6; }, {0xA1, 0xF3, 1, 15, 2}},
        {"read memory", [&] { LinkTestAccess::requestMemory(r.link, 4660, 16); }, {0xA1, 0xF3, 1, 0, 0x34, 0x12, 16}},
        {"write memory", [&] { LinkTestAccess::writeMemory(r.link, 300, {1, 2, 255}); }, {0xA1, 0xF3, 1, 1, 44, 1, 1, 2, 255}},
    };
    for (const Case& c : cases) {
        LinkTestAccess::setAwaitingAnswer(r.link, 0);
        LinkTestAccess::setWaitCountdown(r.link, 0);
        c.prepare();
        if (r.com.written.isEmpty())
            r.link.tick();
        const auto reqs = r.takeRequests();
        QVERIFY2(reqs.size() == 1, c.what);
        QVERIFY2(reqs[0] == c.expected, c.what);
    }
    QCOMPARE(r.link.status().partition, 2);
    QCOMPARE(r.link.status().zoneBypass[0], 1);
}

void tst_protocol::schedulerOrder()
{
    LinkRig r;
    r.connectModem();
    r.ticks(16);
    r.takeRequests();
    auto nextCode = [&r] {
        LinkTestAccess::setWaitCountdown(r.link, 0);
        r.link.tick();
        return r.takeRequests().value(0).value(3, -1);
    };
    // Pending end before a write; the end closes the port.
    r.link.requestTransfer(PanelLink::Transfer::Write);
    LinkTestAccess::status(r.link).zoneBypass[2] = 3;
    r.link.setPendingCommand(PanelLink::CmdEnd);
    QCOMPARE(nextCode(), 5);
    QVERIFY(!r.link.connected());

    r.connectModem();
    LinkTestAccess::setEndAfterConnect(r.link, true);
    r.link.setPendingCommand(PanelLink::CmdArm);
    QCOMPARE(nextCode(), 5);

    r.connectModem();
    r.link.setPendingCommand(PanelLink::CmdDisarm);
    r.link.requestTransfer(PanelLink::Transfer::Write);
    r.link.requestTransfer(PanelLink::Transfer::Read);
    r.link.requestTransfer(PanelLink::Transfer::Events);
    LinkTestAccess::status(r.link).zoneBypass[2] = 3;
    LinkTestAccess::status(r.link).partition = 5;
    QCOMPARE(nextCode(), 4);
    // An empty write, then an empty read: nothing is sent and the next turn
    // comes 100 ms later.
    LinkTestAccess::setWaitCountdown(r.link, 0);
    r.link.tick();
    QVERIFY(!r.link.writePending());
    QCOMPARE(r.link.scheduler().waitCountdown, 1);
    r.ticks(2);
    QVERIFY(!r.link.readPending());
    QVERIFY(r.com.written.isEmpty());
    QCOMPARE(nextCode(), 6);  // events before bypass and partition
    LinkTestAccess::setEventsPending(r.link, false);
    QCOMPARE(nextCode(), 7);
    QCOMPARE(nextCode(), 15);
    QCOMPARE(nextCode(), 2);
}

void tst_protocol::tenUnansweredTurnsEndTheConnection()
{
    LinkRig r;
    LinkTestAccess::setIpCallBack(r.link, true); // the end request carries it
    r.connectModem();
    QList<int> codes;
    for (int turn = 1; turn <= 11; ++turn) {
        QVERIFY(r.ticksUntilSent() > 0);
        const auto reqs = r.takeRequests();
        codes << reqs.value(0).value(3);
        if (turn < 11) {
            QCOMPARE(reqs.size(), 1);
            QCOMPARE(r.link.scheduler().retryCounter, turn - 1);
            // Never answered (a wrong access code or model): not shown as a
            // working link, and the partition stays unknown.
            QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("amarillo"));
            QCOMPARE(r.link.view().picture("img_particion_0"), QStringLiteral("gris"));
            if (turn > 1)
                QCOMPARE(r.link.view().statusLine,
                         QStringLiteral("El panel no responde: verifique el código de acceso y el modelo"));
        } else {
            QCOMPARE(reqs.size(), 3);
            for (const auto& q : reqs)
                QCOMPARE(q, (QList<int>{0x12, 0x34, 1, 5, 1}));
        }
    }
    QCOMPARE(codes.first(), 10);
    QCOMPARE(codes.last(), 5);
    QVERIFY(!r.link.connected());
    QVERIFY(!r.com.isOpen());
    // The panel is to call back over IP: the station waits on the socket.
    QVERIFY(r.link.ipMode() && r.link.waitingForConnect());
    QCOMPARE(r.ip.binds, QList<quint16>{5000});
    QCOMPARE(r.link.view().picture("img_connect"), QStringLiteral("gris"));
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Colgado: el panel no respondió a 10 pedidos. "
                                                      "Esperando la llamada del panel por IP en el puerto 5000"));
    QCOMPARE(r.console.failedConnections, 1);
}

void tst_protocol::silenceAfterAnswersIsNoFailedConnection()
{
    // A panel that answered and then went silent: a session that ended, not
    // a failed connection.
    LinkRig r;
    r.connectModem();
    r.firstTurn();
    QCOMPARE(r.link.view().picture("img_particion_0"), QStringLiteral("verde"));
    for (int turn = 1; turn <= 11; ++turn)
        QVERIFY(r.ticksUntilSent() > 0);
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Colgado: el panel no respondió a 10 pedidos"));
    QCOMPARE(r.console.failedConnections, 0);
}

void tst_protocol::endFramesAtFourThousandEightHundredBaud()
{
    LinkRig r;
    r.com.setSettings(QStringLiteral("4800,N,8,2"));
    r.connectModem();
    r.link.setPendingCommand(PanelLink::CmdEnd);
    r.ticks(16);
    const auto reqs = r.takeRequests();
    QCOMPARE(reqs.size(), 30);
    QCOMPARE(reqs.last(), (QList<int>{0x12, 0x34, 1, 5, 0}));
}

void tst_protocol::panelClock()
{
    LinkRig r;
    r.clock.t = QDateTime(QDate(2024, 8, 15), QTime(20, 35, 10));
    r.connectModem();
    r.ticks(16);
    QCOMPARE(r.link.view().caption("st_hora"), QStringLiteral("--/--/-- --:--"));
    r.answer(10, answerFrame({10, 25, 20, 15, 8, 24}));
    QVERIFY(r.link.clockKnown());
    r.clock.t = r.clock.t.addSecs(60);
    r.ticks(4);
    QCOMPARE(r.link.view().caption("st_hora"), QStringLiteral("15/08/2024 20:26"));
    // 31 February is no date: the clock is unknown again.
    r.answer(10, answerFrame({10, 0, 0, 31, 2, 24}));
    QVERIFY(!r.link.clockKnown());
    QVERIFY(!r.link.scheduler().frameError);
    r.ticks(4);
    QCOMPARE(r.link.view().caption("st_hora"), QStringLiteral("--/--/-- --:--"));
    r.answer(10, answerFrame({10, 60, 0, 1, 1, 24}));
    QVERIFY(!r.link.clockKnown());
}

void tst_protocol::statusViews()
{
    LinkRig r;
    r.connectModem();
    r.firstTurn();
    r.answer(2, LinkRig::status(2, {0x81, 0x00, 0, 0, 0x01, 0, 0x21, 0x28}));
    LinkView v = r.link.view();
    QCOMPARE(v.picture("img_zona_0"), QStringLiteral("rojo"));
    QCOMPARE(v.picture("img_zona_7"), QStringLiteral("rojo"));
    QCOMPARE(v.picture("img_zona_1"), QStringLiteral("gris"));
    QCOMPARE(v.toolTip("img_zona_0"), QString());
    QCOMPARE(v.picture("img_memo_0"), QStringLiteral("naranja"));
    QCOMPARE(v.picture("img_armado"), QStringLiteral("rojo"));
    QCOMPARE(v.picture("img_bell"), QStringLiteral("rojo"));
    QCOMPARE(v.picture("img_listo"), QStringLiteral("verde"));
    QCOMPARE(v.picture("img_fallas"), QStringLiteral("azul"));
    QCOMPARE(v.picture("img_sistema"), QStringLiteral("gris"));
    QCOMPARE(v.caption("st_estado_t"), QStringLiteral("Estado"));
    QCOMPARE(v.caption("st_zona_15"), QStringLiteral("16"));
    QCOMPARE(v.picture("img_connect"), QStringLiteral("verde"));

    r.answer(12, LinkRig::status(12, {0x81, 0x00, 0, 0, 0, 0, 0, 0x20}));
    v = r.link.view();
    QVERIFY(r.link.status().faultView);
    QCOMPARE(v.picture("img_zona_0"), QStringLiteral("azul"));
    QCOMPARE(v.picture("img_zona_7"), QStringLiteral("azul"));
    QCOMPARE(v.toolTip("img_zona_0"), QStringLiteral("Falla de comunicador"));
    QCOMPARE(v.toolTip("img_zona_7"), QStringLiteral("Llamador inhabilitado por usuario"));
    QCOMPARE(v.toolTip("img_zona_8"), QString());
    QCOMPARE(v.caption("st_estado_t"), QStringLiteral("Fallas"));
    // Fault view plus the fault lamp: the next poll asks for faults again.
    LinkTestAccess::setWaitCountdown(r.link, 0);
    r.link.tick();
    QCOMPARE(r.takeRequests().value(0).value(3), 12);

    // A reset (end of connection) clears everything.
    r.link.endSession();
    v = r.link.view();
    QCOMPARE(v.picture("img_zona_0"), QStringLiteral("gris"));
    QCOMPARE(v.toolTip("img_zona_0"), QString());
    QCOMPARE(v.caption("st_estado_t"), QStringLiteral("Estado"));
    QCOMPARE(v.picture("img_particion_0"), QStringLiteral("gris"));
}

void tst_protocol::extensionBytesPartitionAndPgm()
{
    LinkRig r;
    r.connectModem();
    r.firstTurn();
    // Connected and no partition reported: partition 1 shows green.
    QCOMPARE(r.link.status().partition, -1);
    QCOMPARE(r.link.view().picture("img_particion_0"), QStringLiteral("verde"));
    r.answer(2, LinkRig::status(2, {0, 0, 0, 0, 0, 0, 0, 0xC0}, {0x02, 0x45, 0x80}));
    QCOMPARE(r.link.status().partition, 2);
    QCOMPARE(r.link.status().pgmMask, 0x14 + 1 + 2);
    LinkView v = r.link.view();
    QCOMPARE(v.picture("img_particion_0"), QStringLiteral("gris"));
    QCOMPARE(v.picture("img_particion_2"), QStringLiteral("verde"));
    for (int i : {0, 1, 2, 4})
        QCOMPARE(v.picture(LinkView::indexed("img_pgm", i)), QStringLiteral("rojo"));
    for (int i : {3, 5, 6, 7})
        QCOMPARE(v.picture(LinkView::indexed("img_pgm", i)), QStringLiteral("gris"));

    // A waiting partition change survives status answers; an answer without
    // extension bytes reports none.
    QVERIFY(r.link.partitionClick(1));
    QVERIFY(!r.link.partitionClick(1));
    r.answer(2, LinkRig::status(2, {0, 0, 0, 0, 0, 0, 0, 0}, {0x03}));
    QCOMPARE(r.link.status().partition, 5);
    QCOMPARE(r.link.view().picture("img_cbparticion_1"), QStringLiteral("verde"));
    LinkTestAccess::status(r.link).partition = 3;
    r.answer(2, LinkRig::status(2, {0, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(r.link.status().partition, -1);
    QCOMPARE(r.link.status().pgmMask, 0);
    QVERIFY(!r.link.partitionClick(0)); // nothing reported: no change asked

    // PGM index 3 pending: its picture is green until the request goes out.
    QVERIFY(r.link.queueCommand(PanelLink::CmdPgm, 3));
    QVERIFY(!r.link.queueCommand(PanelLink::CmdArm)); // one at a time
    QCOMPARE(r.link.view().picture("img_cbpgm_3"), QStringLiteral("verde"));
    LinkTestAccess::setWaitCountdown(r.link, 0);
    r.link.tick();
    QCOMPARE(r.link.view().picture("img_cbpgm_3"), QStringLiteral("gris"));
    QCOMPARE(r.takeRequests().value(0).value(4), 0x08);
}

void tst_protocol::bypassRoundTrip()
{
    LinkRig r;
    r.connectModem();
    r.firstTurn();
    r.answer(2, LinkRig::status(2, {0, 0, 0x10, 0, 0, 0, 0, 0}));
    QCOMPARE(r.link.view().picture("img_exclusion_4"), QStringLiteral("amarillo"));
    // Zone 5 is bypassed: clicks give removal, bypass, removal.
    QCOMPARE(r.link.zoneBypassClick(4), 11);
    QCOMPARE(r.link.zoneBypassClick(4), 10);
    QCOMPARE(r.link.zoneBypassClick(4), 11);
    QCOMPARE(r.link.status().zoneBypass[4], 2);
    QCOMPARE(r.link.view().picture("img_cbexclusion_4"), QStringLiteral("amarillo"));
    // A status answer before the request does not undo the waiting change.
    r.answer(2, LinkRig::status(2, {0, 0, 0x10, 0, 0, 0, 0, 0}));
    QCOMPARE(r.link.status().zoneBypass[4], 2);
    QCOMPARE(r.link.view().picture("img_cbexclusion_4"), QStringLiteral("amarillo"));
    LinkTestAccess::setWaitCountdown(r.link, 0);
    r.link.tick();
    QCOMPARE(r.takeRequests().value(0), (QList<int>{0x12, 0x34, 1, 7, 0, 0}));
    QCOMPARE(r.link.status().zoneBypass[4], 0);
    // The bypass request is answered with a status.
    r.com.receive(LinkRig::status(2, {0, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(r.link.view().picture("img_exclusion_4"), QStringLiteral("gris"));
    QCOMPARE(r.link.view().picture("img_cbexclusion_4"), QStringLiteral("gris"));
}

void tst_protocol::accessCodeChoiceAndOddCodes()
{
    LinkRig r;
    r.console.restrictedChecked = true;
    r.console.restricted = QStringLiteral("987");  // too short: the stored code
    r.connectModem();
    QCOMPARE(r.link.accessCode(), QStringLiteral("1234"));
    QCOMPARE(r.console.shownSubscribers, QList<qint32>{1});
    r.link.endSession();

    r.console.restricted = QStringLiteral("9876");
    r.connectModem();
    QCOMPARE(r.link.accessCode(), QStringLiteral("9876"));
    r.link.endSession();

    // Codes that are not four hexadecimal digits and a cadena that is not a
    // number still give a well-formed request (the panel ignores it).
    for (const QString& code : {QStringLiteral("12G4"), QStringLiteral("1"), QString(), QStringLiteral("+1-2")}) {
        r.console.restricted.clear();
        r.show({1, 1, code, QStringLiteral("PX")});
        r.connectModem();
        r.ticks(16);
        const auto reqs = r.takeRequests();
        QCOMPARE(reqs.size(), 1);
        QCOMPARE(reqs[0][2], 0);
        QVERIFY(reqs[0][0] == 0 || (code == QLatin1String("12G4") && reqs[0][0] == 0x12));
        QCOMPARE(reqs[0][1], 0);
        r.link.endSession();
    }
    r.show({1, 1, QString(), QStringLiteral("300")});
    QCOMPARE(r.link.protocolCode(), 0);
}

QTEST_GUILESS_MAIN(tst_protocol)
#include "tst_protocol.moc"
