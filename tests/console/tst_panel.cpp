// The panel console driven through its controls (found by object name) on
// the station's link, with fake devices whose ticks the test drives.

#include "common/fault_injector.h"
#include "common/linkfakes.h"
#include "link_test_access.h"
#include "common/testsupport.h"

#include "session/mdl_main.h"
#include "ui/ui_pictures.h"
#include "console/w_panel.h"
#include "data/db.h"
#include "link/panel_link.h"
#include "records/ui_section_grid.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <memory>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

namespace {

QSqlDatabase conn()
{
    return stationDb();
}

int scalarInt(const QString& sql, const QVariantList& values = {})
{
    return db::scalar(conn(), sql, values).toInt();
}

QStringList logged(int operation)
{
    QStringList out;
    // In the order written (the table has no key of its own).
    QSqlQuery q = db::exec(conn(),
                           QStringLiteral("SELECT parametro FROM usuarios_operaciones WHERE id_operacion = ? ORDER BY %1")
                               .arg(testOnServer() ? QStringLiteral("ctid") : QStringLiteral("rowid")),
                           {operation});
    while (q.next())
        out << q.value(0).toString();
    return out;
}

// The subscriber's marks of one section, distinct.
QList<int> marks(int abonado, int seccion)
{
    QList<int> out;
    QSqlQuery q = db::exec(conn(),
                           QStringLiteral("SELECT DISTINCT id_estado FROM abonados_valores WHERE id_abonado = ? "
                                          "AND id_seccion = ? ORDER BY id_estado"),
                           {abonado, seccion});
    while (q.next())
        out << q.value(0).toInt();
    return out;
}

int rowOf(QTableWidget* g, int seccion)
{
    for (int r = 0; r < g->rowCount(); ++r)
        if (g->item(r, ui::ColSeccion) && g->item(r, ui::ColSeccion)->text().toInt() == seccion)
            return r;
    return -1;
}

} // namespace

// One station with the demo subscribers, the station's link on fake devices,
// and an open console.
struct Console {
    TestStation st{true, true};
    FakeSerialPort com;
    FakeDatagramSocket ip;
    PanelLink& link = st.trans;
    std::unique_ptr<w_panel> w;

