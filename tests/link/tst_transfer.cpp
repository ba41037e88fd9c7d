// Memory map transfer and event log download on fake devices: the image
// built from the values, the runs the scheduler sends, the answers stored.

#include "common/fault_injector.h"
#include "common/linkrig.h"
#include "link_test_access.h"
#include "records/section_format.h"

#include <QtTest>

namespace {

// A subscriber of model 1 whose values lie only in sections made here, so
// that each case knows its whole memory layout.
struct TransferRig : LinkRig {
    static constexpr int Subscriber = 7;
    QSqlDatabase c = st.main.db();

    TransferRig()
    {
        db::exec(c, QStringLiteral("INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, "
                                   "nombre, calle, numero, localidad, id_provincia, tel_1) VALUES (?, '0007', 1, 1, 'A', 'B', 'C', '1', "
                                   "'D', 6, '5550007')"),
                 {Subscriber});
        // The runs as the protocol moves them; the read-back of an upload is
        // tested end to end against the simulator.
        db::exec(c, QStringLiteral("UPDATE configuracion SET verificar_subidas = 0"));
        show({Subscriber, 1, QStringLiteral("1234"), QStringLiteral("1")});
        connectModem();
        firstTurn();
    }
    void section(int id, int tipo, int lng, int pos, const QStringList& values, int estado)
    {
        db::exec(c, QStringLiteral("INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, posicion, "
                                   "descripcion, filler) VALUES (1, ?, ?, ?, 0, ?, 'x', NULL)"),
                 {id, tipo, lng, pos});
        for (int i = 0; i < values.size(); ++i)
            db::exec(c, QStringLiteral("INSERT INTO abonados_valores VALUES (?, ?, ?, ?, ?)"),
                     {Subscriber, id, i + 1, values.at(i), estado});
    }
    QStringList values(int id)
    {
        QStringList out;
        QSqlQuery q = db::exec(c, QStringLiteral("SELECT valor FROM abonados_valores WHERE id_abonado = ? AND "
                                                 "id_seccion = ? ORDER BY id_item"),
                               {Subscriber, id});
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
    int marked(int id)
    {
        return db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM abonados_valores WHERE id_abonado = ? AND "
                                            "id_seccion = ? AND id_estado <> 0"),
                          {Subscriber, id})
            .toInt();
    }
    // The next request of a turn (empty when the turn sent nothing).
    QList<int> nextRequest()
    {
        const int n = ticksUntilSent(1200);
        if (n < 0)
            return {};
        const QList<QList<int>> r = takeRequests();
        return r.isEmpty() ? QList<int>() : r.last();
    }
    // Answers every read run from `memory` until the read is over.
    int readAll(const std::function<int(int)>& memory)
    {
        int runs = 0;
        while (link.readPending()) {
            const QList<int> q = nextRequest();
            if (q.isEmpty() || q.at(3) != 0)
                break;
            QList<int> a{0};
            for (int k = 0; k < q.at(6); ++k)
                a << memory(q.at(4) + q.at(5) * 256 + k);
            com.receive(answerFrame(a));
            ++runs;
        }
        return runs;
    }
};

} // namespace

class tst_transfer : public QObject {
    Q_OBJECT
private slots:
    void encodingsLoadAndReadBack();
    void whatTheEditorTakesTheLinkSends_data();
    void whatTheEditorTakesTheLinkSends();
    void writeRunsAndSectionMarks();
    void nothingMarkedAndAddressFiveThousand();
    void progressOfThreeSections();
    void badValuesStopLoadingAndSendNothing();
    void storeFailureStopsTheTransferOnce();
    void shortReadAnswerAsksAgain();
    void shortAndDatedEvents();
    void answersToOtherRequestsChangeNothing();
};

