// The main window hands its devices to the station's link: the timer drives
// the scheduler, serial events and datagrams reach the link (or the keypad),
// and openIpSocket/closeIpSocket bind the socket on ip_port.

#include "common/testsupport.h"
#include "link_test_access.h"

#include "session/mdl_main.h"
#include "app/w_main.h"
#include "data/db.h"
#include "link/datagramsocket_qt.h"
#include "link/panel_link.h"
#include "link/serialport.h"

#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

class tst_mainwiring : public QObject {
    Q_OBJECT
private slots:
    void devicesReachTheLink();
};

void tst_mainwiring::devicesReachTheLink()
{
    TestStation st;
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
    const quint16 port = probe.localPort();
    probe.close();
    db::exec(st.main.db(), QStringLiteral("UPDATE configuracion SET ip_port = ?"), {port});

    PanelLink& link = st.trans;
    {
        w_main w(st.ctx, st.trans);
        QCOMPARE(link.comPort(), w.com_main);
        QCOMPARE(link.ipSocket(), w.IP_server);
        QCOMPARE(w.IP_server->objectName(), QStringLiteral("IP_server"));
        QVERIFY(w.tmr_main->isActive());
        QCOMPARE(w.tmr_main->interval(), 100);
        w.tmr_main->stop();

        LinkTestAccess::setWaitCountdown(link, 5);
        QMetaObject::invokeMethod(w.tmr_main, "timeout");
        QCOMPARE(link.scheduler().waitCountdown, 4);

        LinkTestAccess::setPhase(link, PanelLink::LinkPhase::Connected); // the lamps show a call's traffic only
        emit w.com_main->commEvent(SerialPort::EvSend);
        QCOMPARE(link.view().st_tx, LinkColour::Green);
        LinkTestAccess::setPhase(link, PanelLink::LinkPhase::Idle);
        QList<int> keypad;
        link.setKeypad([&keypad](int e) { keypad << e; });
        emit w.com_main->commEvent(SerialPort::EvReceive);
        QCOMPARE(keypad, QList<int>{SerialPort::EvReceive});
        QCOMPARE(link.view().st_rx, LinkColour::ButtonFace);
        link.clearKeypad();

        static_cast<QtUdpSocketAdapter*>(w.IP_server)->setBindAddress(QHostAddress(QHostAddress::LocalHost));
        QVERIFY(w.openIpSocket());
        QCOMPARE(w.IP_server->localPort(), port);
        w.closeIpSocket();
        QVERIFY(!w.IP_server->isBound());

        // A panel's "CONNECT IP" over the real socket connects the waiting link.
        link.waitForIpCall();
        QUdpSocket panel;
        panel.bind(QHostAddress::LocalHost, 0);
        panel.writeDatagram("CONNECT IP", QHostAddress::LocalHost, port);
        QTRY_VERIFY(link.connected());
        QCOMPARE(link.connection().replyPort, panel.localPort());
        QVERIFY(!w.requestExit());
        QCOMPARE(st.messages.lastText(), QStringLiteral("Primero debe desconectarse"));
        link.endSession();
    }
    QCOMPARE(link.comPort(), nullptr);
    link.clearKeypad();
}

QTEST_MAIN(tst_mainwiring)
#include "tst_mainwiring.moc"