    explicit Console(int level = 1, int rights = -1)
    {
        db::exec(conn(), QStringLiteral("UPDATE configuracion SET ip_port = 5000"));
        st.main.portOpened();
        st.main.logIn(1, level, rights >= 0 ? rights : permissions::levelRights(level));
        link.setDevices(&com, &ip);
        link.reset();
        w = std::make_unique<w_panel>(st.ctx, st.trans);
        w->show();
    }
    ~Console()
    {
        w.reset();
        link.setDevices(nullptr, nullptr);
        link.reset();
    }
    template <typename T = QWidget> T* find(const QString& name) const
    {
        T* c = w->findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    void click(const QString& name) const { QTest::mouseClick(find(name), Qt::LeftButton); }
    void key(const QString& name) const { find<QAction>(name)->trigger(); }
    void connectModem()
    {
        click(QStringLiteral("img_connect"));
        com.receive("\r\nCONNECT\r\n");
        com.takeWritten();
    }
    // The clock request of a new connection, sent and answered.
    void firstTurn()
    {
        for (int i = 0; i < 16; ++i)
            link.tick();
        com.takeWritten();
        com.receive(answerFrame({10, 25, 20, 15, 8, 24}));
    }
    QList<QList<int>> turn()
    {
        for (int i = 0; i < 60 && com.written.isEmpty(); ++i)
            link.tick();
        QList<QList<int>> out;
        for (const QByteArray& f : splitFrames(com.takeWritten()))
            out << requestBytes(f);
        return out;
    }
};

class tst_panel : public QObject {
    Q_OBJECT
private slots:
    void subscriberAndNoSubscriberState();
    void levelsHideTheirControls();
    void linkButtons();
    void closeRefusedWhileConnected();
    void commandsQueueOneAtATime();
    void bypassAndPartitions();
    void sectionListFiltersAndMarks();
    void markKeys();
    void transferKeysOnlyWhenIdle();
    void failedStoreShownOnceAfterTheAnswer();
    void eventsListAndDelete();
};

void tst_panel::subscriberAndNoSubscriberState()
{
    Console c;
    QCOMPARE(c.link.console(), static_cast<LinkConsole*>(c.w.get()));
    QCOMPARE(c.find<QLabel>(QStringLiteral("st_enlace"))->text(), QStringLiteral("Sin conexión"));
    // The modem was reset when the console opened.
    QVERIFY(c.com.written.contains("ATZ"));
    auto noSubscriber = [&c] {
        QCOMPARE(c.w->m_subscriber.number, 0);
        QVERIFY(!c.find(QStringLiteral("SSTab_panel"))->isEnabled());
        for (int pos : {3, 6, 7, 8, 9, 10, 11, 12})
            QVERIFY2(!c.w->button(pos)->isEnabled(), qPrintable(QString::number(pos)));
        QVERIFY(c.find<QLabel>(QStringLiteral("st_abonado_0"))->text().isEmpty());
    };
    noSubscriber();

    c.w->showSubscriber(2);
    QCOMPARE(c.w->m_subscriber.number, 2);
    QCOMPARE(c.w->m_subscriber.model, 2);
    QCOMPARE(c.w->m_subscriber.protocolCode, QStringLiteral("2"));
    QCOMPARE(c.w->m_subscriber.accessCode, QStringLiteral("1234"));
    QCOMPARE(c.link.subscriber().number, 2); // the link knows whom the console works on
    QCOMPARE(c.find<QLabel>(QStringLiteral("st_abonado_0"))->text(), QStringLiteral("0002"));
    QCOMPARE(c.find<QLabel>(QStringLiteral("st_abonado_1"))->text(), QStringLiteral("DEMOSTRACIÓN PANEL NX"));
    QCOMPARE(c.find<QLabel>(QStringLiteral("st_abonado_2"))->text(), QStringLiteral("NX-16 ") +
             db::scalar(conn(), QStringLiteral("SELECT version FROM paneles WHERE id_panel = 2")).toString());
    auto* phone = c.find<QLineEdit>(QStringLiteral("sle_telefono"));
    QCOMPARE(phone->text(), QStringLiteral("5550002"));
    // Typed or pasted, only dial characters stay (letters upper-cased).
    phone->selectAll();
    QTest::keyClicks(phone, QStringLiteral("9w1"));
    phone->insert(QStringLiteral("2\r\nATH\x01\u202E3"));
    QCOMPARE(phone->text(), QStringLiteral("9W12T3"));
    QCOMPARE(c.w->telephone(), phone->text());
    QVERIFY(c.find(QStringLiteral("SSTab_panel"))->isEnabled());
    for (int pos : {3, 6, 7, 8, 11, 12})
        QVERIFY(c.w->button(pos)->isEnabled());

    // Without the stored access code the subscriber cannot be shown.
    db::exec(conn(), QStringLiteral("DELETE FROM abonados_valores WHERE id_abonado = 1 AND id_item = 1 AND "
                                    "id_seccion = (SELECT id_seccionpwd FROM paneles WHERE id_panel = 1)"));
    c.w->showSubscriber(1);
    noSubscriber();
    c.w->showSubscriber(77);
    noSubscriber();

    // Tab "Secciones" enables the editing keys; the others disable them.
    c.w->showSubscriber(2);
    auto* tabs = c.find<QTabWidget>(QStringLiteral("SSTab_panel"));
    tabs->setCurrentIndex(1);
    QVERIFY(c.w->cb_modificar->isEnabled() && c.w->cb_premarcar->isEnabled());
    tabs->setCurrentIndex(2);
    QVERIFY(!c.w->cb_modificar->isEnabled() && !c.w->cb_premarcar->isEnabled());

    c.w->close();
    QCOMPARE(c.link.console(), nullptr);
    QCOMPARE(c.w->m_subscriber.number, 0);
    QVERIFY(c.w->m_subscriber.protocolCode.isEmpty());
}

void tst_panel::levelsHideTheirControls()
{
    const QStringList levelThree{"st_cbexclusion", "img_cbexclusion_0", "img_cbexclusion_15", "img_stime",
                                 "st_stime_t", "img_disarm", "st_disarm_t"};
    {
        Console c(3);
        c.w->showSubscriber(1);
        // Redrawing the indicators must not bring them back.
        c.link.updateView();
        QVERIFY(!c.find<QTabWidget>(QStringLiteral("SSTab_panel"))->isTabEnabled(1));
        for (const QString& n : levelThree)
            QVERIFY2(c.find(n)->isHidden(), qPrintable(n));
        QVERIFY(c.find(QStringLiteral("img_borraeventos"))->isHidden());
        QVERIFY(!c.w->cb_subir->isEnabled() && !c.w->cb_imprimir->isEnabled());
        // Level 3 always downloaded events.
        QVERIFY(c.w->cb_eventos->isEnabled());
        // Hidden commands leave no gap: "Pánico" moves up beside the second
        // link button.
        QCOMPARE(c.find(QStringLiteral("img_panico"))->y(), c.find(QStringLiteral("img_connect_AMO"))->y());
        QVERIFY(!c.find(QStringLiteral("img_arm"))->isHidden());
    }
    {
        Console c(2);
        c.w->showSubscriber(1);
        QVERIFY(c.find<QTabWidget>(QStringLiteral("SSTab_panel"))->isTabEnabled(1));
        for (const QString& n : levelThree)
            QVERIFY2(!c.find(n)->isHidden(), qPrintable(n));
        // The delete date goes with the delete button.
        for (const char* n : {"img_borraeventos", "st_borraeventos_t", "dp_borraeventos"})
            QVERIFY2(c.find(QLatin1String(n))->isHidden(), n);
        for (QAction* a : {c.w->cb_bajar, c.w->cb_eventos, c.w->cb_imprimir, c.w->cb_subir})
            QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
    }
    {
        // Level 2 without "Bajar del panel" and "Imprimir y exportar".
        using permissions::Right;
        Console c(2, permissions::levelRights(2) & ~permissions::bit(Right::Bajar) & ~permissions::bit(Right::Imprimir));
        c.w->showSubscriber(1);
        for (QAction* a : {c.w->cb_bajar, c.w->cb_bajarsel, c.w->cb_eventos, c.w->cb_imprimir})
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        QVERIFY(c.w->cb_subir->isEnabled());
    }
}

void tst_panel::linkButtons()
{
    Console c;
    c.w->showSubscriber(1);

    // "Llamar" while waiting for an IP call asks the panel to call back by IP.
    c.find<QPushButton>(QStringLiteral("Command1"))->click();
    QVERIFY(c.link.waitingForCall() && c.link.ipMode());
    c.com.takeWritten();
    c.click(QStringLiteral("st_connect_t")); // the label acts like its image
    QVERIFY(!c.link.ipMode());
    QVERIFY(c.link.connection().ipCallBack);
    QVERIFY(c.link.dialling());
    QVERIFY(c.com.written.contains("ATDT5550001"));
    QCOMPARE(logged(3), QStringList{QStringLiteral("Abonado: 0001 - DEMOSTRACIÓN PANEL PX")});
    // A second click while dialling neither dials nor logs.
    c.click(QStringLiteral("img_connect"));
    QCOMPARE(logged(3).size(), 1);

    // During a modem link the IP button switches the call-back request.
    c.link.reset();
    c.connectModem();
    QVERIFY(c.link.connected() && !c.link.connection().ipCallBack);
    c.find<QPushButton>(QStringLiteral("Command1"))->click();
    QVERIFY(c.link.connection().ipCallBack);
    QCOMPARE(c.link.view().picture(QStringLiteral("img_IP")), QStringLiteral("naranja"));
    c.find<QPushButton>(QStringLiteral("Command1"))->click();
    QVERIFY(!c.link.connection().ipCallBack);
    // The console shows what the link computed.
    c.firstTurn();
    QCOMPARE(c.find<QLabel>(QStringLiteral("img_connect"))->pixmap().toImage(),
             ui::picture(QStringLiteral("verde"), 14).toImage());
    QCOMPARE(c.find<QLabel>(QStringLiteral("st_enlace"))->text(), QStringLiteral("Conectado por módem"));

    // "Cortar" ends the call; the picking of another subscriber waits for it.
    c.click(QStringLiteral("st_end_t"));
    QCOMPARE(c.link.scheduler().pendingCommand, int(PanelLink::CmdEnd));
    QCOMPARE(logged(4).size(), 1);
    c.link.endSession();

    // During an IP link the IP button does nothing.
    c.find<QPushButton>(QStringLiteral("Command1"))->click();
    c.ip.arrive("CONNECT IP");
    QVERIFY(c.link.connected() && c.link.ipMode());
    c.find<QPushButton>(QStringLiteral("Command1"))->click();
    QVERIFY(c.link.connected() && c.link.ipMode() && !c.link.connection().ipCallBack);
    c.link.endSession();
}

void tst_panel::closeRefusedWhileConnected()
{
    Console c;
    c.w->showSubscriber(1);
    c.connectModem();
    QVERIFY(!c.w->close());
    QCOMPARE(c.st.messages.lastText(), QStringLiteral("Primero debe desconectarse"));
    QCOMPARE(c.st.messages.lastTitle(), QStringLiteral("Error"));
    QCOMPARE(c.link.console(), static_cast<LinkConsole*>(c.w.get()));
    c.link.endSession();
    QVERIFY(c.w->close());
    QCOMPARE(c.link.console(), nullptr);
}

void tst_panel::commandsQueueOneAtATime()
{
    Console c;
    c.w->showSubscriber(1);
    // Not connected: ignored.
    c.click(QStringLiteral("img_arm"));
    QCOMPARE(c.link.scheduler().pendingCommand, 0);
    QVERIFY(logged(8).isEmpty());

    c.connectModem();
    c.firstTurn();
    c.find<QComboBox>(QStringLiteral("Combo_armado"))->setCurrentIndex(3);
    QCOMPARE(c.find<QComboBox>(QStringLiteral("Combo_armado"))->itemText(3), QStringLiteral("Presente s/demora"));
    c.click(QStringLiteral("st_arm_t"));
    c.click(QStringLiteral("img_panico")); // still pending: ignored
    QCOMPARE(c.link.scheduler().pendingCommand, int(PanelLink::CmdArm));
    QCOMPARE(logged(8), QStringList{QStringLiteral("Abonado: 0001 - DEMOSTRACIÓN PANEL PX")});
    QVERIFY(logged(12).isEmpty());
    const auto sent = c.turn();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().at(3), 3); // arm
    QCOMPARE(sent.first().at(4), 3); // "Presente s/demora"
    c.link.setPendingCommand(0);