void tst_transfer::encodingsLoadAndReadBack()
{
    TransferRig r;
    r.section(901, 1, 0, 100, {"1", "0", "1", "0", "0", "0", "0", "0"}, 1);
    r.section(902, 4, 5, 110, {"A1B2C"}, 1);
    r.section(903, 3, 0, 120, {"12FFFFFF", "255", "007"}, 1);
    r.section(904, 2, 0, 130, {"0a", "FF"}, 1);
    r.link.requestTransfer(PanelLink::Transfer::Write);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    QCOMPARE(r.link.transfer().progressTotal, 4.0);
    const auto& m = r.link.transfer().memoryImage;
    QCOMPARE(int(m[100]), 5);
    QCOMPARE(QList<int>({m[110], m[111], m[112], m[113]}), QList<int>({0xA1, 0xB2, 0x0C, 0}));
    QCOMPARE(QList<int>({m[120], m[121], m[122]}), QList<int>({12, 255, 7}));
    QCOMPARE(QList<int>({m[130], m[131]}), QList<int>({10, 255}));
    QCOMPARE(int(r.link.transfer().addressSection[113]), int(PanelLink::NoSection));
    QCOMPARE(int(r.link.transfer().transferMarks[112]), 1);

    // Marked for reading, the same image comes back as the stored texts.
    LinkTestAccess::setWritePending(r.link, false);
    db::exec(r.c, QStringLiteral("UPDATE abonados_valores SET id_estado = -1"));
    db::exec(r.c, QStringLiteral("UPDATE abonados_valores SET valor = '0' WHERE id_seccion IN (901, 902)"));
    r.link.requestTransfer(PanelLink::Transfer::Read);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    const QList<int> panel{5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0xB2, 0x0C, 0, 0, 0, 0, 0, 0, 0,
                           13, 254, 8, 0, 0, 0, 0, 0, 0, 0, 0x1B, 0};
    r.readAll([&](int a) { return a >= 100 && a < 132 ? panel.at(a - 100) : 0x77; });
    QVERIFY(!r.link.readPending());
    QCOMPARE(r.values(901), QStringList({"1", "0", "1", "0", "0", "0", "0", "0"}));
    QCOMPARE(r.values(902), QStringList({"A1B20C"}));
    QCOMPARE(r.values(903), QStringList({"013", "254", "008"}));
    QCOMPARE(r.values(904), QStringList({"1B", "00"}));
    for (int s : {901, 902, 903, 904})
        QCOMPARE(r.marked(s), 0);
    QVERIFY(r.console.sectionRefreshes >= 4);
}

void tst_transfer::whatTheEditorTakesTheLinkSends_data()
{
    QTest::addColumn<int>("tipo");
    QTest::addColumn<int>("caracteres");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("saved");   // "!why": refused by the editor
    QTest::addColumn<QList<int>>("bytes"); // what the panel gets
    // A decimal byte padded with a digit keeps its number.
    QTest::newRow("3 fill 0") << 3 << 3 << "0" << "25" << "025" << QList<int>{25};
    QTest::newRow("3 fill 0, one digit") << 3 << 3 << "0" << "7" << "007" << QList<int>{7};
    QTest::newRow("3 fill 0, whole") << 3 << 3 << "0" << "255" << "255" << QList<int>{255};
    QTest::newRow("3 fill 0, above a byte") << 3 << 3 << "0" << "256" << "!valor de 0 a 255" << QList<int>{};
    QTest::newRow("3 fill 0, wider than a byte") << 3 << 5 << "0" << "25" << "00025" << QList<int>{25};
    QTest::newRow("3 fill 5") << 3 << 3 << "5" << "25" << "!debe tener 3 caracteres (rellenar con 5 cambiaría el número)"
                              << QList<int>{};
    QTest::newRow("3 fill 5, whole") << 3 << 3 << "5" << "125" << "125" << QList<int>{125};
    QTest::newRow("3 fill F") << 3 << 4 << "F" << "25" << "25FF" << QList<int>{25};
    QTest::newRow("3 fill blank") << 3 << 4 << " " << "7" << "7   " << QList<int>{7};
    QTest::newRow("3 no fill, short") << 3 << 3 << "" << "25" << "!debe tener 3 caracteres" << QList<int>{};
    QTest::newRow("3 no fill, leading zeros") << 3 << 5 << "" << "00200" << "00200" << QList<int>{200};
    QTest::newRow("3 no length") << 3 << 0 << "0" << "25" << "25" << QList<int>{25};
    QTest::newRow("3 fill F inside") << 3 << 4 << "F" << "1F2" << "!valor de 0 a 255" << QList<int>{};
    QTest::newRow("2 byte") << 2 << 2 << "" << "0a" << "0a" << QList<int>{10};
    QTest::newRow("2 leading zeros") << 2 << 4 << "0" << "00FF" << "00FF" << QList<int>{255};
    QTest::newRow("2 above a byte") << 2 << 4 << "0" << "01FF" << "!valor de 0 a 255" << QList<int>{};
    QTest::newRow("4 fill F") << 4 << 4 << "F" << "12" << "12FF" << QList<int>{0x12, 0xFF};
    QTest::newRow("5 fill 0") << 5 << 4 << "0" << "A" << "A000" << QList<int>{0xA0, 0x00};
}

