// Whole operator sessions on the console against the simulator, driven
// through the console's controls: over the modem on a real pseudo-terminal,
// and over loopback UDP with the panel calling back by IP. Ticks are driven
// by hand; only the device traffic takes real time.

#include "common/linkfakes.h"
#include "common/panelimage.h"
#include "common/testsupport.h"

#include "session/mdl_main.h"
#include "ui/ui_pictures.h"
#include "communicator.h"
#include "console/w_comparar.h"
#include "data/permissions.h"
#include "console/w_panel.h"
#include "data/db.h"
#include "data/lock_store.h"
#include "link/datagramsocket_qt.h"
#include "link/panel_link.h"
#include "link/serialport_qt.h"
#include "modem.h"
#include "panel.h"
#include "records/editor_context.h"
#include "records/w_buscar.h"
#include "records/w_seccion.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QToolBar>
#include <QtTest>

using namespace panelsim;
using namespace panelimage;

namespace {

// The station with its real device adapters, the console window and the
// simulated panel reachable by modem and by its IP communicator.
struct Desk {
    TestStation st{true, true};
    FakeClock clock;
    QtSerialPortAdapter com{st.dir()};
    QtUdpSocketAdapter ip;
    PanelLink& link = st.trans;
    Panel panel;
    Modem modem{&panel};
    Communicator comm{&panel};
    QSqlDatabase c = st.main.db();

    Desk()
    {
        st.main.portOpened();
        st.main.logIn(1, 1);
        const quint16 ipPort = freeUdpPort();
        db::exec(c, QStringLiteral("UPDATE configuracion SET ip_port = ?"), {ipPort});
        com.setCommPort(1);
        com.setSettings(QStringLiteral("110,N,8,2"));
        ip.setBindAddress(QHostAddress(QHostAddress::LocalHost));
        link.setDevices(&com, &ip);
        link.setClock(clock.fn());
        link.reset();
        panel.hostClock = clock.fn();
        panel.setClock(QDateTime(QDate(2024, 8, 15), QTime(20, 25)));
        modem.options.dialDelayMs = 0;
        modem.options.callBackDelayMs = 0;
        comm.options.stationPort = ipPort;
        comm.options.callBackDelayMs = 0;
    }
    ~Desk()
    {
        link.setDevices(nullptr, nullptr);
        link.reset();
    }
    bool start() { return modem.open() && modem.linkAs(st.dir(), 1) && comm.open(); }

