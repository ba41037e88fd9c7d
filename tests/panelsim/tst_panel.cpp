// The simulated panel on its own: what it answers, what it ignores, and its
// state in and out as JSON.

#include "common/linkfakes.h"
#include "panel.h"
#include "panel_bank.h"

#include <QJsonArray>
#include <QtTest>

using namespace panelsim;

namespace {

// A request text as the station sends it, without ":" and the carriage return.
QByteArray request(QList<int> bytes)
{
    const QByteArray f = answerFrame(bytes);
    return f.mid(1, f.size() - 2);
}

QList<int> answerBytes(const QByteArray& frame)
{
    // The answer parses like a request: ":" pairs checksum CR.
    return requestBytes(frame);
}

} // namespace

class tst_panel : public QObject {
    Q_OBJECT
private slots:
    void ignoresWhatARealPanelIgnores();
    void statusAndCommands();
    void clockAndEnd();
    void stateInAndOut();
    void faultsForVerifiedUploads();
    void manyPanelsByNumber();
};

void tst_panel::ignoresWhatARealPanelIgnores()
{
    Panel p;
    QVERIFY(!p.handleFrame(request({0x12, 0x34, 1, 2}), Via::Modem).isEmpty());
    const QList<QByteArray> bad = {
        request({0x12, 0x35, 1, 2}),             // access code
        request({0x12, 0x34, 2, 2}),             // panel code
        request({0x12, 0x34, 1, 3}),             // arm without its mode
        request({0x12, 0x34, 1, 14}),            // no such request
        request({0x12, 0x34, 1, 2}).replace(0, 1, "C"), // checksum
        request({0x12, 0x34, 1, 2}).chopped(1),  // odd length
        QByteArray("BCDEAZBCAB"),                // not a letter of A-P
        QByteArray(),
    };
    for (const QByteArray& f : bad)
        QVERIFY2(p.handleFrame(f, Via::Modem).isEmpty(), f.constData());
    QCOMPARE(p.ignored, bad.size());
    QCOMPARE(p.received.size(), 1);
    // A write run changes the memory, a read run returns it; a read past
    // address 5000 gets only the bytes there are.
    QCOMPARE(p.handleFrame(request({0x12, 0x34, 1, 1, 0x86, 0x13, 7, 8}), Via::Modem), Panel::encode({1}));
    QCOMPARE(p.handleFrame(request({0x12, 0x34, 1, 0, 0x85, 0x13, 4}), Via::Modem), Panel::encode({0, 0, 7, 8, 0}));
    QCOMPARE(p.handleFrame(request({0x12, 0x34, 1, 0, 0x87, 0x13, 16}), Via::Ip), Panel::encode({0, 8, 0}));
    QCOMPARE(p.requestsOf(0), 2);
    QCOMPARE(p.received.last().via, Via::Ip);
}

void tst_panel::statusAndCommands()
{
    Panel p;
    p.state.zonesOpen = 0x0081;
    p.state.bypassed = 0x0100;
    p.state.alarmMemory = 0x8000;
    p.state.faults = 0x41;
    p.state.partition = 2;
    p.state.pgm = 0x17; // outputs 1, 2, 3, 5
    QCOMPARE(answerBytes(p.handleFrame(request({0x12, 0x34, 1, 2}), Via::Modem)),
             (QList<int>{2, 0x81, 0, 0, 1, 0, 0x80, 0, 0xE0, 0x02, 0x45}));
    QCOMPARE(answerBytes(p.handleFrame(request({0x12, 0x34, 1, 12}), Via::Modem)),
             (QList<int>{12, 0x41, 0, 0, 1, 0, 0x80, 0, 0xE0, 0x02, 0x45}));
    p.state.extensionBytes = false;
    p.state.zonesOpen = 0x0100; // bypassed: the panel is ready
    p.state.faults = 0;
    p.state.pgm = 0;
    QCOMPARE(answerBytes(p.handleFrame(request({0x12, 0x34, 1, 2}), Via::Modem)),
             (QList<int>{2, 0, 1, 0, 1, 0, 0x80, 0, 0x08}));

    p.handleFrame(request({0x12, 0x34, 1, 3, 2}), Via::Modem);
    QVERIFY(p.state.armed);
    QCOMPARE(p.state.armMode, 2);
    p.handleFrame(request({0x12, 0x34, 1, 11}), Via::Modem);
    QVERIFY(p.state.siren);
    p.handleFrame(request({0x12, 0x34, 1, 4}), Via::Modem);
    QVERIFY(!p.state.armed && !p.state.siren);
    p.handleFrame(request({0x12, 0x34, 1, 7, 0x05, 0x80}), Via::Modem);
    QCOMPARE(p.state.bypassed, quint16(0x8005));
    p.handleFrame(request({0x12, 0x34, 1, 15, 7}), Via::Modem);
    QCOMPARE(p.state.partition, 3);
    p.handleFrame(request({0x12, 0x34, 1, 9, 0x81}), Via::Modem);
    QCOMPARE(p.state.pgm, quint8(0x81));
}

