// The keypad window on a fake serial port: what each press sends and when,
// what received lines light, error events; the toolbar opening the real
// window; and one run against the simulated keypad interface over a
// pseudo-terminal. Timers are driven by hand.

#include "common/linkfakes.h"
#include "common/testsupport.h"

#include "app/ui_startup_hooks.h"
#include "app/w_main.h"
#include "keypad/w_teclado.h"
#include "keypadinterface.h"
#include "link/panel_link.h"
#include "link/serialport_qt.h"
#include "panel.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

// A keypad on a fake port, its timers stopped so the test drives them.
struct Rig {
    TestStation st;
    FakeSerialPort com;
    std::unique_ptr<w_teclado> w;
    QByteArray opening; // written while the window opened

    Rig()
    {
        com.open();
        st.trans.setDevices(&com, nullptr);
        w = std::make_unique<w_teclado>(st.ctx, st.trans);
        w->show();
        w->Timer1->stop();
        w->Timer2->stop();
        w->tmr_linea->stop();
        opening = com.takeWritten();
    }
    ~Rig()
    {
        w.reset();
        st.trans.setDevices(nullptr, nullptr);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            w->Timer2_Timer();
    }
    void key(QEvent::Type type, int k, Qt::KeyboardModifiers m = Qt::NoModifier, bool repeat = false)
    {
        QKeyEvent e(type, k, m, QString(), repeat);
        QApplication::sendEvent(w.get(), &e);
    }
    void click(QPushButton* b, int holdTicks = 0)
    {
        QTest::mousePress(b, Qt::LeftButton);
        ticks(holdTicks);
        QTest::mouseRelease(b, Qt::LeftButton);
    }
    int lit() const // bit k: LED k lit
    {
        int m = 0;
        for (int k = 0; k < 20; ++k)
            m |= w->led[k]->isLit() ? 1 << k : 0;
        return m;
    }
};

} // namespace

class tst_teclado : public QObject {
    Q_OBJECT
private slots:
    void portFromOpeningToClosing();
    void mousePressesAndHolds();
    void keyboardMapAndAutoRepeat();
    void receivedLinesLightTheLeds();
    void toolbarOpensTheRealKeypad();
    void drivesTheSimulatedInterface();
};

void tst_teclado::portFromOpeningToClosing()
{
    Rig r;
    PanelLink& link = r.st.trans;
    // The open port is closed and reopened, and the LED state asked for.
    QCOMPARE(r.com.closes, 1);
    QCOMPARE(r.opening, QByteArray("AT@L\r"));
    QVERIFY(link.keypadOpen());

    // An error event shows its number and reopens the port; the line being
    // received and the LEDs stay.
    r.com.receive("LEDS 2,");
    emit r.com.commEvent(SerialPort::ErFrame);
    QCOMPARE(r.w->Text1->text(), QStringLiteral("1004"));
    QCOMPARE(r.com.opens, 3);
    QCOMPARE(r.w->m_buffer.text(), QByteArray("LEDS 2,"));
    r.com.receive("0,0,0,0\r");
    QCOMPARE(r.lit(), 1 << 17);

    // Closing sends nothing and leaves the port to the link.
    r.w->close();
    QVERIFY(!link.keypadOpen());
    QVERIFY(r.com.isOpen());
    QVERIFY(r.com.written.isEmpty());
}

void tst_teclado::mousePressesAndHolds()
{
    Rig r;
    QPushButton* five = r.w->keynum[4];
    QCOMPARE(five->text(), QStringLiteral("5"));
    r.click(five, 14);
    r.ticks(30);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@T5\r"));
    // Held 1.5 s: the hold command once, however long it is held.
    r.click(five, 60);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@T5\rAT@F5\r"));

    // A second key while the first is held takes over the hold and
    // restarts the count.
    QTest::mousePress(r.w->keynum[9], Qt::LeftButton);
    r.ticks(10);
    r.key(QEvent::KeyPress, Qt::Key_P);
    r.ticks(14);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@T*\rAT@TX\r"));
    r.ticks(1);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@FX\r"));
    r.key(QEvent::KeyRelease, Qt::Key_P);
    QTest::mouseRelease(r.w->keynum[9], Qt::LeftButton);

    for (QPushButton* b : r.w->keyfun)
        r.click(b);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@TX\rAT@TY\rAT@TZ\r"));
}