    bool turn(bool answered = true) { return linkTurn(link, answered); }
    bool runWhile(bool (PanelLink::*pending)() const) { return linkTurnsWhile(link, pending); }
};

void click(w_panel& w, const char* name)
{
    QWidget* c = w.findChild<QWidget*>(QLatin1String(name));
    QVERIFY2(c, name);
    QTest::mouseClick(c, Qt::LeftButton);
}

// A toolbar key as the operator presses it (a disabled button does nothing).
void press(w_panel& w, QAction* a)
{
    QTest::mouseClick(w.tb_panel->widgetForAction(a), Qt::LeftButton);
}

// Picks the subscriber by its code through the search list.
void pick(w_panel& w, const QString& code)
{
    press(w, w.cb_buscar);
    auto* list = qobject_cast<w_buscar*>(QApplication::activeModalWidget());
    QVERIFY(list && list->mode() == SearchMode::panel_abonado);
    QTest::keyClicks(list->tx_buscar, code);
    QTest::keyClick(list->tx_buscar, Qt::Key_Return);
    QTest::mouseClick(list->tb_buscar->widgetForAction(list->cb_aceptar), Qt::LeftButton);
}

int subscriberOf(const QString& code)
{
    return db::scalar(stationDb(), QStringLiteral("SELECT id_abonado FROM abonados WHERE codigo = ?"),
                      {code})
        .toInt();
}

QString loggedRows(const QString& columns, const QString& where);

// The job once the link is up: status and clock, upload of the whole
// programming, a download after the panel was changed on site, the event
// memory, then commands and the hang-up.
void job(Desk& d, w_panel& w, int subscriber)
{
    d.panel.state.zonesOpen = 1 << 2;
    QVERIFY(d.turn());
    QVERIFY(d.turn());
    QCOMPARE(w.st_hora->text(), QStringLiteral("15/08/2024 20:25"));
    // Zone 3 is open: its lamp differs from the closed ones.
    const auto lamp = [&w](int i) { return w.img_zona[size_t(i)]->pixmap().toImage(); };
    QVERIFY(lamp(2) != lamp(0));
    QCOMPARE(lamp(1), lamp(0));
    QVERIFY(!w.close()); // connected

    const QList<Row> rows = panelimage::rows(d.c, subscriber);
    press(w, w.cb_subir);
    press(w, w.cb_subirch);
    QVERIFY(d.link.writePending());
    QVERIFY(d.runWhile(&PanelLink::writePending));
    QCOMPARE(d.panel.state.programMemory, expectedImage(rows));
    QCOMPARE(markedRows(d.c, subscriber), 0);
    // The bar has emptied itself; the status line says the upload is over.
    const int sections = db::scalar(d.c,
                                    QStringLiteral("SELECT count(DISTINCT id_seccion) FROM abonados_valores "
                                                   "WHERE id_abonado = ?"),
                                    {subscriber})
                             .toInt();
    QCOMPARE(w.st_enlace->text(), QStringLiteral("Verificado: %1 secciones").arg(sections));

    QRandomGenerator rnd{quint32(subscriber)};
    QByteArray onSite(MemorySize, '\0');
    for (int a = 0; a < MemorySize; ++a)
        onSite[a] = char(rnd.bounded(256));
    // The access code was changed on site too.
    const int code = Panel::accessCodeAddress(subscriber);
    onSite[code] = char(0x43);
    onSite[code + 1] = char(0x21);
    d.panel.state.programMemory = onSite;
    press(w, w.cb_bajar);
    press(w, w.cb_bajarsel);
    QVERIFY(d.link.readPending());
    QVERIFY(d.runWhile(&PanelLink::readPending));
    QCOMPARE(storedValues(panelimage::rows(d.c, subscriber)), expectedValues(rows, onSite));
    QCOMPARE(markedRows(d.c, subscriber), 0);
    const QString codeChanged = QStringLiteral("El código de acceso del panel cambió; se guardó el del panel");
    QCOMPARE(w.st_enlace->text(), QStringLiteral("Bajada terminada: %1 secciones. %2").arg(sections).arg(codeChanged));
    QCOMPARE(w.m_subscriber.accessCode, QStringLiteral("4321"));
    QCOMPARE(loggedRows(QStringLiteral("parametro"), QStringLiteral("WHERE id_operacion = 23")),
             QStringLiteral("Abonado: %1 - %2. %3").arg(w.st_abonado[0]->text(), w.st_abonado[1]->text(), codeChanged));
    // Changed again, for an operator who may not see codes: stored all the
    // same (the panel's code is the truth), and said without a word of it.
    onSite[code] = char(0x56);
    d.panel.state.programMemory = onSite;
    d.st.main.logIn(1, 1, permissions::levelRights(1) & ~permissions::bit(permissions::Right::VerCodigos));
    press(w, w.cb_bajar);
    press(w, w.cb_bajarsel);
    QVERIFY(d.runWhile(&PanelLink::readPending));
    QCOMPARE(w.st_enlace->text(), QStringLiteral("Bajada terminada: %1 secciones. El panel tiene otro código de acceso; se guardó").arg(sections));
    QCOMPARE(w.m_subscriber.accessCode, QStringLiteral("5621"));
    d.st.main.logIn(1, 1);

    // Event bytes: bit 7 is the kind (zone / user), the rest the event number.
    d.panel.state.eventLog = {{0x01, 3, QDateTime(QDate(2024, 8, 14), QTime(9, 30))},
                              {0x85, 7, QDateTime(QDate(2024, 8, 15), QTime(20, 0))}};
    press(w, w.cb_eventos);
    QVERIFY(d.link.eventsPending());
    QVERIFY(d.runWhile(&PanelLink::eventsPending));
    const QAbstractItemModel* events = w.dg_eventos->model();
    QCOMPARE(events->rowCount(), 2);
    QCOMPARE(w.st_enlace->text(), QStringLiteral("Descarga de eventos terminada: 2 eventos"));
    QCOMPARE(events->index(0, 1).data().toString(), QStringLiteral("Tamper de teclado")); // newest first
    QCOMPARE(events->index(1, 1).data().toString(),
             db::scalar(d.c, QStringLiteral("SELECT descripcion FROM eventos WHERE id_panel = ? AND id_tipo = 0 AND "
                                            "id_evento = 1"),
                        {subscriber})
                 .toString());

    w.Combo_armado->setCurrentIndex(2);
    click(w, "st_arm_t"); // the caption acts like its image
    QVERIFY(d.turn());
    QVERIFY(d.panel.state.armed);
    QCOMPARE(d.panel.state.armMode, 2);
    click(w, "img_cbexclusion_4");
    QVERIFY(d.turn());
    QVERIFY(d.panel.state.bypassed & (1 << 4));
    click(w, "img_cbpgm_1");
    QVERIFY(d.turn());
    QCOMPARE(d.panel.state.pgm & 2, 2);
    QVERIFY(d.turn());
    click(w, "img_cbparticion_2");
    QVERIFY(d.turn());
    QCOMPARE(d.panel.state.partition, 2);

    // Nothing the session did left the panel's programming changed.
    QCOMPARE(d.panel.state.programMemory, onSite);
    QCOMPARE(d.panel.ignored, 0);
}

// The log rows `columns` picks, in the order they were written (the log has
// no key: the engines' own row order), joined by commas.
QString loggedRows(const QString& columns, const QString& where = QString())
{
    QSqlQuery q = db::exec(stationDb(),
                           QStringLiteral("SELECT %1 FROM usuarios_operaciones %2 ORDER BY %3")
                               .arg(columns, where, testOnServer() ? QStringLiteral("ctid") : QStringLiteral("rowid")));
    QStringList rows;
    while (q.next())
        rows << q.value(0).toString();
    return rows.join(QLatin1Char(','));
}

// The operations the session logged, in order.
QString loggedOperations()
{
    return loggedRows(QStringLiteral("id_operacion"), QStringLiteral("WHERE id_operacion IN (3, 4, 5, 6, 7, 8, 10, 15, 18)"));
}

} // namespace