    // PGM keeps the output clicked; "Cortar" replaces whatever is pending.
    c.click(QStringLiteral("img_cbpgm_6"));
    QCOMPARE(c.link.scheduler().pendingCommand, int(PanelLink::CmdPgm));
    QCOMPARE(c.link.status().pgmIndex, 6);
    QCOMPARE(logged(15).size(), 1);
    c.click(QStringLiteral("img_end"));
    QCOMPARE(c.link.scheduler().pendingCommand, int(PanelLink::CmdEnd));
    QCOMPARE(logged(4).size(), 1);
    c.link.endSession();
}

void tst_panel::bypassAndPartitions()
{
    Console c;
    c.w->showSubscriber(1);
    // Not connected: nothing would be sent, so nothing changes or is logged.
    c.click(QStringLiteral("img_cbexclusion_4"));
    c.click(QStringLiteral("img_cbpgm_1"));
    LinkTestAccess::status(c.link).partition = 0;
    c.click(QStringLiteral("img_cbparticion_2"));
    QCOMPARE(c.link.status().zoneBypass[4], 0);
    QCOMPARE(c.link.scheduler().pendingCommand, 0);
    QCOMPARE(c.link.status().partition, 0);
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM usuarios_operaciones")), 0);
    QCOMPARE(c.find<QLabel>(QStringLiteral("img_cbexclusion_4"))->pixmap().toImage(),
             ui::picture(QStringLiteral("gris"), 14).toImage());

    c.connectModem();
    c.firstTurn();
    for (int expected : {3, 2, 3}) {
        c.click(QStringLiteral("img_cbexclusion_4"));
        QCOMPARE(c.link.status().zoneBypass[4], expected);
    }
    const QString zone = QStringLiteral("Zona: 5 Abonado: 0001 - DEMOSTRACIÓN PANEL PX");
    QCOMPARE(logged(10), (QStringList{zone, zone}));
    QCOMPARE(logged(11), QStringList{zone});
    QCOMPARE(c.find<QLabel>(QStringLiteral("img_cbexclusion_4"))->pixmap().toImage(),
             ui::picture(QStringLiteral("amarillo"), 14).toImage());

    // Unknown partition: nothing; otherwise once per change.
    c.click(QStringLiteral("img_cbparticion_2"));
    QCOMPARE(c.link.status().partition, -1);
    LinkTestAccess::status(c.link).partition = 0;
    c.click(QStringLiteral("img_cbparticion_2"));
    QCOMPARE(c.link.status().partition, 6);
    LinkTestAccess::status(c.link).partition = 2;
    c.click(QStringLiteral("img_cbparticion_2"));
    QCOMPARE(c.link.status().partition, 6);
    c.click(QStringLiteral("img_cbparticion_2"));
    QCOMPARE(c.link.status().partition, 6);
    c.link.endSession();
}

