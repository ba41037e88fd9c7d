// Memory transfer and event download of a demo subscriber against the
// simulated panel over a pseudo-terminal, ticks driven by hand.

#include "common/linkfakes.h"
#include "common/testsupport.h"

#include "app/mdl_main.h"
#include "data/db.h"
#include "link/datagramsocket_qt.h"
#include "link/mdl_trans.h"
#include "link/serialport_qt.h"
#include "modem.h"
#include "panel.h"

#include <QRandomGenerator>
#include <QUdpSocket>
#include <QtTest>

using namespace panelsim;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(1);
    }
    return true;
}

// One value row with its section's layout.
struct Row {
    int pos, tipo, lng, section, item;
    QString valor, filler;
};

struct Session {
    Station st{true, true};
    FakeConsole console;
    FakeClock clock;
    QtSerialPortAdapter com{st.dir()};
    QtUdpSocketAdapter ip;
    mdl_trans link;
    Panel panel;
    Modem modem{&panel};
    QSqlDatabase c = mdl_main::instance().db();
    bool started = false;

    explicit Session(int subscriber)
    {
        mdl_main::instance().portOpen = true;
        panel.hostClock = clock.fn();
        link.setClock(clock.fn());
        console.il_abonado = subscriber;
        console.il_panel = subscriber; // demo subscriber n has model n
        console.is_strpanel = QString::number(subscriber);
        panel.state.panelCode = subscriber;
        link.setConsole(&console);
        com.setCommPort(1);
        com.setSettings(QStringLiteral("110,N,8,2"));
        link.setDevices(&com, &ip);
        modem.options.dialDelayMs = 0;
    }
    bool connect()
    {
        if (!started && !(modem.open() && modem.linkAs(st.dir(), 1)))
            return false;
        started = true;
        return link.img_connect_Click() && waitFor([this] { return link.connected; });
    }
    bool turn(bool answered = true)
    {
        const int before = link.framesSent;
        for (int i = 0; i < 2000 && link.framesSent == before; ++i)
            link.tick();
        if (link.framesSent == before)
            return false;
        return !answered || waitFor([this] { return link.awaitingAnswer == 0; });
    }
    // Turns until the flag drops; false when a turn goes unanswered.
    bool runWhile(const bool& flag, int limit = 2000)
    {
        for (int i = 0; i < limit && flag; ++i)
            if (!turn())
                return false;
        return !flag;
    }
    QList<Row> rows()
    {
        QList<Row> out;
        QSqlQuery q = db::exec(c,
                               QStringLiteral("SELECT s.posicion, s.tipo, s.long, s.id_seccion, v.id_item, v.valor, "
                                              "s.filler FROM abonados_valores v JOIN abonados a USING (id_abonado) "
                                              "JOIN secciones s ON s.id_panel = a.id_panel AND s.id_seccion = "
                                              "v.id_seccion WHERE v.id_abonado = ? ORDER BY s.posicion, v.id_item"),
                               {console.il_abonado});
        while (q.next())
            out << Row{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(),
                       q.value(4).toInt(), q.value(5).toString(), q.value(6).toString()};
        return out;
    }
    int markedRows()
    {
        return db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM abonados_valores WHERE id_estado <> 0 AND id_abonado = ?"),
                          {console.il_abonado})
            .toInt();
    }
    void markAll(int estado)
    {
        db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = ?"),
                 {estado, console.il_abonado});
    }
};

// The panel memory the values stand for, worked out from the stored texts.
QByteArray expectedImage(const QList<Row>& rows)
{
    QByteArray m(Panel::MemorySize, '\0');
    for (const Row& r : rows) {
        QString v = r.valor;
        switch (r.tipo) {
        case 1:
            if (v == QLatin1String("1"))
                m[r.pos] = char(quint8(m[r.pos]) | (1 << (r.item - 1)));
            break;
        case 2:
            m[r.pos + r.item - 1] = char(v.toInt(nullptr, 16));
            break;
        case 3:
            while (!r.filler.isEmpty() && v.endsWith(r.filler))
                v.chop(1);
            m[r.pos + r.item - 1] = char(v.toInt());
            break;
        default: {
            const QByteArray bytes = QByteArray::fromHex((v.left(r.lng) + (r.lng % 2 ? "0" : "")).toLatin1());
            for (int k = 0; k < bytes.size(); ++k)
                m[r.pos + k] = bytes.at(k);
            if (r.lng % 2) // the odd last digit is a byte of its own
                m[r.pos + r.lng / 2] = char(v.mid(r.lng - 1, 1).toInt(nullptr, 16));
        }
        }
    }
    return m;
}

// The texts the station must store when the panel memory is `m`.
QMap<QPair<int, int>, QString> expectedValues(const QList<Row>& rows, const QByteArray& m)
{
    QMap<QPair<int, int>, QString> out;
    for (const Row& r : rows) {
        QString v;
        switch (r.tipo) {
        case 1: v = quint8(m[r.pos]) >> (r.item - 1) & 1 ? "1" : "0"; break;
        case 2: v = QString::asprintf("%02X", quint8(m[r.pos + r.item - 1])); break;
        case 3: v = QString::asprintf("%03d", quint8(m[r.pos + r.item - 1])); break;
        default: v = QString::fromLatin1(m.mid(r.pos, (r.lng + 1) / 2).toHex().toUpper()); break;
        }
        out[{r.section, r.item}] = v;
    }
    return out;
}

