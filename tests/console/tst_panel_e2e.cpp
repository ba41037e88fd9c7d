// An operator session on the console against the simulator's modem and
// panel over a real pseudo-terminal, driven through the console's controls.
// Ticks are driven by hand; only the device traffic takes real time.

#include "common/linkfakes.h"
#include "common/testsupport.h"

#include "app/mdl_main.h"
#include "console/w_panel.h"
#include "data/db.h"
#include "link/datagramsocket_qt.h"
#include "link/mdl_trans.h"
#include "link/serialport_qt.h"
#include "modem.h"
#include "panel.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

using namespace panelsim;

class tst_panel_e2e : public QObject {
    Q_OBJECT
private slots:
    void modemSession();
};

void tst_panel_e2e::modemSession()
{
    Station st(true, true);
    mdl_main::instance().portOpen = true;
    mdl_main::instance().currentUser = 1;
    mdl_main::instance().currentLevel = 1;
    FakeClock clock;
    QtSerialPortAdapter com{st.dir()};
    com.setCommPort(1);
    com.setSettings(QStringLiteral("110,N,8,2"));
    QtUdpSocketAdapter ip;
    mdl_trans& link = mdl_trans::instance();
    link.setDevices(&com, &ip);
    link.setClock(clock.fn());
    link.reset();
    Panel panel;
    panel.hostClock = clock.fn();
    Modem modem{&panel};
    modem.options.dialDelayMs = 0;
    QVERIFY(modem.open() && modem.linkAs(st.dir(), 1));
    panel.setClock(QDateTime(QDate(2024, 8, 15), QTime(20, 25)));

    auto turn = [&link](bool answered = true) {
        const int before = link.framesSent;
        for (int i = 0; i < 2000 && link.framesSent == before; ++i)
            link.tick();
        return link.framesSent != before && (!answered || waitFor([&link] { return link.awaitingAnswer == 0; }));
    };
    {
        w_panel w;
        w.show();
        auto click = [&w](const char* name) {
            QTest::mouseClick(w.findChild<QWidget*>(QLatin1String(name)), Qt::LeftButton);
        };
        QVERIFY(waitFor([&] { return modem.commands.contains(QStringLiteral("ATZ")); }));
        // The pick of the search list.
        w.wf_muestraabonado(1);

        click("img_connect");
        QVERIFY(waitFor([&] { return link.connected; }));
        QCOMPARE(modem.dialled, QStringList{QStringLiteral("5550001")});
        QVERIFY(turn());
        QVERIFY(turn());
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("st_hora"))->text(), QStringLiteral("15/08/2024 20:25"));
        QVERIFY(!w.close()); // connected

        w.findChild<QComboBox*>(QStringLiteral("Combo_armado"))->setCurrentIndex(2);
        click("img_arm");
        QVERIFY(turn());
        QVERIFY(panel.state.armed);
        QCOMPARE(panel.state.armMode, 2);

        click("img_cbexclusion_4");
        QVERIFY(turn());
        QVERIFY(panel.state.bypassed & (1 << 4));
        click("img_cbpgm_1");
        QVERIFY(turn());
        QCOMPARE(panel.state.pgm & 2, 2);
        QVERIFY(turn());
        click("img_cbparticion_2");
        QVERIFY(turn());
        QCOMPARE(panel.state.partition, 2);

        // Upload of one marked section: its marks clear as the panel acknowledges.
        db::exec(mdl_main::instance().db(), QStringLiteral("UPDATE abonados_valores SET id_estado = 0 WHERE id_abonado = 1"));
        db::exec(mdl_main::instance().db(),
                 QStringLiteral("UPDATE abonados_valores SET id_estado = 1 WHERE id_abonado = 1 AND id_seccion = 20"));
        w.wf_muestrasecciones();
        w.findChild<QAction*>(QStringLiteral("cb_subirch"))->trigger();
        QVERIFY(link.writePending);
        for (int i = 0; i < 20 && link.writePending; ++i)
            QVERIFY(turn());
        QVERIFY(!link.writePending);
        QCOMPARE(db::scalar(mdl_main::instance().db(),
                            QStringLiteral("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND id_estado <> 0"))
                     .toInt(),
                 0);

        click("st_end_t");
        QVERIFY(turn(false));
        QVERIFY(!link.connected);
        QVERIFY(waitFor([&] { return modem.line() == Modem::Line::Command; }));
        QCOMPARE(panel.ignored, 0);
        QVERIFY(w.close());
    }
    QCOMPARE(db::scalar(mdl_main::instance().db(),
                        QStringLiteral("SELECT group_concat(id_operacion) FROM (SELECT id_operacion FROM "
                                       "usuarios_operaciones WHERE id_operacion IN (3, 4, 5, 8, 10, 15) ORDER BY rowid)"))
                 .toString(),
             QStringLiteral("3,8,10,15,5,4"));
    link.setDevices(nullptr, nullptr);
    link.reset();
}

QTEST_MAIN(tst_panel_e2e)
#include "tst_panel_e2e.moc"
