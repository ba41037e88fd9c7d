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
#include "link/mdl_trans.h"
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
    Station st;
    FakeSerialPort com;
    std::unique_ptr<w_teclado> w;
    int beeps = 0;

    Rig()
    {
        com.setSettings(QStringLiteral("4800,N,8,2"));
        com.open();
        mdl_trans::instance().setDevices(&com, nullptr);
        w_teclado::beep = [this] { ++beeps; };
        w = std::make_unique<w_teclado>();
        w->show();
        w->Timer1->stop();
        w->Timer2->stop();
        com.takeWritten();
    }
    ~Rig()
    {
        w.reset();
        w_teclado::beep = [] {};
        mdl_trans::instance().setDevices(nullptr, nullptr);
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
    QList<bool> lit() const
    {
        QList<bool> l;
        for (KeypadLed* led : w->led)
            l << led->isLit();
        return l;
    }
    static QList<bool> leds(std::initializer_list<int> on)
    {
        QList<bool> l(20, false);
        for (int k : on)
            l[k] = true;
        return l;
    }
};

} // namespace

class tst_teclado : public QObject {
    Q_OBJECT
private slots:
    void opensThePortAndClosesSilently();
    void mousePressesAndHolds();
    void keyboardMapAndAutoRepeat();
    void receivedLinesLightTheLeds();
    void errorEventReopensThePort();
    void toolbarOpensTheRealKeypad();
    void drivesTheSimulatedInterface();
};

void tst_teclado::opensThePortAndClosesSilently()
{
    Station st;
    FakeSerialPort com;
    com.open();
    mdl_trans& link = mdl_trans::instance();
    link.setDevices(&com, nullptr);
    {
        w_teclado w;
        w.show();
        QCOMPARE(com.closes, 1);
        QVERIFY(com.isOpen());
        QCOMPARE(com.takeWritten(), QByteArray("AT@L\r"));
        QVERIFY(link.keypadOpen);
        QCOMPARE(w.windowTitle(), QStringLiteral("QUENDAL                VXA-410"));
        QVERIFY(w.Timer1->isActive() && w.Timer2->isActive());
        QCOMPARE(w.Timer1->interval(), 500);
        QCOMPARE(w.Timer2->interval(), 100);
        // The link's serial events now reach the keypad.
        com.receive("LEDS 4,0,0,0,0\r");
        QVERIFY(w.led[18]->isLit());
        w.close();
        QVERIFY(!link.keypadOpen);
        QVERIFY(!link.keypadHandler);
    }
    QVERIFY(com.isOpen());
    QVERIFY(com.written.isEmpty());
    link.setDevices(nullptr, nullptr);
}

void tst_teclado::mousePressesAndHolds()
{
    Rig r;
    QPushButton* five = r.w->keynum[4];
    QCOMPARE(five->text(), QStringLiteral("5"));
    // A short press: the tap only.
    QTest::mousePress(five, Qt::LeftButton);
    r.ticks(14);
    QTest::mouseRelease(five, Qt::LeftButton);
    r.ticks(30);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@T5\r"));

    // Held 1.5 s: the hold command once, however long it is held.
    QTest::mousePress(five, Qt::LeftButton);
    r.ticks(14);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@T5\r"));
    r.ticks(1);
    QCOMPARE(r.com.takeWritten(), QByteArray("AT@F5\r"));
    r.ticks(50);
    QTest::mouseRelease(five, Qt::LeftButton);
    QVERIFY(r.com.written.isEmpty());

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

    // The function keys in order P, F, A.
    for (QPushButton* b : r.w->keyfun) {
        QTest::mousePress(b, Qt::LeftButton);
        QTest::mouseRelease(b, Qt::LeftButton);
    }
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

    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        char sent;
    };
    const Case cases[] = {
        {Qt::Key_0, Qt::KeypadModifier, '0'}, {Qt::Key_Asterisk, Qt::KeypadModifier, '*'},
        {Qt::Key_5, Qt::NoModifier, '#'},     {Qt::Key_Return, Qt::NoModifier, '#'},
        {Qt::Key_Asterisk, Qt::NoModifier, '#'}, {Qt::Key_F, Qt::ShiftModifier, 'Y'},
        {Qt::Key_A, Qt::NoModifier, 'Z'},     {Qt::Key_Z, Qt::NoModifier, '#'},
    };
    for (const Case& c : cases) {
        r.key(QEvent::KeyPress, c.key, c.mods);
        r.key(QEvent::KeyRelease, c.key, c.mods);
        QCOMPARE(r.com.takeWritten(), QByteArray("AT@T") + c.sent + '\r');
    }
}