void tst_panel::sectionListFiltersAndMarks()
{
    Console c;
    c.w->showSubscriber(1);
    auto* g = c.find<QTableWidget>(QStringLiteral("fg_secciones"));
    c.find<QTabWidget>(QStringLiteral("SSTab_panel"))->setCurrentIndex(1);
    const int sections = scalarInt(QStringLiteral("SELECT count(*) FROM secciones WHERE id_panel = 1"));
    QCOMPARE(g->rowCount(), sections);

    // Digits scroll to the section without filtering.
    auto* filtro = c.find<QLineEdit>(QStringLiteral("sle_filtroseccion"));
    g->resize(400, 120);
    filtro->setText(QStringLiteral("25"));
    QTest::keyClick(filtro, Qt::Key_Return);
    QCOMPARE(g->rowCount(), sections);
    QCOMPARE(g->item(g->rowAt(0), ui::ColSeccion)->text(), QStringLiteral("25"));
    // Other text narrows by description, regardless of case.
    filtro->setText(QStringLiteral("ZONA"));
    QTest::keyClick(filtro, Qt::Key_Return);
    QVERIFY(g->rowCount() > 1 && g->rowCount() < sections);
    for (int r = 0; r < g->rowCount(); ++r)
        QVERIFY(g->item(r, ui::ColDescripcion)->text().contains(QStringLiteral("zona"), Qt::CaseInsensitive));
    filtro->clear();
    QTest::keyClick(filtro, Qt::Key_Return);

    // A click on the mark cycles the whole section: none -> subir -> bajar -> none.
    db::exec(conn(), QStringLiteral("UPDATE abonados_valores SET id_estado = 0 WHERE id_abonado = 1"));
    db::exec(conn(), QStringLiteral("UPDATE abonados_valores SET id_estado = -1 WHERE id_abonado = 1 AND "
                                    "id_seccion = 5 AND id_item = 2"));
    c.w->showSections();
    // Items mixing 0 and -1 show no mark, and the transfer keys stay off.
    QCOMPARE(g->item(rowOf(g, 5), ui::ColEstado)->text(), QStringLiteral("0"));
    QVERIFY(!c.w->cb_subirch->isEnabled() && !c.w->cb_bajarsel->isEnabled() && !c.w->cb_desmarcar->isEnabled());
    for (const QList<int>& expected : {QList<int>{1}, QList<int>{-1}, QList<int>{0}}) {
        const int r = rowOf(g, 5);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualItemRect(g->item(r, ui::ColMarca)).center());
        QCOMPARE(marks(1, 5), expected);
        QCOMPARE(g->item(rowOf(g, 5), ui::ColEstado)->text(), QString::number(expected.first()));
        QCOMPARE(c.w->cb_subirch->isEnabled(), expected.first() == 1);
        QCOMPARE(c.w->cb_bajarsel->isEnabled(), expected.first() == -1);
    }

    // A model without sections: one empty row that a click leaves alone.
    c.w->m_subscriber.model = 99;
    c.w->showSections();
    QCOMPARE(g->rowCount(), 1);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(0, 0)).center());
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND id_estado <> 0")), 0);
}

