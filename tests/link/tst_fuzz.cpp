// Random byte strings and datagrams through every receive path of the link
// (run under the sanitizers): nothing may crash, read out of bounds or grow
// without bound, and the decoded state stays within its ranges.

#include "common/linkrig.h"
#include "link_test_access.h"

#include <QtTest>

namespace {

// Bytes biased towards what frames are made of, so that many strings reach
// the decoder and some pass the checksum by chance.
QByteArray randomText(QRandomGenerator& rng, int maxLen)
{
    static const QByteArray alphabet = QByteArrayLiteral("::\r\rABCDEFGHIJKLMNOPABCDEFGHIJKLMNOPQZ\n\x00\xff CONNECT IP");
    QByteArray t;
    const int n = int(rng.bounded(maxLen + 1));
    t.reserve(n);
    for (int i = 0; i < n; ++i)
        t += rng.bounded(8) == 0 ? char(rng.bounded(256)) : alphabet.at(rng.bounded(int(alphabet.size())));
    return t;
}

// A well-formed answer of random code and length (up to the frame limit and
// beyond).
QByteArray randomAnswer(QRandomGenerator& rng)
{
    static const int codes[] = {0, 1, 2, 2, 2, 6, 10, 12, 12, 13};
    QList<int> bytes;
    bytes << (rng.bounded(6) == 0 ? int(rng.bounded(256)) : codes[rng.bounded(10)]);
    const int n = int(rng.bounded(rng.bounded(4) == 0 ? 300 : 16));
    for (int i = 0; i < n; ++i)
        bytes << int(rng.bounded(256));
    return answerFrame(bytes);
}

void checkInvariants(const PanelLink& link)
{
    QVERIFY(link.connection().receiveBuffer.size() <= 2 * PanelLink::MaxFrameBytes);
    QVERIFY(link.rxCount() >= 0 && link.rxCount() < PanelLink::MaxFrameBytes);
    QVERIFY(link.status().partition >= -1 && link.status().partition <= 7);
    QVERIFY(link.status().pgmMask >= 0 && link.status().pgmMask <= 255);
    for (int i = 0; i < 16; ++i) {
        QVERIFY(link.status().zoneState[size_t(i)] == 0 || link.status().zoneState[size_t(i)] == 1);
        QVERIFY(link.status().zoneBypass[size_t(i)] >= 0 && link.status().zoneBypass[size_t(i)] <= 3);
        QVERIFY(link.status().systemFlags[size_t(i)] == 0 || link.status().systemFlags[size_t(i)] == 1);
    }
    QVERIFY(link.scheduler().waitCountdown >= 0 && link.scheduler().waitCountdown <= 1000);
}

} // namespace

class tst_fuzz : public QObject {
    Q_OBJECT
private slots:
    void serialPaths();
    void datagramPaths();
};

void tst_fuzz::serialPaths()
{
    LinkRig r;
    QRandomGenerator rng(20240815);
    int goodFrames = 0;
    for (int round = 0; round < 3000; ++round) {
        // Take turns between connected, waiting and dialling.
        if (round % 100 == 0) {
            r.link.hangUp();
            r.link.endSession();
            r.link.stopWaiting();
            switch (rng.bounded(4)) {
            case 0: r.link.waitForModemCall(); break;
            case 1: r.link.dial(QStringLiteral("1"), 900); break;
            default: r.connectModem(); break;
            }
        }
        const int before = r.link.scheduler().answersReceived[2] + r.link.scheduler().answersReceived[12];
        // Now and then an answer is awaited, so that some answers fit.
        if (rng.bounded(2) == 0)
            LinkTestAccess::setOutstandingRequest(r.link, int(rng.bounded(-1, 16)));
        r.com.receive(rng.bounded(3) == 0 ? randomAnswer(rng) : randomText(rng, 700));
        goodFrames += r.link.scheduler().answersReceived[2] + r.link.scheduler().answersReceived[12] - before;
        for (int t = int(rng.bounded(4)); t > 0; --t)
            r.link.tick();
        if (rng.bounded(50) == 0)
            r.link.hangUp();
        r.com.takeWritten();
        r.com.clearInput();
        checkInvariants(r.link);
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY2(goodFrames > 25, qPrintable(QString::number(goodFrames))); // the decoder was reached, not only the scanner
}

void tst_fuzz::datagramPaths()
{
    LinkRig r;
    QRandomGenerator rng(4711);
    int errors = 0;
    quint16 peer = 0;
    for (int round = 0; round < 3000; ++round) {
        if (round % 100 == 0) {
            r.link.endSession();
            r.link.stopWaiting();
            peer = quint16(rng.bounded(1, 65536));
            rng.bounded(4) ? r.connectIp(peer) : r.link.waitForIpCall();
        }
        const bool wasError = r.link.scheduler().frameError;
        if (rng.bounded(2) == 0)
            LinkTestAccess::setOutstandingRequest(r.link, int(rng.bounded(-1, 16)));
        // Mostly the panel, sometimes strangers.
        r.ip.arrive(rng.bounded(3) == 0 ? randomAnswer(rng) : randomText(rng, 1500),
                    rng.bounded(4) ? peer : quint16(rng.bounded(65536)));
        errors += !wasError && r.link.scheduler().frameError;
        QVERIFY(r.link.connection().receiveBuffer.size() <= 2 * PanelLink::MaxFrameBytes);
        for (int t = int(rng.bounded(3)); t > 0; --t)
            r.link.tick();
        if (rng.bounded(60) == 0)
            r.link.hangUp();
        // Replies only ever go to the session's panel.
        for (const auto& sent : r.ip.sent)
            QVERIFY(!r.link.connected() || r.link.connection().peerPort == 0 || sent.port == r.link.connection().peerPort);
        r.ip.sent.clear();
        checkInvariants(r.link);
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY2(errors > 25, qPrintable(QString::number(errors)));
}

QTEST_GUILESS_MAIN(tst_fuzz)
#include "tst_fuzz.moc"