void tst_teclado::receivedLinesLightTheLeds()
{
    Rig r;
    QCOMPARE(r.lit(), Rig::leds({}));
    r.com.receive("LEDS 1,3,0,128,0\r\n");
    QCOMPARE(r.lit(), Rig::leds({16, 0, 1, 15}));
    QCOMPARE(r.w->led[16]->colour(), QColor(0, 255, 0));
    QCOMPARE(r.w->led_label[18]->text(), QStringLiteral("LISTO"));
    r.w->Timer1_Timer();
    QCOMPARE(r.lit(), Rig::leds({16, 0, 1, 15})); // nothing blinks

    // The line feed left in the buffer goes in front of the next line, and
    // lower case is recognised. Zone 1 is in both masks: lit in both phases.
    r.com.receive("leds 33,1,3,0,0\r");
    QCOMPARE(r.w->il_steady, 0x10001);
    QCOMPARE(r.w->il_blink, 0x20003);
    QCOMPARE(r.lit(), Rig::leds({16, 17, 0, 1})); // lit phase from the last tick
    r.w->Timer1_Timer();
    QCOMPARE(r.lit(), Rig::leds({16, 0}));
    r.w->Timer1_Timer();
    QCOMPARE(r.lit(), Rig::leds({16, 17, 0, 1}));

    // A carriage return on an empty buffer stays and leads the next line.
    r.com.receive("\r");
    QCOMPARE(r.w->is_buffer.text(), QByteArray("\r"));
    r.com.receive("LEDS 0,0,0,0,0\r");
    QCOMPARE(r.lit(), Rig::leds({}));

    // Beeps only after three other characters; bad lines change nothing.
    r.com.receive("LEDS 1,0,0,0,0\r");
    r.com.receive("BEEPS\r");
    QCOMPARE(r.beeps, 0);
    r.com.receive("xyzBEEPS\rTECLADO BEEPL\r");
    QCOMPARE(r.beeps, 2);
    r.com.receive("LEDS 1,2\rLEDS 1,0,0,9999999999,0\rgarbage\r");
    QCOMPARE(r.w->il_steady, 0x10000);
    QVERIFY(r.com.written.isEmpty());
}

void tst_teclado::errorEventReopensThePort()
{
    Rig r;
    r.com.receive("LEDS 2,");
    const int opens = r.com.opens;
    emit r.com.commEvent(SerialPort::ErFrame);
    QCOMPARE(r.w->Text1->text(), QStringLiteral("1004"));
    QCOMPARE(r.com.opens, opens + 1);
    QVERIFY(r.com.isOpen());
    // The buffer and the LEDs stay as they were.
    QCOMPARE(r.w->is_buffer.text(), QByteArray("LEDS 2,"));
    r.com.receive("0,0,0,0\r");
    QVERIFY(r.w->led[17]->isLit());
    QVERIFY(r.com.written.isEmpty());
    r.w->Command1->click();
    QVERIFY(r.w->Text1->text().isEmpty());
}

void tst_teclado::toolbarOpensTheRealKeypad()
{
    Station st;
    w_main w;
    registerWindows(w);
    w.registerWindow("cb_panel", [] { return new QWidget; });
    w.show();
    w.com_main->setSettings(QStringLiteral("4800,N,8,2"));
    w.action("cb_teclado")->trigger();
    auto* k = qobject_cast<w_teclado*>(w.child("cb_teclado"));
    QVERIFY(k);
    QVERIFY(mdl_trans::instance().keypadOpen);
    w.action("cb_panel")->trigger();
    QTRY_VERIFY(!w.child("cb_teclado"));
    QVERIFY(!mdl_trans::instance().keypadOpen);
}

void tst_teclado::drivesTheSimulatedInterface()
{
    Station st;
    panelsim::Panel panel;
    panel.state.zonesOpen = 0x0004;   // zone 3
    panel.state.alarmMemory = 0x0100; // zone 9
    panelsim::KeypadInterface iface(&panel);
    QVERIFY(iface.open());
    QVERIFY(iface.linkAs(st.dir(), 1));
    QtSerialPortAdapter com(st.dir());
    com.setCommPort(1);
    com.setSettings(QStringLiteral("4800,N,8,2"));
    mdl_trans::instance().setDevices(&com, nullptr);
    int beeps = 0;
    w_teclado::beep = [&beeps] { ++beeps; };
    {
        w_teclado w;
        w.show();
        w.Timer1->stop();
        w.Timer2->stop();
        // "AT@L" brings the LED line: zone 3 steady, zone 9 blinking (memory);
        // not ready while a zone is open.
        QTRY_COMPARE(w.il_steady, 0x0004);
        QCOMPARE(w.il_blink, 0x0100);
        QCOMPARE(iface.commands.value(0), QStringLiteral("AT@L"));

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
        QTRY_COMPARE(w.il_steady, 0x10000); // LISTO
        code("1234");
        QTRY_VERIFY(w.il_steady & 0x20000); // ARMADO
        QVERIFY(panel.state.armed);
        QTRY_COMPARE(beeps, 2);
        // Arming clears the alarm memory.
        QCOMPARE(w.il_blink, 0);
        w.Timer1_Timer();
        QVERIFY(w.led[17]->isLit() && !w.led[8]->isLit());
        QCOMPARE(iface.commands.size(), 9);
    }
    w_teclado::beep = [] {};
    mdl_trans::instance().setDevices(nullptr, nullptr);
    com.close();
}

QTEST_MAIN(tst_teclado)
#include "tst_teclado.moc"