QMap<QPair<int, int>, QString> storedValues(const QList<Row>& rows)
{
    QMap<QPair<int, int>, QString> out;
    for (const Row& r : rows)
        out[{r.section, r.item}] = r.valor;
    return out;
}

} // namespace

class tst_transfer_e2e : public QObject {
    Q_OBJECT
private slots:
    void uploadAndDownloadEverySection();
    void downloadCutOffFinishesOnTheNextConnection();
    void eventLogInBothFormats();
};

void tst_transfer_e2e::uploadAndDownloadEverySection()
{
    Session s(1);
    QVERIFY(s.connect());
    QVERIFY(s.turn());
    const QList<Row> rows = s.rows();
    QVERIFY(rows.size() > 100);

    s.markAll(1);
    s.link.writePending = true;
    QVERIFY(s.link.f_cargatransferencia(1));
    QVERIFY(s.runWhile(s.link.writePending));
    const QByteArray want = expectedImage(rows);
    for (int a = 0; a < Panel::MemorySize; ++a)
        QVERIFY2(s.panel.state.programMemory.at(a) == want.at(a), qPrintable(QString::number(a)));
    QCOMPARE(s.markedRows(),
             0);
    QCOMPARE(s.panel.ignored, 0);

    // Other programming in the panel comes back into every section.
    QRandomGenerator rnd(4);
    for (int a = 0; a < Panel::MemorySize; ++a)
        s.panel.state.programMemory[a] = char(rnd.bounded(256));
    s.markAll(-1);
    s.link.readPending = true;
    QVERIFY(s.link.f_cargatransferencia(1));
    QVERIFY(s.runWhile(s.link.readPending));
    QCOMPARE(storedValues(s.rows()), expectedValues(rows, s.panel.state.programMemory));
    QVERIFY(!s.link.frameError);
}

void tst_transfer_e2e::downloadCutOffFinishesOnTheNextConnection()
{
    Session s(2);
    QVERIFY(s.connect());
    QVERIFY(s.turn());
    const QList<Row> rows = s.rows();
    QRandomGenerator rnd(9);
    for (int a = 0; a < Panel::MemorySize; ++a)
        s.panel.state.programMemory[a] = char(rnd.bounded(256));
    s.markAll(-1);
    s.link.readPending = true;
    QVERIFY(s.link.f_cargatransferencia(2));
    for (int i = 0; i < 5; ++i)
        QVERIFY(s.turn());
    // The line goes dead: the panel answers nothing more, and after ten
    // unanswered turns the station gives the connection up.
    s.panel.state.accessCode = QStringLiteral("9999");
    for (int i = 0; i < 20 && s.link.connected; ++i)
        QVERIFY(s.turn(false));
    QVERIFY(!s.link.connected);
    QVERIFY(s.link.readPending);
    const int runsBefore = s.panel.requestsOf(0);
    QVERIFY(waitFor([&] { return s.modem.line() == Modem::Line::Command; }));

    s.panel.state.accessCode = QStringLiteral("1234");
    QVERIFY(s.connect());
    QVERIFY(s.runWhile(s.link.readPending));
    QCOMPARE(storedValues(s.rows()), expectedValues(rows, s.panel.state.programMemory));
    QCOMPARE(s.markedRows(),
             0);
    QVERIFY(s.panel.requestsOf(0) > runsBefore);
}

void tst_transfer_e2e::eventLogInBothFormats()
{
    for (int model : {1, 2}) {
        Session s(model);
        QList<EventRecord> log;
        for (int i = 0; i < 8; ++i)
            log << EventRecord{i % 2 ? 0x80 | (i + 1) : i + 1, model == 1 ? 10 * i : 500 * i + 3,
                               QDateTime(QDate(2024, 1 + i, 2 + i), QTime(i, 5 * i))};
        s.panel.state.eventLog = log;
        QVERIFY(s.connect());
        QVERIFY(s.turn());
        s.link.eventsPending = true;
        QVERIFY(s.runWhile(s.link.eventsPending));
        QVERIFY(s.panel.state.eventLog.isEmpty());
        QCOMPARE(s.panel.requestsOf(model == 1 ? 6 : 13), 4); // 3 + 3 + 2 records, then none

        QSqlQuery q = db::exec(s.c, QStringLiteral("SELECT id_panel, id_evento, parametro, id_tipo, fecha FROM "
                                                   "abonados_eventos WHERE id_abonado = ? ORDER BY orden"),
                               {model});
        for (const EventRecord& e : log) {
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), model);
            QCOMPARE(q.value(1).toInt(), e.event & 127);
            QCOMPARE(q.value(2).toInt(), e.parameter);
            QCOMPARE(q.value(3).toInt(), e.event >> 7);
            if (model == 2)
                QCOMPARE(q.value(4).toString(), e.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        }
        QVERIFY(!q.next());
    }
}

QTEST_GUILESS_MAIN(tst_transfer_e2e)
#include "tst_transfer_e2e.moc"