void tst_panel::markKeys()
{
    Console c;
    c.w->showSubscriber(1);
    auto* g = c.find<QTableWidget>(QStringLiteral("fg_secciones"));
    auto setMark = [](int seccion, int marca) {
        db::exec(conn(), QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = 1 AND id_seccion = ?"),
                 {marca, seccion});
    };

    // A mark that cannot be written (the disk full from the fifth row on)
    // says so and changes nothing, not even the rows before.
    const int unmarked = scalarInt(QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND id_estado <> -1"));
    auto full = std::make_unique<FaultInjector>(conn(), FaultInjector::Kind::DiskFull, 5, QStringList{"abonados_valores"});
    c.key(QStringLiteral("cb_bajar"));
    QVERIFY2(c.st.messages.lastText().startsWith("No fué posible marcar las secciones.\nNo hay espacio en el disco de la base de datos"),
             qPrintable(c.st.messages.lastText()));
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND id_estado <> -1")), unmarked);
    full.reset();
    c.st.messages.clear();

    c.key(QStringLiteral("cb_bajar"));
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND id_estado <> -1")), 0);
    QCOMPARE(g->item(0, ui::ColEstado)->text(), QStringLiteral("-1"));
    QVERIFY(c.w->cb_bajarsel->isEnabled() && !c.w->cb_subirch->isEnabled());
    c.key(QStringLiteral("cb_desmarcar"));
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND id_estado <> 0")), 0);

    // Invertir swaps subir and bajar and leaves the rest.
    setMark(3, 1);
    setMark(4, -1);
    c.w->showSections();
    c.key(QStringLiteral("cb_invertir"));
    QCOMPARE(marks(1, 3), QList<int>{-1});
    QCOMPARE(marks(1, 4), QList<int>{1});
    QCOMPARE(marks(1, 5), QList<int>{0});

    // Premarcar: the template's marked sections, bajar winning over subir;
    // a "No" changes nothing.
    db::exec(conn(), QStringLiteral("UPDATE configuraciones_valores SET id_estado = 0 WHERE id_configuracion = 1"));
    db::exec(conn(), QStringLiteral("UPDATE configuraciones_valores SET id_estado = 1 WHERE id_configuracion = 1 AND "
                                    "id_panel = 1 AND id_seccion IN (6, 7) AND id_item = 1"));
    db::exec(conn(), QStringLiteral("UPDATE configuraciones_valores SET id_estado = -1 WHERE id_configuracion = 1 AND "
                                    "id_panel = 1 AND id_seccion = 7 AND id_item = 2"));
    c.find<QTabWidget>(QStringLiteral("SSTab_panel"))->setCurrentIndex(1);
    c.key(QStringLiteral("cb_premarcar"));
    QCOMPARE(c.st.messages.asked.last(),
             QStringLiteral("¿Restaura marcas según configuración?.\r\n Esta acción no puede deshacerse."));
    QCOMPARE(marks(1, 4), QList<int>{1});
    c.st.messages.answers.enqueue(true);
    c.key(QStringLiteral("cb_premarcar"));
    QCOMPARE(marks(1, 4), QList<int>{0});
    QCOMPARE(marks(1, 6), QList<int>{1});
    QCOMPARE(marks(1, 7), QList<int>{-1});
    QCOMPARE(g->item(rowOf(g, 6), ui::ColEstado)->text(), QStringLiteral("1"));

    // Restaurar puts back the template's values.
    db::exec(conn(), QStringLiteral("UPDATE abonados_valores SET valor = 'FF' WHERE id_abonado = 1 AND id_seccion = 0"));
    c.st.messages.answers.enqueue(true);
    c.key(QStringLiteral("cb_restaurar"));
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND valor = 'FF' "
                                      "AND id_seccion = 0")),
             0);
    QCOMPARE(c.st.messages.shown.size(), 0);
}