class tst_panel_e2e : public QObject {
    Q_OBJECT
private slots:
    void modemSession();
    void ipCallBackSession();
    void wrongAccessCodeIsNoSession();
    void compareTakeMarkAndSendChanges();
    void subscriberHeldByAnotherStation();
    void sectionEditorRefusesHeldSubscriber();
    void downloadThenCallAgain();
};

// Two stations on one server: while the other holds the subscriber this
// console shows who, and neither dials nor marks; when that station dies its
// hold ends, this console connects and holds it until the hang-up.
void tst_panel_e2e::subscriberHeldByAnotherStation()
{
    if (!testOnServer())
        QSKIP("one station works on a file");
    Desk d;
    QVERIFY(d.start());
    const int subscriber = subscriberOf(QStringLiteral("0001"));
    QSqlDatabase other = db::openAnother(QStringLiteral("otra-estacion"), d.c);
    QVERIFY(locks::acquire(other, subscriber, QStringLiteral("ANA"), QStringLiteral("TALLER")));
    {
        w_panel w(d.st.ctx, d.st.trans);
        w.show();
        QVERIFY(waitFor([&] { return d.modem.commands.contains(QStringLiteral("ATZ")); }));
        pick(w, QStringLiteral("0001"));
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY(w.st_bloqueo->isVisible());
        QVERIFY(w.st_bloqueo->text().startsWith(QStringLiteral("En uso por ANA en TALLER desde ")));

        const auto marked = [&] {
            return db::scalar(d.c, QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = ? AND id_estado = 1"),
                              {subscriber}).toInt();
        };
        const int before = marked();
        press(w, w.cb_subir);
        QCOMPARE(marked(), before);
        click(w, "img_connect");
        QVERIFY(!d.link.dialling() && !d.link.connected());
        QVERIFY(d.modem.dialled.isEmpty());
        QCOMPARE(d.st.messages.lastText(), w.st_bloqueo->text());
        QTest::mouseClick(w.Command1, Qt::LeftButton); // nor waits for its call
        QVERIFY(!d.link.waitingForCall());

        // The other station dies without letting go: the line goes by itself.
        QVERIFY(w.tm_bloqueo->isActive());
        w.tm_bloqueo->setInterval(0);
        db::exec(d.c, QStringLiteral("SELECT pg_terminate_backend(?)"), {db::scalar(other, QStringLiteral("SELECT pg_backend_pid()"))});
        QVERIFY(waitFor([&] { return !w.st_bloqueo->isVisible(); }));
        QVERIFY(!w.tm_bloqueo->isActive());
        click(w, "img_connect");
        QVERIFY(waitFor([&] { return d.link.connected(); }));
        QVERIFY(!w.st_bloqueo->isVisible());
        QSqlDatabase third = db::openAnother(QStringLiteral("tercera-estacion"), d.c);
        QVERIFY(locks::heldByOther(third, subscriber));
        QVERIFY(!locks::acquire(third, subscriber, QStringLiteral("LUIS"), QStringLiteral("OFICINA")));

        // The station's server session is lost under the call (the hold goes
        // with it): once reconnected the console holds the subscriber again.
        d.st.main.watchServer();
        const auto loseSession = [&] {
            db::exec(third, QStringLiteral("SELECT pg_terminate_backend(?)"), {db::scalar(d.c, QStringLiteral("SELECT pg_backend_pid()"))});
            QVERIFY(waitFor([&] { return !locks::heldByOther(third, subscriber); }));
            QVERIFY_THROWS_EXCEPTION(db::Error, db::scalar(d.c, QStringLiteral("SELECT 1")));
            QVERIFY(d.st.main.serverLost());
        };
        loseSession();
        QTRY_VERIFY_WITH_TIMEOUT((d.st.main.retryServer(), !d.st.main.serverLost()), 20000);
        QVERIFY(locks::heldByOther(third, subscriber));
        QVERIFY(d.link.connected());

        // Lost again, and another station takes the subscriber meanwhile:
        // the console says so and ends the call with its end frames.
        loseSession();
        QVERIFY(locks::acquire(third, subscriber, QStringLiteral("LUIS"), QStringLiteral("OFICINA")));
        QTRY_VERIFY_WITH_TIMEOUT((d.st.main.retryServer(), !d.st.main.serverLost()), 20000);
        QVERIFY2(d.st.messages.lastText().startsWith("Mientras no había conexión con el servidor otra estación tomó el "
                                                     "abonado (En uso por LUIS en OFICINA desde "),
                 qPrintable(d.st.messages.lastText()));
        QVERIFY(d.turn(false));
        QVERIFY(!d.link.connected());
        QVERIFY(locks::heldByOther(d.c, subscriber));
        locks::release(third, subscriber);
        QVERIFY(!locks::heldByOther(d.c, subscriber));
        // Waiting for the panel's call holds it too, moves with the subscriber
        // on show, and ends with the wait.
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QVERIFY(d.link.waitingForCall());
        QVERIFY(locks::heldByOther(third, subscriber));
        pick(w, QStringLiteral("0002"));
        QVERIFY(!locks::heldByOther(third, subscriber));
        QVERIFY(locks::heldByOther(third, subscriberOf(QStringLiteral("0002"))));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QVERIFY(!d.link.waitingForCall());
        QVERIFY(!locks::heldByOther(third, subscriberOf(QStringLiteral("0002"))));
        third = QSqlDatabase();
        db::close(QStringLiteral("tercera-estacion"));
        QVERIFY(waitFor([&] { return d.modem.line() == Modem::Line::Command; }));
        QVERIFY(w.close());
    }
    other = QSqlDatabase();
    db::close(QStringLiteral("otra-estacion"));
}