// One rule for the editor and the link: every value the editor saves for a
// section goes to the panel as the number typed.
void tst_transfer::whatTheEditorTakesTheLinkSends()
{
    QFETCH(int, tipo);
    QFETCH(int, caracteres);
    QFETCH(QString, fill);
    QFETCH(QString, typed);
    QFETCH(QString, saved);
    QFETCH(QList<int>, bytes);
    QString why;
    const std::optional<QString> stored = SectionFormat{tipo, caracteres, fill}.saved(typed, &why);
    QCOMPARE(stored.value_or('!' + why), saved);
    if (!stored)
        return;
    TransferRig r;
    db::exec(r.c, QStringLiteral("INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, posicion, "
                                 "descripcion, filler) VALUES (1, 930, ?, ?, ?, 900, 'x', ?)"),
             {tipo, tipo >= 4 ? caracteres : 1, caracteres, fill.isEmpty() ? QVariant() : QVariant(fill)});
    db::exec(r.c, QStringLiteral("INSERT INTO abonados_valores VALUES (?, 930, 1, ?, 1)"), {TransferRig::Subscriber, *stored});
    r.link.requestTransfer(PanelLink::Transfer::Write);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    QList<int> sent;
    for (int a = 900; a < 900 + bytes.size(); ++a)
        sent << r.link.transfer().memoryImage[a];
    QCOMPARE(sent, bytes);
}

void tst_transfer::writeRunsAndSectionMarks()
{
    TransferRig r;
    QStringList items;
    for (int i = 0; i < 31; ++i)
        items << QStringLiteral("%1").arg(i, 2, 16, QLatin1Char('0'));
    r.section(905, 2, 0, 10, items, 1);
    r.link.requestTransfer(PanelLink::Transfer::Write);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));

    QList<int> q = r.nextRequest();
    QCOMPARE(q.mid(3, 3), QList<int>({1, 10, 0}));
    QCOMPARE(q.size(), 6 + 16);
    QCOMPARE(q.mid(6), QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    r.com.receive(answerFrame({1}));
    QCOMPARE(r.marked(905), 31);
    // The acknowledgement is not inspected, and a repeated one does nothing.
    r.com.receive(answerFrame({1, 99}));
    QCOMPARE(r.marked(905), 31);

    q = r.nextRequest();
    QCOMPARE(q.mid(3, 3), QList<int>({1, 26, 0}));
    QCOMPARE(q.size(), 6 + 15);
    QCOMPARE(q.last(), 30);
    r.com.receive(answerFrame({1}));
    QCOMPARE(r.marked(905), 0);
    QVERIFY(r.link.writePending());
    // The next turn finds nothing: the write is over, no request goes out
    // and the status poll follows one tick later.
    r.ticks(3);
    r.link.tick();
    QVERIFY(!r.link.writePending());
    QCOMPARE(r.link.scheduler().waitCountdown, 1);
    QVERIFY(r.com.written.isEmpty());
    r.link.tick();
    r.link.tick();
    QCOMPARE(r.takeRequests().value(0).value(3), 2);
}

void tst_transfer::nothingMarkedAndAddressFiveThousand()
{
    TransferRig r;
    r.section(906, 2, 0, 5000, {"01"}, 1);
    r.link.requestTransfer(PanelLink::Transfer::Write);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    QCOMPARE(r.link.transfer().transferMarks[5000], 1);
    const QList<int> q = r.nextRequest();
    QVERIFY(!r.link.writePending());
    QCOMPARE(q.value(3), 2); // the status poll, not a write
    QCOMPARE(r.link.scheduler().answersReceived[1], 0);
}

