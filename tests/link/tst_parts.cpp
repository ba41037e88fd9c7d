// The parts behind PanelLink, each alone: which answers fit a request, the
// scheduler's count of unanswered turns, the connection's reading of modem
// text and allowed panels, and the transfer's runs.

#include "link/link_connection.h"
#include "link/link_status.h"
#include "link/request.h"
#include "link/request_scheduler.h"
#include "link/transfer_session.h"

#include <QtTest>

class tst_parts : public QObject {
    Q_OBJECT
private slots:
    void answersThatFitARequest();
    void schedulerCountsUnansweredTurns();
    void connectionReadsModemText();
    void connectionKnowsAllowedPanels();
    void transferRunsStopAtSixteenBytesAndAddress5000();
};

void tst_parts::answersThatFitARequest()
{
    const Request read{Request::ReadMemory, 10, 13, 70};
    QVERIFY(read.fits(0, 4));  // code and the run's three bytes
    QVERIFY(!read.fits(0, 3)); // one address short
    QVERIFY(!read.fits(0, 5)); // a byte of some other run
    QVERIFY(!read.fits(1, 4));
    QVERIFY(!(Request{Request::ReadMemory, 10, 10, 70}.fits(0, 1))); // an empty run has no answer

    const Request write{Request::WriteMemory, 10, 13, 70};
    QVERIFY(write.fits(1, 1));
    QVERIFY(!write.fits(0, 4)); // read data is no acknowledgement

    for (int code : {2, 3, 4, 7, 8, 9, 11, 12, 15}) {
        const Request r{code, 0, 0, 50};
        QVERIFY2(r.fits(2, 9) && r.fits(12, 9) && r.fits(2, 20), qPrintable(QString::number(code)));
        QVERIFY2(!r.fits(2, 8) && !r.fits(10, 9), qPrintable(QString::number(code)));
    }
    const Request clock{Request::ReadClock, 0, 0, 50};
    QVERIFY(clock.fits(10, 6));
    QVERIFY(!clock.fits(10, 5)); // without the year
    const Request shortEvents{Request::ShortEvents, 0, 0, 170};
    QVERIFY(shortEvents.fits(6, 1));
    QVERIFY(!shortEvents.fits(13, 7));
    QVERIFY(!(Request{Request::DatedEvents, 0, 0, 170}.fits(6, 3)));
    QVERIFY(!(Request{Request::End, 0, 0, 200}.fits(2, 9))); // the end is never answered
}

void tst_parts::schedulerCountsUnansweredTurns()
{
    RequestScheduler s;
    s.pendingCommand = LinkCommands::CmdArm;
    s.header(QStringLiteral("A1f3"), 2, Request::Arm);
    s.txFrame[4] = 3;
    QCOMPARE(s.send(5, Request{Request::Arm, 0, 0, 50}), codec::encode(s.txFrame.data(), 5));
    QCOMPARE(s.txFrame[0], 0xA1);
    QCOMPARE(s.txFrame[1], 0xF3);
    QCOMPARE(s.outstandingCode(), int(Request::Arm));
    QVERIFY(s.fits(2, 9) && !s.fits(10, 6));
    QCOMPARE(s.waitCountdown, 50);
    QCOMPARE(s.awaitingAnswer, 1);
    QCOMPARE(s.pendingCommand, int(LinkCommands::CmdNone));
    QCOMPARE(s.framesSent, 1);

    for (int i = 1; i < 10; ++i)
        QVERIFY(!s.missedTurn());
    QCOMPARE(s.pendingCommand, int(LinkCommands::CmdNone));
    QVERIFY(s.missedTurn()); // the tenth ends the call
    QCOMPARE(s.pendingCommand, int(LinkCommands::CmdEnd));
    QVERIFY(s.frameError);
    s.answered(2);
    QCOMPARE(s.retryCounter, 0);
    QCOMPARE(s.answersReceived[2], 1);
}

void tst_parts::connectionReadsModemText()
{
    QCOMPARE(QString::fromUtf8(LinkConnection::dialFailure("BUSY")), QStringLiteral("Ocupado"));
    QCOMPARE(LinkConnection::dialFailure("BUSY SIGNAL"), nullptr);

    LinkConnection c;
    QByteArray rest;
    QVERIFY(!c.scanKeyword("\r\nCONN", &rest));
    QVERIFY(c.scanKeyword("ECT 2400/A", &rest)); // split across deliveries
    QCOMPARE(rest, QByteArray(" 2400/A"));

    c.startSession();
    QVERIFY(c.connected() && c.connectLine);
    const auto feed = [&c](const QByteArray& text) {
        QList<LinkConnection::ModemChar> kinds;
        for (char ch : text)
            kinds << c.modemText(ch);
        return kinds;
    };
    using K = LinkConnection::ModemChar;
    QCOMPARE(feed(" 2400/ARQ\r"), QList<K>(10, K::Modem));
    QCOMPARE(c.lineSpeed, 2400);
    QVERIFY(!c.connectLine);
    // A frame is never read as modem text, whatever it holds.
    QCOMPARE(feed(":NO CARRIER\r"), QList<K>(12, K::Frame));
    QCOMPARE(feed("NO CARRIER").size(), 10);
    QCOMPARE(c.modemText('\r'), K::Dropped);

    // A connect line ended by the first frame: the frame is the panel's.
    LinkConnection d;
    d.startSession();
    QCOMPARE(d.modemText('9'), K::Modem);
    QCOMPARE(d.modemText(':'), K::Frame);
    QCOMPARE(d.lineSpeed, 9);
}

void tst_parts::connectionKnowsAllowedPanels()
{
    LinkConnection c;
    QVERIFY(c.panelAllowed(QHostAddress(QStringLiteral("10.1.2.3")))); // no list: any
    QString bad;
    QVERIFY(!LinkConnection::parseAllowedPanels(QStringLiteral("10.0.0.7; 300.1.1.1"), nullptr, &bad));
    QCOMPARE(bad, QStringLiteral("300.1.1.1"));
    QVERIFY(LinkConnection::parseAllowedPanels(QStringLiteral("10.0.0.7, 192.168.1.0/24"), &c.allowedPanels));
    QVERIFY(c.panelAllowed(QHostAddress(QStringLiteral("10.0.0.7"))));
    QVERIFY(c.panelAllowed(QHostAddress(QStringLiteral("::ffff:192.168.1.9"))));
    QVERIFY(!c.panelAllowed(QHostAddress(QStringLiteral("192.168.2.9"))));
    QVERIFY(!c.panelAllowed(QHostAddress(QStringLiteral("10.0.0.8"))));
}

void tst_parts::transferRunsStopAtSixteenBytesAndAddress5000()
{
    TransferSession t;
    for (int a = 100; a < 120; ++a)
        t.transferMarks[size_t(a)] = 1;
    t.transferMarks[size_t(TransferSession::MemorySize - 1)] = -1;
    QVERIFY(t.findRun(1));
    QCOMPARE(t.runStart, 100);
    QCOMPARE(t.runEnd, 116);
    for (int a = 100; a < 116; ++a)
        t.transferMarks[size_t(a)] = 0;
    QVERIFY(t.findRun(1));
    QCOMPARE(t.runEnd - t.runStart, 4);
    QVERIFY(!t.findRun(-1)); // address 5000 is never sent
}

QTEST_GUILESS_MAIN(tst_parts)
#include "tst_parts.moc"