// Values of a subscriber another station holds are not saved from the
// section editor; once that station lets go the same save goes through.
void tst_panel_e2e::sectionEditorRefusesHeldSubscriber()
{
    if (!testOnServer())
        QSKIP("one station works on a file");
    TestStation st(true, true);
    QSqlDatabase other = db::openAnother(QStringLiteral("otra-estacion"), stationDb());
    QVERIFY(locks::acquire(other, 1, QStringLiteral("ANA"), QStringLiteral("TALLER")));
    const auto stored = [] {
        return db::scalar(stationDb(), QStringLiteral("SELECT valor FROM abonados_valores WHERE id_abonado = 1 "
                                                      "AND id_seccion = 20 AND id_item = 1")).toString();
    };
    const QString before = stored();
    st.editor = EditorContext::forSubscriber(1, 1, 20, 1, 1);
    {
        w_seccion w(st.ctx);
        w.show();
        QLineEdit* value = w.findChild<QLineEdit*>(QStringLiteral("sle_valor_1"));
        QVERIFY(value && value->text() != QStringLiteral("099"));
        value->setText(QStringLiteral("099"));
        w.cb_aceptar->trigger();
        QVERIFY(w.isVisible());
        QVERIFY2(st.messages.lastText().startsWith(QStringLiteral("No se guardaron los valores.\nEn uso por ANA en TALLER desde ")),
                 qPrintable(st.messages.lastText()));
        QCOMPARE(stored(), before);

        locks::release(other, 1);
        w.cb_aceptar->trigger();
        QVERIFY(!w.isVisible());
    }
    QCOMPARE(stored(), QStringLiteral("099"));
    other = QSqlDatabase();
    db::close(QStringLiteral("otra-estacion"));
}