void tst_panel::transferKeysOnlyWhenIdle()
{
    Console c;
    c.w->showSubscriber(1);
    c.key(QStringLiteral("cb_subir"));
    c.key(QStringLiteral("cb_subirch"));
    QVERIFY(!c.link.writePending()); // not connected
    c.connectModem();
    c.firstTurn();
    c.link.requestTransfer(PanelLink::Transfer::Read);
    c.key(QStringLiteral("cb_subirch"));
    QVERIFY(!c.link.writePending());
    QVERIFY(logged(5).isEmpty());
    LinkTestAccess::setReadPending(c.link, false);

    // One section to send: the keys are off from the click until the turn
    // after the acknowledgement, when the link finds nothing left to write
    // (no read-back here: the simulator answers those end to end).
    db::exec(conn(), QStringLiteral("UPDATE configuracion SET verificar_subidas = 0"));
    db::exec(conn(), QStringLiteral("UPDATE abonados_valores SET id_estado = 0 WHERE id_abonado = 1 AND id_seccion <> 3"));
    c.w->showSections();
    const auto keysOn = [&c] {
        return QList<bool>{c.w->cb_subirch->isEnabled(), c.w->cb_bajarsel->isEnabled(), c.w->cb_eventos->isEnabled()};
    };
    QCOMPARE(keysOn(), (QList<bool>{true, false, true}));
    c.key(QStringLiteral("cb_subirch"));
    QVERIFY(c.link.writePending());
    QCOMPARE(logged(5), QStringList{QStringLiteral("Abonado: 0001 - DEMOSTRACIÓN PANEL PX")});
    QCOMPARE(keysOn(), (QList<bool>{false, false, false}));
    while (c.link.writePending()) {
        const auto sent = c.turn();
        QVERIFY(!sent.isEmpty());
        if (sent.first().at(3) == 1) {
            c.com.receive(answerFrame({1}));
            QCOMPARE(keysOn(), (QList<bool>{false, false, false}));
        }
    }
    QCOMPARE(keysOn(), (QList<bool>{false, false, true}));
    c.key(QStringLiteral("cb_eventos"));
    QVERIFY(c.link.eventsPending());
    QCOMPARE(logged(7).size(), 1);
    QVERIFY(!c.w->cb_eventos->isEnabled());
    c.turn();
    c.com.receive(answerFrame({6, 0x33})); // no more records
    QVERIFY(!c.link.eventsPending());
    QVERIFY(c.w->cb_eventos->isEnabled());
    c.link.endSession();
}