void tst_transfer::progressOfThreeSections()
{
    TransferRig r;
    r.section(907, 2, 0, 200, {"01"}, 1);
    r.section(908, 2, 0, 300, {"02"}, 1);
    r.section(909, 2, 0, 400, {"03"}, 1);
    r.section(910, 2, 0, 500, {"04"}, 0); // not marked: not counted
    r.link.requestTransfer(PanelLink::Transfer::Write);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    QCOMPARE(r.link.transfer().progressTotal, 3.0);
    QStringList captions, lines;
    QList<int> bars;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(r.nextRequest().value(3), 1);
        r.com.receive(answerFrame({1}));
        captions << r.link.view().caption(QStringLiteral("st_progreso"));
        bars << r.link.view().pb_progreso;
        lines << r.link.view().statusLine;
    }
    QCOMPARE(captions, QStringList({"33%", "67%", ""}));
    QCOMPARE(bars, QList<int>({33, 67, 0}));
    // The bar clears itself; the status line says how far it went, then
    // that it is over.
    QCOMPARE(lines, QStringList({"Subiendo: 1 de 3 secciones", "Subiendo: 2 de 3 secciones",
                                 "Subiendo: 3 de 3 secciones"}));
    QCOMPARE(r.nextRequest().value(3), 2);
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Subida terminada: 3 secciones"));
}

void tst_transfer::badValuesStopLoadingAndSendNothing()
{
    const QList<std::pair<int, QString>> bad{{3, "256"}, {3, "1X2"}, {2, "1FF"}, {2, "G1"}, {4, "12G4"}};
    for (const auto& [tipo, valor] : bad) {
        TransferRig r;
        r.section(911, 2, 0, 600, {"01"}, 1);
        r.section(912, tipo, 4, 700, {valor}, 1);
        r.link.requestTransfer(PanelLink::Transfer::Write);
        QVERIFY2(!r.link.loadTransfer(r.console.subscriber), qPrintable(valor));
        QCOMPARE(r.st.messages.lastText(), QStringLiteral("Se produjo un error inesperado"));
        QCOMPARE(r.st.messages.lastTitle(), QStringLiteral("error"));
        QVERIFY(!r.link.writePending());
        // The section loaded before the bad one is kept but not sent.
        QCOMPARE(int(r.link.transfer().memoryImage[600]), 1);
        QCOMPARE(r.nextRequest().value(3), 2);
        QCOMPARE(r.marked(911), 1);
    }
}