void tst_panel_e2e::modemSession()
{
    Desk d;
    QVERIFY(d.start());
    {
        w_panel w(d.st.ctx, d.st.trans);
        w.show();
        QVERIFY(waitFor([&] { return d.modem.commands.contains(QStringLiteral("ATZ")); }));
        pick(w, QStringLiteral("0001"));
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(w.sle_telefono->text(), QStringLiteral("5550001"));

        click(w, "img_connect");
        QVERIFY(waitFor([&] { return d.link.connected(); }));
        QCOMPARE(d.modem.dialled, QStringList{QStringLiteral("5550001")});
        job(d, w, subscriberOf("0001"));
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(d.panel.received.last().via, Via::Modem);

        click(w, "st_end_t");
        QVERIFY(d.turn(false));
        QVERIFY(!d.link.connected());
        QVERIFY(waitFor([&] { return d.modem.line() == Modem::Line::Command; }));
        QVERIFY(w.close());
    }
    QCOMPARE(loggedOperations(), QStringLiteral("3,5,18,6,6,7,8,10,15,4"));
}

// The walkthrough's order: a fresh database, the simulator as it starts,
// everything downloaded, hung up and called again at once. The code stored
// is the one the panel answers to, and the modem's words of the last
// hang-up are not the new call's result.
void tst_panel_e2e::downloadThenCallAgain()
{
    Desk d;
    QVERIFY(d.start());
    w_panel w(d.st.ctx, d.st.trans);
    w.show();
    pick(w, QStringLiteral("0001"));
    QVERIFY(!QTest::currentTestFailed());
    click(w, "img_connect");
    QVERIFY(waitFor([&] { return d.link.connected(); }));
    QVERIFY(d.turn());
    press(w, w.cb_bajar);
    press(w, w.cb_bajarsel);
    QVERIFY(d.runWhile(&PanelLink::readPending));
    QVERIFY(w.st_enlace->text().startsWith(QStringLiteral("Bajada terminada: ")));
    QCOMPARE(w.m_subscriber.accessCode, QStringLiteral("1234"));
    click(w, "img_end");
    QVERIFY(d.turn(false));
    QVERIFY(waitFor([&] { return d.modem.line() == Modem::Line::Command; }));
    click(w, "img_connect");
    QVERIFY2(waitFor([&] { return d.link.connected(); }), qPrintable(w.st_enlace->text()));
    QVERIFY(d.turn());
    QCOMPARE(d.panel.ignored, 0);
    click(w, "img_end");
    QVERIFY(d.turn(false));
    QVERIFY(w.close());
}

void tst_panel_e2e::ipCallBackSession()
{
    Desk d;
    QVERIFY(d.panel.fromJson({{"panelCode", 2}})); // the NX-16 model of subscriber 0002
    QVERIFY(d.start());
    {
        w_panel w(d.st.ctx, d.st.trans);
        w.show();
        pick(w, QStringLiteral("0002"));
        QVERIFY(!QTest::currentTestFailed());
        // Waiting over IP, then "Llamar": the panel is to call back by IP.
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QVERIFY(d.link.waitingForCall() && d.link.ipMode());
        click(w, "st_connect_t");
        QVERIFY(d.link.connection().ipCallBack);
        QVERIFY(waitFor([&] { return d.link.connected(); }));
        QCOMPARE(d.modem.dialled, QStringList{QStringLiteral("5550002")});
        QVERIFY(d.turn(false)); // the end request that asks for the call-back
        QVERIFY(waitFor([&] { return d.link.connected() && d.link.ipMode(); }));
        QCOMPARE(d.comm.calls, 1);

        job(d, w, subscriberOf("0002"));
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(d.panel.received.last().via, Via::Ip);

        const int ends = d.panel.requestsOf(5);
        click(w, "img_end");
        QVERIFY(d.turn(false));
        QVERIFY(waitFor([&] { return d.panel.requestsOf(5) > ends; }));
        QVERIFY(!d.link.connected());
        QCOMPARE(d.comm.calls, 1); // no call-back asked this time
        QVERIFY(w.close());
    }
    QCOMPARE(loggedOperations(), QStringLiteral("3,5,18,6,6,7,8,10,15,4"));
}