void tst_panel::clockAndEnd()
{
    FakeClock host;
    Panel p;
    p.hostClock = host.fn();
    p.setClock(QDateTime(QDate(2023, 1, 2), QTime(3, 4)));
    QCOMPARE(answerBytes(p.handleFrame(request({0x12, 0x34, 1, 10}), Via::Modem)), (QList<int>{10, 4, 3, 2, 1, 23}));
    // Set clock answers with a status; an impossible date is not taken.
    QCOMPARE(answerBytes(p.handleFrame(request({0x12, 0x34, 1, 8, 59, 23, 31, 12, 30}), Via::Modem)).value(0), 2);
    QCOMPARE(answerBytes(p.handleFrame(request({0x12, 0x34, 1, 10}), Via::Modem)), (QList<int>{10, 59, 23, 31, 12, 30}));
    p.handleFrame(request({0x12, 0x34, 1, 8, 0, 0, 30, 2, 24}), Via::Modem);
    QCOMPARE(p.clock(), QDateTime(QDate(2030, 12, 31), QTime(23, 59)));

    QList<QList<bool>> ends;
    connect(&p, &Panel::endOfConnection, this, [&ends](Via, bool callBack, bool overIp) { ends << QList<bool>{callBack, overIp}; });
    // An end as the first request of a connection asks for a call-back;
    // after other requests it does not, unless it asks for IP.
    p.beginSession(Via::Modem);
    p.handleFrame(request({0x12, 0x34, 1, 5, 0}), Via::Modem);
    p.beginSession(Via::Modem);
    p.handleFrame(request({0x12, 0x34, 1, 2}), Via::Modem);
    p.handleFrame(request({0x12, 0x34, 1, 5, 0}), Via::Modem);
    p.handleFrame(request({0x12, 0x34, 1, 5, 1}), Via::Modem);
    p.state.callBack = false;
    p.beginSession(Via::Ip);
    p.handleFrame(request({0x12, 0x34, 1, 5, 1}), Via::Ip);
    QCOMPARE(ends, (QList<QList<bool>>{{true, false}, {false, false}, {true, true}, {false, true}}));
}