void tst_transfer::storeFailureStopsTheTransferOnce()
{
    // A store that cannot write (a full disk) fails again on every answer:
    // the transfer stops at the first, says so once with the reason, and
    // the call ends with its end frames. What was not stored stays marked
    // and no summary counts it.
    TransferRig r;
    r.section(913, 2, 0, 800, {"11", "22"}, -1);
    r.section(916, 2, 0, 802, {"33"}, -1);
    r.section(917, 2, 0, 900, {"44"}, -1);
    r.link.requestTransfer(PanelLink::Transfer::Read);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    // The second value of 913 finds the disk full: the first one, written
    // already, goes back with it.
    FaultInjector full(r.c, FaultInjector::Kind::DiskFull, 2, {"abonados_valores"});
    QSignalSpy queued(&r.link, &PanelLink::messageQueued);
    QCOMPARE(r.nextRequest().mid(3), QList<int>({0, 800 % 256, 800 / 256, 3}));
    r.com.receive(answerFrame({0, 0xAA, 0xBB, 0xCC}));
    // No box from inside the answer: the message waits for the console.
    QVERIFY(r.st.messages.shown.isEmpty());
    QCOMPARE(queued.size(), 1);
    const QList<PanelLink::Message> m = r.link.takeMessages();
    QCOMPARE(m.size(), 1);
    QCOMPARE(m.first().title, QStringLiteral("Error"));
    QVERIFY2(m.first().text.startsWith("No se pudo guardar lo recibido del panel") &&
                 m.first().text.contains("\nTransferencia detenida. Secciones guardadas: 0; siguen marcadas: 3.\n") &&
                 m.first().text.contains("\nNo hay espacio en el disco de la base de datos"),
             qPrintable(m.first().text));
    QVERIFY(!r.link.readPending());
    QVERIFY(!r.link.scheduler().ticksSuspended);
    QCOMPARE(r.link.scheduler().pendingCommand, int(LinkCommands::CmdEnd));
    QCOMPARE(r.link.view().caption(QStringLiteral("st_progreso")), QString());
    QCOMPARE(r.values(913), QStringList({"11", "22"}));
    QCOMPARE(r.marked(913) + r.marked(916) + r.marked(917), 4);

    // Events of the same call that cannot be stored: stopped, not said again.
    FaultInjector fullEvents(r.c, FaultInjector::Kind::DiskFull, 1, {"abonados_eventos"});
    r.show({TransferRig::Subscriber, 1, QStringLiteral("1234"), QStringLiteral("1")});
    r.link.requestTransfer(PanelLink::Transfer::Events);
    r.link.setPendingCommand(0);
    QCOMPARE(r.nextRequest().mid(2), QList<int>({1, 6, 8}));
    r.com.receive(answerFrame({6, 0x85, 3, 0x05, 200}));
    r.nextRequest();
    r.com.receive(answerFrame({6, 0x33}));
    QVERIFY(!r.link.eventsPending());
    QCOMPARE(queued.size(), 1);
    QVERIFY(r.link.takeMessages().isEmpty());
    QCOMPARE(r.link.scheduler().pendingCommand, int(LinkCommands::CmdEnd));
}

void tst_transfer::shortReadAnswerAsksAgain()
{
    TransferRig r;
    r.section(914, 2, 0, 900, {"00", "00", "00"}, -1);
    r.link.requestTransfer(PanelLink::Transfer::Read);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    const QList<int> q = r.nextRequest();
    QCOMPARE(q.mid(3), QList<int>({0, 900 % 256, 900 / 256, 3}));
    r.com.receive(answerFrame({0, 0xAB, 0xCD}));
    QVERIFY(r.link.scheduler().frameError);
    QCOMPARE(int(r.link.transfer().transferMarks[902]), -1);
    QCOMPARE(r.values(914), QStringList({"00", "00", "00"}));
    QCOMPARE(r.nextRequest(), q);
    r.com.receive(answerFrame({0, 0xAB, 0xCD, 0xEF}));
    QCOMPARE(r.values(914), QStringList({"AB", "CD", "EF"}));
    QCOMPARE(r.marked(914), 0);
}