void tst_panel::failedStoreShownOnceAfterTheAnswer()
{
    // A box opened from inside an answer would run a nested event loop in
    // which the line keeps delivering: here the same answer arrives again
    // while the first box is shown.
    Console c;
    RecordingMessages& messages = c.st.messages;
    c.w->showSubscriber(1);

    // The first two sections of the memory are read; the first cannot be
    // stored. Every stored value is counted.
    QSqlQuery q = db::exec(conn(), QStringLiteral("SELECT id_seccion FROM secciones WHERE id_panel = 1 ORDER BY posicion LIMIT 2"));
    QList<int> sections;
    while (q.next())
        sections << q.value(0).toInt();
    db::exec(conn(), QStringLiteral("UPDATE abonados_valores SET id_estado = CASE WHEN id_seccion IN (?, ?) THEN -1 ELSE 0 END "
                                    "WHERE id_abonado = 1"),
             {sections.at(0), sections.at(1)});
    db::exec(conn(), QStringLiteral("CREATE TABLE stored (id_seccion INTEGER, id_item INTEGER)"));
    addTrigger(conn(), "refuse", "BEFORE UPDATE", "abonados_valores", QStringLiteral("NEW.id_seccion = %1").arg(sections.at(0)));
    addTrigger(conn(), "counted", "AFTER UPDATE OF valor", "abonados_valores", {},
               "INSERT INTO stored VALUES (NEW.id_seccion, NEW.id_item)");
    c.connectModem();
    c.firstTurn();
    c.w->showSections();
    c.key(QStringLiteral("cb_bajarsel"));
    QVERIFY(c.link.readPending());

    QByteArray answer;
    messages.whileShown = [&] { c.com.receive(answer); };
    for (int runs = 0; c.link.readPending(); ++runs) {
        const auto sent = c.turn();
        QVERIFY(runs < 20 && !sent.isEmpty());
        if (sent.first().at(3) != 0)
            continue;
        QList<int> bytes{0};
        for (int k = 0; k < sent.first().at(6); ++k)
            bytes << 0x11;
        answer = answerFrame(bytes);
        c.com.receive(answer);
        QVERIFY(messages.shown.isEmpty());
        c.com.receive(answer); // the line keeps delivering
    }
    QTRY_COMPARE(messages.shown.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.lastTitle(), QStringLiteral("Error"));
    QVERIFY2(messages.lastText().startsWith("No se pudo guardar lo recibido del panel: la transferencia se detuvo y la "
                                            "comunicación termina.\nTransferencia detenida. Secciones guardadas: 0; "
                                            "siguen marcadas: 2.\n"),
             qPrintable(messages.lastText()));
    QVERIFY(messages.lastText().section('\n', -1).contains("refuse"));
    QCOMPARE(messages.shown.last().icon, MessageService::Icon::Critical);

    // The download stopped at the first answer it could not store: nothing
    // was stored twice, or after it, and both sections keep their marks for
    // another read; the call ends with its end frames.
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM stored")), 0);
    QCOMPARE(marks(1, sections.at(0)), QList<int>{-1});
    QCOMPARE(marks(1, sections.at(1)), QList<int>{-1});
    QVERIFY(!c.link.scheduler().ticksSuspended && !c.link.readPending());
    QCOMPARE(c.link.scheduler().pendingCommand, int(LinkCommands::CmdEnd));
    QVERIFY(std::all_of(c.link.transfer().transferMarks.cbegin(), c.link.transfer().transferMarks.cend(), [](qint16 m) { return m == 0; }));
    c.link.endSession();
}