void tst_panel::stateInAndOut()
{
    FakeClock host;
    Panel p;
    p.hostClock = host.fn();
    // Its memory holds the code it answers to, where the demo models keep it.
    QCOMPARE(p.state.programMemory.mid(224, 2), QByteArray("\x12\x34"));
    QString error;
    QVERIFY(p.fromJson(QJsonObject{{"accessCode", "ab12"}, {"zonesOpen", QJsonArray{1, 16}}, {"faults", QJsonArray{8}},
                                   {"armed", true}, {"clock", "2024-08-15 20:25:00"}, {"partition", 3},
                                   {"panelCode", 2}},
                       &error));
    QCOMPARE(p.state.accessCode, QStringLiteral("AB12"));
    QCOMPARE(p.state.programMemory.mid(240, 2), QByteArray("\xAB\x12"));
    QCOMPARE(p.state.programMemory.count('\0'), Panel::MemorySize - 2); // an NX-16 has nothing at PX-16's place
    QCOMPARE(p.state.zonesOpen, quint16(0x8001));
    QCOMPARE(p.state.faults, quint8(0x80));
    host.t = host.t.addSecs(3600);
    QCOMPARE(p.clock(), QDateTime(QDate(2024, 8, 15), QTime(21, 25)));
    p.handleFrame(request({0xAB, 0x12, 2, 2}), Via::Ip);
    const QJsonObject out = p.toJson();
    QCOMPARE(out.value("zonesOpen").toArray(), (QJsonArray{1, 16}));
    QCOMPARE(out.value("clock").toString(), QStringLiteral("2024-08-15 21:25:00"));
    QCOMPARE(out.value("received").toArray().size(), 1);
    QCOMPARE(out.value("received").toArray()[0].toObject().value("via").toString(), QStringLiteral("ip"));

    // A bad value changes nothing at all.
    for (const QJsonObject& bad : {QJsonObject{{"zonesOpen", QJsonArray{17}}, {"armed", false}},
                                   QJsonObject{{"accessCode", "12G4"}}, QJsonObject{{"partition", 4}},
                                   QJsonObject{{"armed", 1}}, QJsonObject{{"clock", "ayer"}}}) {
        QVERIFY(!p.fromJson(bad, &error));
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(p.state.armed);
    QCOMPARE(p.state.partition, 3);
    QCOMPARE(p.state.accessCode, QStringLiteral("AB12"));
}

// A late acknowledgement costs the request it collides with; an unstored
// write is acknowledged all the same; a byte changes when a session starts.
void tst_panel::faultsForVerifiedUploads()
{
    Panel p;
    const auto write = [&](int address, int value) {
        return p.handleFrame(request({0x12, 0x34, 1, 1, address, 0, value}), Via::Modem);
    };
    const QByteArray status = request({0x12, 0x34, 1, 2});
    QVERIFY(p.fromJson(QJsonObject{{"lateAcks", 1}, {"unstoredWrites", 1}, {"unstoredAddress", 7},
                                   {"nextSessionChanges", QJsonArray{QJsonArray{9, 0xAB}}}}));
    QVERIFY(write(3, 0x33).isEmpty());       // stored, acknowledgement held
    QCOMPARE(write(3, 0x33), Panel::encode({1})); // the retry is answered
    QCOMPARE(p.handleFrame(status, Via::Modem), Panel::encode({1})); // the late one, instead of a status
    QCOMPARE(p.lost, 1);
    QCOMPARE(p.requestsOf(2), 0);
    QVERIFY(!p.handleFrame(status, Via::Modem).isEmpty());
    QCOMPARE(p.state.programMemory.at(3), char(0x33));

    QCOMPARE(write(6, 0x66), Panel::encode({1})); // does not cover address 7
    QCOMPARE(write(7, 0x77), Panel::encode({1}));
    QCOMPARE(write(7, 0x78), Panel::encode({1}));
    QCOMPARE(p.state.programMemory.mid(6, 2), QByteArray("\x66\x78"));

    QCOMPARE(p.state.programMemory.at(9), char(0));
    p.beginSession(Via::Modem);
    QCOMPARE(p.state.programMemory.at(9), char(0xAB));
    QVERIFY(p.state.nextSessionChanges.isEmpty());
    QVERIFY(!p.fromJson(QJsonObject{{"nextSessionChanges", QJsonArray{QJsonArray{5001, 1}}}}));
    QVERIFY(!p.fromJson(QJsonObject{{"lateAcks", -1}}));
}

QTEST_GUILESS_MAIN(tst_panel)
void tst_panel::manyPanelsByNumber()
{
    // A folder of NUMBER.json and one file listing them give the same bank.
    QTemporaryDir dir;
    auto write = [](const QString& file, const QJsonObject& o) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(o).toJson()) > 0;
    };
    const QJsonObject first{{"panelCode", 2}, {"busyCalls", 2}};
    const QJsonObject second{{"accessCode", "4321"}};
    QVERIFY(write(dir.filePath("5550001.json"), first));
    QVERIFY(write(dir.filePath("5550002.json"), second));
    QVERIFY(write(dir.filePath("lista"), QJsonObject{{"5550001", first}, {"5550002", second}}));
    for (const QString& path : {dir.path(), dir.filePath("lista")}) {
        panelsim::PanelBank bank;
        QString error;
        QVERIFY2(bank.load(path, &error), qPrintable(error));
        QCOMPARE(bank.numbers(), (QStringList{"5550001", "5550002"}));
        QByteArray result;
        QCOMPARE(bank.route("5550009", &result), nullptr);
        QCOMPARE(result, QByteArray("NO ANSWER"));
        for (int call = 0; call < 2; ++call) {
            QCOMPARE(bank.route("5550001", &result), nullptr);
            QCOMPARE(result, QByteArray("BUSY"));
        }
        panelsim::Panel* p = bank.route("5550001", &result);
        QVERIFY(p && result.isEmpty());
        QCOMPARE(p->state.panelCode, 2);
        QCOMPARE(bank.route("5550002", &result)->state.accessCode, QStringLiteral("4321"));
    }
    // A bad state is refused with the panel it belongs to.
    panelsim::PanelBank bad;
    QString error;
    QVERIFY(!bad.add("5550003", QJsonObject{{"panelCode", "x"}}, &error));
    QVERIFY(error.startsWith("panel 5550003"));
}

#include "tst_panel.moc"