void tst_transfer::shortAndDatedEvents()
{
    TransferRig r;
    const auto rows = [&r] {
        QList<QStringList> out;
        QSqlQuery q = db::exec(r.c, QStringLiteral("SELECT id_panel, id_evento, parametro, id_tipo, fecha FROM "
                                                   "abonados_eventos WHERE id_abonado = ? ORDER BY orden"),
                               {TransferRig::Subscriber});
        while (q.next())
            out << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                               q.value(3).toString(), q.value(4).toString()};
        return out;
    };

    // Short records (protocol code 1): request 6 with 8. The answers are
    // held and counted, and stored together, in order, when the download
    // ends; the console is shown them then.
    r.show({TransferRig::Subscriber, 1, QStringLiteral("1234"), QStringLiteral("1")});
    r.link.requestTransfer(PanelLink::Transfer::Events);
    QCOMPARE(r.nextRequest().mid(2), QList<int>({1, 6, 8}));
    r.com.receive(answerFrame({6, 0x85, 3, 0x05, 200}));
    QCOMPARE(rows().size(), 0);
    QVERIFY(r.link.eventsPending());
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Bajando eventos: 2 eventos"));
    r.nextRequest();
    r.com.receive(answerFrame({6, 0x07, 9}));
    r.nextRequest();
    r.com.receive(answerFrame({6, 0x33}));
    QVERIFY(!r.link.eventsPending());
    QCOMPARE(rows().size(), 3);
    QCOMPARE(rows().at(0).mid(0, 4), QStringList({"1", "5", "3", "1"}));
    QCOMPARE(rows().at(1).mid(0, 4), QStringList({"1", "5", "200", "0"}));
    QCOMPARE(rows().at(2).mid(0, 4), QStringList({"1", "7", "9", "0"}));
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Descarga de eventos terminada: 3 eventos"));
    QCOMPARE(r.console.eventRefreshes, 1);

    // Held records wait a second of ticks at most, and no longer than the
    // session; a long download is stored every thousand records.
    db::exec(r.c, QStringLiteral("DELETE FROM abonados_eventos"));
    r.link.requestTransfer(PanelLink::Transfer::Events);
    r.nextRequest();
    r.com.receive(answerFrame({6, 0x01, 1}));
    r.ticks(TransferSession::heldEventsTicks - 1);
    QCOMPARE(rows().size(), 0);
    r.link.tick();
    QCOMPARE(rows().size(), 1);
    r.nextRequest();
    r.com.receive(answerFrame({6, 0x02, 2}));
    r.link.endSession();
    QCOMPARE(rows().size(), 2);
    QCOMPARE(rows().at(1).mid(1, 2), QStringList({"2", "2"}));
    r.show({TransferRig::Subscriber, 1, QStringLiteral("1234"), QStringLiteral("1")});
    r.connectModem();
    r.firstTurn();
    r.link.requestTransfer(PanelLink::Transfer::Events);
    r.nextRequest();
    QList<int> full{6};
    for (int k = 0; k < 127; ++k)
        full << k << k;
    // Answers back to back, without a tick between them: only their count
    // has them stored.
    for (int a = 1; a <= 8; ++a) {
        LinkTestAccess::setOutstandingRequest(r.link, 6);
        r.com.receive(answerFrame(full));
        QCOMPARE(rows().size(), a < 8 ? 2 : 2 + 8 * 127);
    }
    QCOMPARE(rows().last().mid(1, 2), QStringList({"126", "126"}));

    // Dated records (protocol code 2): request 13 with 2.
    db::exec(r.c, QStringLiteral("DELETE FROM abonados_eventos"));
    r.show({TransferRig::Subscriber, 1, QStringLiteral("1234"), QStringLiteral("2")});
    r.link.requestTransfer(PanelLink::Transfer::Events);
    QCOMPARE(r.nextRequest().mid(2), QList<int>({2, 13, 2}));
    r.com.receive(answerFrame({13, 0x2A, 7, 0x2A, 0xA3, 0x0F, 0x31,
                               // day 0: stored with the time of storing
                               0x81, 1, 0x00, 0x00, 0x00, 0x00,
                               // top bit set: 31/12/2127 23:59
                               0x02, 2, 0x60, 0xBF, 0x9F, 0xFF}));
    r.nextRequest();
    r.com.receive(answerFrame({13, 1, 2, 3, 4, 5}));
    QVERIFY(!r.link.eventsPending());
    const QList<QStringList> got = rows();
    QCOMPARE(got.size(), 3);
    QCOMPARE(got.at(0), QStringList({"1", "42", QString::number(2512 + 7), "0", "2024-08-15 20:25:00"}));
    QCOMPARE(got.at(1).mid(0, 4), QStringList({"1", "1", "1", "1"}));
    QVERIFY(QDateTime::fromString(got.at(1).at(4), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
    QCOMPARE(got.at(2).at(4), QStringLiteral("2127-12-31 23:59:00"));
    QCOMPARE(codec::eventDate(0x80000000u | (1u << 21) | (1u << 16)), QStringLiteral("2064-01-01 00:00:00"));
    QCOMPARE(codec::eventDate(13u << 21 | 1u << 16), QString());

    // The answers held are stored whole or not at all: the 200th record
    // refused, the first answer is not kept either, and the download stops
    // saying so once.
    r.link.endSession();
    db::exec(r.c, QStringLiteral("DELETE FROM abonados_eventos"));
    FaultInjector diskFull(r.c, FaultInjector::Kind::DiskFull, 200, {"abonados_eventos"});
    r.show({TransferRig::Subscriber, 1, QStringLiteral("1234"), QStringLiteral("1")});
    r.connectModem();
    r.firstTurn();
    r.link.requestTransfer(PanelLink::Transfer::Events);
    r.nextRequest();
    for (const QList<int>& answer : {full, full, QList<int>{6, 0x33}}) {
        LinkTestAccess::setOutstandingRequest(r.link, 6);
        r.com.receive(answerFrame(answer));
    }
    QCOMPARE(rows().size(), 0);
    QCOMPARE(r.link.view().statusLine, QStringLiteral("Descarga de eventos detenida. Eventos guardados: 0"));
    QVERIFY(!r.link.eventsPending());
    const QList<PanelLink::Message> said = r.link.takeMessages();
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.first().text.contains("\nDescarga de eventos detenida. Eventos guardados: 0.\n"), qPrintable(said.first().text));
}