void tst_teclado::keyboardMapAndAutoRepeat()
{
    Rig r;
    // Auto-repeat: presses and releases of the same key while it is down.
    r.key(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier);
    for (int i = 0; i < 20; ++i) {
        r.key(QEvent::KeyRelease, Qt::Key_5, Qt::KeypadModifier, true);
        r.key(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier, true);
        r.ticks(1);
    }
    r.key(QEvent::KeyRelease, Qt::Key_5, Qt::KeypadModifier);
    r.ticks(20);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@T5\rAT@F5\r"));

    // Fast typing: a key goes down before the previous one is up. Each
    // sends its tap; the hold is the last key's, and the release of the
    // earlier key does not end it.
    r.key(QEvent::KeyPress, Qt::Key_1);
    r.key(QEvent::KeyPress, Qt::Key_2);
    r.key(QEvent::KeyRelease, Qt::Key_1);
    r.key(QEvent::KeyPress, Qt::Key_3);
    r.key(QEvent::KeyRelease, Qt::Key_2);
    r.ticks(15);
    r.key(QEvent::KeyRelease, Qt::Key_3);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@T1\rAT@T2\rAT@T3\rAT@F3\r"));

    // The digit row of a laptop and the pad with NumLock off type digits.
    const Qt::KeyboardModifiers pad = Qt::KeypadModifier;
    const std::pair<int, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_5, {}}, {Qt::Key_0, Qt::ShiftModifier}, {Qt::Key_End, pad}, {Qt::Key_Clear, pad},
        {Qt::Key_PageUp, pad}, {Qt::Key_Insert, pad}, {Qt::Key_End, {}}, {Qt::Key_0, pad},
        {Qt::Key_Asterisk, pad}, {Qt::Key_Asterisk, {}}, {Qt::Key_Return, {}}, {Qt::Key_F, Qt::ShiftModifier},
        {Qt::Key_A, {}}, {Qt::Key_P, {}}, {Qt::Key_Z, {}}};
    QByteArray sent;
    for (const auto& [k, m] : keys)
        sent += w_teclado::mappedKey(k, m);
    QCOMPARE(sent, QByteArray("501590#0*##YZX#"));
}

void tst_teclado::receivedLinesLightTheLeds()
{
    // Line splitting and field decoding are tested with the decoder; here
    // what the window shows. Zone 1 is in both masks: lit in both phases.
    Rig r;
    r.com.receive("LEDS 1,3,0,128,0\r\n");
    QCOMPARE(r.lit(), 0x18003);
    QCOMPARE(r.w->led[16]->colour(), QColor(0, 255, 0));
    QCOMPARE(r.w->led_label[18]->text(), QStringLiteral("LISTO"));
    r.com.receive("leds 33,1,3,0,0\r");
    QCOMPARE(r.lit(), 0x10001); // dark phase
    r.w->Timer1_Timer();
    QCOMPARE(r.lit(), 0x30003);
    r.w->Timer1_Timer();
    QCOMPARE(r.lit(), 0x10001);
    // A line it cannot use changes nothing.
    r.com.receive("LEDS 1,0,0,9999999999,0\r");
    QCOMPARE(r.w->m_blink, 0x20003);
}

void tst_teclado::toolbarOpensTheRealKeypad()
{
    TestStation st;
    w_main w(st.ctx, st.trans);
    registerWindows(w, st);
    w.registerWindow("cb_panel", [] { return new QWidget; });
    w.show();
    w.com_main->setSettings(QStringLiteral("4800,N,8,2"));
    w.action("cb_teclado")->trigger();
    auto* k = qobject_cast<w_teclado*>(w.child("cb_teclado"));
    QVERIFY(k);
    QVERIFY(st.trans.keypadOpen());
    w.action("cb_panel")->trigger();
    QTRY_VERIFY(!w.child("cb_teclado"));
    QVERIFY(!st.trans.keypadOpen());
}