void tst_panel_e2e::wrongAccessCodeIsNoSession()
{
    Desk d;
    d.panel.state.accessCode = QStringLiteral("9999"); // the station has 1234
    QVERIFY(d.start());
    {
        w_panel w(d.st.ctx, d.st.trans);
        w.show();
        pick(w, QStringLiteral("0001"));
        QVERIFY(!QTest::currentTestFailed());
        click(w, "img_connect");
        QCOMPARE(w.st_enlace->text(), QStringLiteral("Marcando 5550001…"));
        QVERIFY(waitFor([&] { return w.st_enlace->text() == QStringLiteral("Conectado por módem (2400 bps)"); }));
        const auto picture = [&w](const char* name) { return w.findChild<QLabel*>(name)->pixmap().toImage(); };
        const QImage yellow = ui::picture(QStringLiteral("amarillo"), 14).toImage();
        const QImage grey = ui::picture(QStringLiteral("gris"), 14).toImage();
        // The panel ignores every request: the link never turns green, no
        // partition lights, and after ten unanswered turns the call ends.
        for (int turn = 1; turn <= 11; ++turn) {
            QVERIFY(d.turn(false));
            QVERIFY(waitFor([&] { return d.panel.ignored >= turn; }));
            if (turn == 11)
                break;
            QCOMPARE(picture("img_connect"), yellow);
            QCOMPARE(picture("img_particion_0"), grey);
            if (turn > 1)
                QCOMPARE(w.st_enlace->text(),
                         QStringLiteral("El panel no responde: verifique el código de acceso y el modelo"));
        }
        QVERIFY(!d.link.connected());
        QCOMPARE(w.st_enlace->text(), QStringLiteral("Colgado: el panel no respondió a 10 pedidos"));
        QCOMPARE(d.panel.received.size(), 0);
        QVERIFY(w.close());
    }
    // Logged as a failed connection, after the call itself.
    QCOMPARE(loggedRows(QStringLiteral("id_operacion || ':' || parametro")),
             QStringLiteral("3:Abonado: 0001 - DEMOSTRACIÓN PANEL PX,17:Abonado: 0001 - DEMOSTRACIÓN PANEL PX"));
    QCOMPARE(db::scalar(d.c, QStringLiteral("SELECT descripcion FROM operaciones WHERE id_operacion = 17")).toString(),
             QStringLiteral("CONEXIÓN FALLIDA: EL PANEL NO RESPONDIÓ"));
}