void tst_transfer::answersToOtherRequestsChangeNothing()
{
    TransferRig r;
    r.section(915, 2, 0, 1000, {"11", "22"}, 1);
    r.section(916, 2, 0, 1100, {"00", "00"}, -1);
    const auto events = [&r] {
        return db::scalar(r.c, QStringLiteral("SELECT COUNT(*) FROM abonados_eventos")).toInt();
    };

    // Upload: a read answer in place of the acknowledgement stores nothing,
    // and the run goes out again.
    r.link.requestTransfer(PanelLink::Transfer::Write);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    const QList<int> write = r.nextRequest();
    QCOMPARE(write.value(3), 1);
    r.com.receive(answerFrame({0, 0x99, 0x98}));
    QVERIFY(r.link.scheduler().frameError);
    QCOMPARE(r.values(915), QStringList({"11", "22"}));
    QCOMPARE(r.marked(915), 2);
    QCOMPARE(int(r.link.transfer().transferMarks[1000]), 1);
    QCOMPARE(r.nextRequest(), write);
    r.com.receive(answerFrame({1}));
    QCOMPARE(r.marked(915), 0);
    QVERIFY(r.nextRequest().value(3) != 1);

    // Download: an acknowledgement, or a read answer longer than the run,
    // clears no mark; only the run's own length is stored.
    r.link.requestTransfer(PanelLink::Transfer::Read);
    QVERIFY(r.link.loadTransfer(r.console.subscriber));
    const QList<int> read = r.nextRequest();
    QCOMPARE(read.mid(3), QList<int>({0, 1100 % 256, 1100 / 256, 2}));
    r.com.receive(answerFrame({1}));
    QCOMPARE(r.nextRequest(), read);
    r.com.receive(answerFrame({0, 0xAB, 0xCD, 0xEF}));
    QCOMPARE(r.marked(916), 2);
    QCOMPARE(int(r.link.transfer().transferMarks[1100]), -1);
    QCOMPARE(r.nextRequest(), read);
    r.com.receive(answerFrame({0, 0xAB, 0xCD}));
    QCOMPARE(r.values(916), QStringList({"AB", "CD"}));
    QCOMPARE(r.marked(916), 0);
    // A repeated answer is no longer awaited.
    r.com.receive(answerFrame({0, 0x12, 0x34}));
    QCOMPARE(r.values(916), QStringList({"AB", "CD"}));

    // No download pending: event answers to status polls store nothing.
    QCOMPARE(r.nextRequest().value(3), 2);
    QList<int> records{6};
    for (int k = 0; k < 127; ++k)
        records << 0x85 << k;
    for (int i = 0; i < 100; ++i)
        r.com.receive(answerFrame(records));
    QCOMPARE(events(), 0);
    QCOMPARE(r.link.scheduler().rejectedAnswers, 104);
    QCOMPARE(r.link.view().toolTip(QStringLiteral("st_err")), QStringLiteral("Respuestas rechazadas en esta conexión: 104"));
    // A new connection counts afresh.
    r.link.endSession();
    r.connectModem();
    QCOMPARE(r.link.scheduler().rejectedAnswers, 0);
}

QTEST_GUILESS_MAIN(tst_transfer)
#include "tst_transfer.moc"