void tst_teclado::drivesTheSimulatedInterface()
{
    TestStation st;
    panelsim::Panel panel;
    panel.state.zonesOpen = 0x0004;   // zone 3
    panel.state.alarmMemory = 0x0100; // zone 9
    auto iface = std::make_unique<panelsim::KeypadInterface>(&panel);
    QVERIFY(iface->open());
    QVERIFY(iface->linkAs(st.dir(), 1));
    QtSerialPortAdapter com(st.dir());
    com.setCommPort(1);
    com.setSettings(QStringLiteral("4800,N,8,2"));
    st.trans.setDevices(&com, nullptr);
    int beeps = 0;
    st.ctx.beep = [&beeps] { ++beeps; };
    {
        w_teclado w(st.ctx, st.trans);
        w.show();
        w.Timer1->stop();
        w.Timer2->stop();
        w.tmr_linea->stop();
        QCOMPARE(w.st_linea->text(), QStringLiteral("Línea: conectada"));
        // "AT@L" brings the LED line: zone 3 steady, zone 9 blinking (memory);
        // not ready while a zone is open.
        QTRY_COMPARE(w.m_steady, 0x0004);
        QCOMPARE(w.m_blink, 0x0100);
        QCOMPARE(iface->commands.value(0), QStringLiteral("AT@L"));

        // Arming is refused with a zone open (long beep), then works with
        // the code once it closes.
        auto code = [&w](const char* digits) {
            for (const char* d = digits; *d; ++d) {
                QPushButton* b = w.keynum[*d == '0' ? 10 : *d - '1'];
                QTest::mousePress(b, Qt::LeftButton);
                QTest::mouseRelease(b, Qt::LeftButton);
            }
        };
        code("1234");
        QTRY_COMPARE(beeps, 1);
        QVERIFY(!panel.state.armed);
        panel.state.zonesOpen = 0;
        emit panel.changed();
        QTRY_COMPARE(w.m_steady, 0x10000); // LISTO
        code("1234");
        QTRY_VERIFY(w.m_steady & 0x20000); // ARMADO
        QVERIFY(panel.state.armed);
        QTRY_COMPARE(beeps, 2);
        // Arming clears the alarm memory.
        QCOMPARE(w.m_blink, 0);
        w.Timer1_Timer();
        QVERIFY(w.led[17]->isLit() && !w.led[8]->isLit());
        QCOMPARE(iface->commands.size(), 9);

        // The line drops (the interface is gone): said under the keys, and
        // retried until it is back; then the LEDs are asked for again and
        // key presses reach the interface.
        iface.reset();
        QTRY_VERIFY(!w.lineUp());
        QCOMPARE(w.st_linea->text(), QStringLiteral("Línea: sin conexión, reintentando"));
        // What the LEDs showed is no longer known: grey, none lit.
        for (int k = 0; k < 20; ++k)
            QVERIFY(w.led[k]->isUnknown() && !w.led[k]->isLit());
        w.tmr_linea_Timer();
        QVERIFY(!w.lineUp());
        iface = std::make_unique<panelsim::KeypadInterface>(&panel);
        QVERIFY(iface->open() && iface->linkAs(st.dir(), 1));
        w.tmr_linea_Timer();
        QVERIFY(w.lineUp());
        QCOMPARE(w.st_linea->text(), QStringLiteral("Línea: conectada"));
        code("1");
        QTRY_COMPARE(iface->commands, (QStringList{"AT@L", "AT@T1"}));
        QTRY_VERIFY(!w.led[17]->isUnknown());
    }
    st.trans.setDevices(nullptr, nullptr);
    com.close();
}

QTEST_MAIN(tst_teclado)
#include "tst_teclado.moc"