void tst_panel::eventsListAndDelete()
{
    QCOMPARE(w_panel::defaultDeleteDate(QDate(2026, 3, 31)), QDate(2026, 2, 28));
    QCOMPARE(w_panel::defaultDeleteDate(QDate(2026, 1, 15)), QDate(2025, 12, 15));

    Console c;
    // Model 1 sends short records (no date), model 2 dated ones.
    auto add = [](int panel, const char* fecha, int evento) {
        db::exec(conn(), QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, "
                                        "fecha, id_tipo) VALUES (1, ?, ?, 3, ?, 0)"),
                 {panel, evento, QString::fromLatin1(fecha)});
    };
    add(2, "2026-01-10 10:00:00", 1);
    add(2, "2026-02-01 00:00:00", 2);
    add(2, "2026-02-20 08:00:00", 1);
    add(1, "2026-02-21 09:15:42", 127); // no text for this code
    auto* view = c.find<QTableView>(QStringLiteral("dg_eventos"));
    QAbstractItemModel* g = view->model();
    // The checker fetches pages itself: it watches the short list and the
    // deletes, then the paging of the long history after the count checks.
    QAbstractItemModelTester* checker = checkModel(g);
    c.w->showSubscriber(1);
    QCOMPARE(g->rowCount(), 4);
    QCOMPARE(g->index(0, 1).data().toString(), QStringLiteral("Evento 127 (sin descripción)"));
    QCOMPARE(g->index(0, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("Fecha de descarga: el panel no envía la fecha"));
    QCOMPARE(g->index(1, 0).data().toString(), QStringLiteral("20/02/2026 08:00"));
    QVERIFY(g->index(1, 0).data(Qt::ToolTipRole).toString().isEmpty());
    QVERIFY(g->index(0, 0).data(Qt::ForegroundRole) != g->index(1, 0).data(Qt::ForegroundRole));
    QCOMPARE(g->index(1, 1).data().toString(),
             db::scalar(conn(), QStringLiteral("SELECT descripcion FROM eventos WHERE id_panel = 2 AND id_tipo = 0 "
                                               "AND id_evento = 1")).toString());
    QCOMPARE(g->headerData(2, Qt::Horizontal).toString(), QStringLiteral("USU/ZONA"));

    // Deleting asks first with the count, No by default; "No" keeps them.
    c.find<QTabWidget>(QStringLiteral("SSTab_panel"))->setCurrentIndex(2);
    c.find<QDateEdit>(QStringLiteral("dp_borraeventos"))->setDate(QDate(2026, 2, 1));
    c.click(QStringLiteral("img_borraeventos"));
    QCOMPARE(c.st.messages.asked, QStringList{QStringLiteral("¿Borra 2 eventos anteriores al 01/02/2026?")});
    QCOMPARE(c.st.messages.defaults.value(0), MessageService::Default::No);
    QCOMPARE(g->rowCount(), 4);
    c.st.messages.answers.enqueue(true);
    c.click(QStringLiteral("img_borraeventos"));
    QCOMPARE(g->rowCount(), 2);
    QCOMPARE(scalarInt(QStringLiteral("SELECT count(*) FROM abonados_eventos")), 2);
    // Nothing left before the date: said, not asked.
    c.click(QStringLiteral("img_borraeventos"));
    QCOMPARE(c.st.messages.asked.size(), 2);
    QCOMPARE(c.st.messages.lastText(), QStringLiteral("No hay eventos anteriores al 01/02/2026."));

    // A long history is read a page at a time as the list scrolls, newest first throughout.
    db::exec(conn(), QStringLiteral("WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 449) "
                                    "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) "
                                    "SELECT 1, 1, 2, i, 0 FROM k"));
    delete checker;
    c.w->showEvents();
    QCOMPARE(g->rowCount(), 200);
    for (int i = 0; i < 10 && g->canFetchMore({}); ++i) {
        view->scrollToBottom();
        QCoreApplication::processEvents();
    }
    QCOMPARE(g->rowCount(), 451);
    QCOMPARE(g->index(0, 2).data().toString(), QStringLiteral("449"));
    QCOMPARE(g->index(200, 2).data().toString(), QStringLiteral("249"));
    QCOMPARE(g->index(450, 0).data().toString(), QStringLiteral("20/02/2026 08:00"));
    // Attached after the refresh: the checker's own fetch during a reset
    // would be taken for an insert inside the reset.
    c.w->showEvents();
    checkModel(g);
    while (g->canFetchMore({}))
        g->fetchMore({});
    QCOMPARE(g->rowCount(), 451);
    QCOMPARE(g->index(0, 2).data().toString(), QStringLiteral("449"));
}

QTEST_MAIN(tst_panel)
#include "tst_panel.moc"