// The panel changed on site between two connections: "Comparar" finds
// exactly those sections, the window takes one and marks the other; then a
// value changed in the station goes out alone with "Subir cambios", which
// refuses to work without verified uploads.
void tst_panel_e2e::compareTakeMarkAndSendChanges()
{
    Desk d;
    QVERIFY(d.start());
    w_panel w(d.st.ctx, d.st.trans);
    w.show();
    pick(w, QStringLiteral("0001"));
    QVERIFY(!QTest::currentTestFailed());
    const int subscriber = subscriberOf("0001");
    const auto connectNow = [&] {
        click(w, "img_connect");
        return waitFor([&] { return d.link.connected(); }) && d.turn();
    };
    QVERIFY(connectNow());
    // Nothing proven about this panel yet: asked, and answered No.
    QVERIFY(w.cb_subircambios->isEnabled());
    press(w, w.cb_subircambios);
    QCOMPARE(d.st.messages.asked.size(), 1);
    QVERIFY(!d.link.writePending());

    press(w, w.cb_subir);
    press(w, w.cb_subirch);
    QVERIFY(d.runWhile(&PanelLink::writePending));
    const QList<Row> rows = panelimage::rows(d.c, subscriber);
    const QByteArray image = expectedImage(rows);
    // Two bytes of two sections (type 2: one item per address) change on site.
    QList<Row> changed;
    for (const Row& r : rows)
        if (r.tipo == 2 && (changed.isEmpty() || changed.last().section != r.section) && changed.size() < 3)
            changed << r;
    QCOMPARE(changed.size(), 3);
    const auto address = [](const Row& r) { return r.pos + r.item - 1; };
    for (int i : {0, 1})
        d.panel.state.nextSessionChanges << qMakePair(address(changed[i]), 0xFF & ~image.at(address(changed[i])));
    QVERIFY(d.modem.dropLine());
    QVERIFY(waitFor([&] { return !d.link.connected(); }));
    QVERIFY(connectNow());

    press(w, w.cb_comparar);
    QVERIFY(d.link.readPending());
    QVERIFY(d.runWhile(&PanelLink::readPending));
    auto* cmp = w.findChild<w_comparar*>();
    QVERIFY(cmp);
    QList<int> differing;
    for (const ComparisonRow& r : cmp->rows())
        if (r.distinto)
            differing << r.seccion;
    QCOMPARE(differing, (QList<int>{changed[0].section, changed[1].section}));
    cmp->chk_diferencias->setChecked(true);
    QCOMPARE(cmp->fg_comparacion->rowCount(), 2);
    QCOMPARE(markedRows(d.c, subscriber), 0); // reading changed nothing

    cmp->selectSections({changed[1].section});
    cmp->cb_marcar->trigger();
    QList<int> marked;
    for (QSqlQuery q = db::exec(d.c, QStringLiteral("SELECT DISTINCT id_seccion FROM abonados_valores "
                                                    "WHERE id_abonado = ? AND id_estado = 1"),
                                {subscriber});
         q.next();)
        marked << q.value(0).toInt();
    QCOMPARE(marked, QList<int>{changed[1].section});
    // Those two sections hold what a download would store; no other changed.
    cmp->selectSections(differing);
    cmp->cb_tomar->trigger();
    const Values after = storedValues(panelimage::rows(d.c, subscriber)), before = storedValues(rows),
                 fromPanel = expectedValues(rows, d.panel.state.programMemory);
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        QCOMPARE(it.value(), (differing.contains(it.key().first) ? fromPanel : before).value(it.key()));
    QCOMPARE(markedRows(d.c, subscriber), 0);

    // One value changed in the station: one write run and one read run.
    const Row& edited = changed[2];
    db::exec(d.c, QStringLiteral("UPDATE abonados_valores SET valor = ? WHERE id_abonado = ? AND id_seccion = ? "
                                 "AND id_item = ?"),
             {QStringLiteral("5A"), subscriber, edited.section, edited.item});
    const int writes = d.panel.requestsOf(1), reads = d.panel.requestsOf(0);
    press(w, w.cb_subircambios);
    QVERIFY(d.link.writePending());
    QVERIFY(d.runWhile(&PanelLink::writePending));
    QCOMPARE(d.panel.requestsOf(1) - writes, 1);
    QCOMPARE(d.panel.requestsOf(0) - reads, 1);
    QCOMPARE(d.panel.state.programMemory.at(address(edited)), char(0x5A));
    QCOMPARE(w.st_enlace->text(), QStringLiteral("Verificado: 1 sección"));
    QCOMPARE(markedRows(d.c, subscriber), 0);

    // Without verified uploads the known image would never be renewed:
    // the key says so and sends nothing, even with a value changed.
    db::exec(d.c, QStringLiteral("UPDATE configuracion SET verificar_subidas = 0"));
    db::exec(d.c, QStringLiteral("UPDATE abonados_valores SET valor = ? WHERE id_abonado = ? AND id_seccion = ? "
                                 "AND id_item = ?"),
             {QStringLiteral("A5"), subscriber, edited.section, edited.item});
    const int requests = d.panel.received.size();
    press(w, w.cb_subircambios);
    QCOMPARE(d.st.messages.lastText(), QStringLiteral("Subir cambios necesita la verificación de las subidas (Parámetros)"));
    QVERIFY(!d.link.writePending());
    QVERIFY(d.turn());
    QCOMPARE(d.panel.received.size(), requests + 1);
    QCOMPARE(d.panel.received.last().code, 2); // a status poll, no write
    QCOMPARE(d.panel.state.programMemory.at(address(edited)), char(0x5A));
    click(w, "st_end_t");
    QVERIFY(d.turn(false));
}

QTEST_MAIN(tst_panel_e2e)
#include "tst_panel_e2e.moc"
