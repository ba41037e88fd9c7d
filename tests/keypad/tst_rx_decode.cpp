// The keypad line decoder and line buffer on their own, and a robustness
// run over random lines.

#include "keypad/rx_decode.h"

#include <QRandomGenerator>
#include <QtTest>

using keypad::Decoded;
using keypad::LineBuffer;

namespace {

QList<QByteArray> feedAll(LineBuffer& b, const QByteArray& text)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (char c : text)
        if (b.feed(c, &line))
            lines << line;
    return lines;
}

} // namespace

class tst_rx_decode : public QObject {
    Q_OBJECT
private slots:
    void ledFields_data();
    void ledFields();
    void lineBuffer();
    void randomLinesNeverBreakIt();
};

void tst_rx_decode::ledFields_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("steady");
    QTest::addColumn<int>("blink");
    const int L = Decoded::Leds, O = Decoded::Other, B = Decoded::Beep;
    QTest::newRow("listo, zonas 1 2 y 16") << QByteArray("LEDS 1,3,0,128,0") << L << 0x18003 << 0;
    QTest::newRow("armado y zona 1 parpadean") << QByteArray("LEDS 33,0,1,0,0") << L << 0x10000 << 0x20001;
    QTest::newRow("campo mayor que 255 se suma") << QByteArray("LEDS 0,256,0,1,0") << L << 0x200 << 0;
    QTest::newRow("blancos y decimales") << QByteArray("LEDS   4,  7.6 ,x,1x,0") << L << 0x40108 << 0;
    QTest::newRow("negativo conserva el signo") << QByteArray("LEDS -17,0,0,0,0") << L << -65536 << -65536;
    QTest::newRow("blanco antes, separador blanco") << QByteArray("\nLEDS 1,3,0,0,0") << L << 0x10003 << 0;
    // With a character in front the first field starts inside the word.
    QTest::newRow("prefijo con separador dos puntos") << QByteArray("\nLEDS:1,3,0,0,0") << L << 3 << 0;
    QTest::newRow("tres comas") << QByteArray("LEDS 1,2,3,4") << O << 0 << 0;
    // Beep requests count only from the fourth character; LEDS comes first.
    QTest::newRow("BEEPS al principio") << QByteArray("BEEPS") << O << 0 << 0;
    QTest::newRow("BEEPL tras dos") << QByteArray("\n\nBEEPL") << O << 0 << 0;
    QTest::newRow("beepl tras tres") << QByteArray("TECLADO beepl") << B << 0 << 0;
    QTest::newRow("LEDS con BEEPS") << QByteArray("LEDS 0,0,0,0,0 BEEPS") << L << 0 << 0;
    QTest::newRow("desborda") << QByteArray("LEDS 1,0,0,99999999,0") << O << 0 << 0;
    QTest::newRow("numero enorme") << QByteArray("leds 1,0,0,0,123456789012345678901") << O << 0 << 0;
}

void tst_rx_decode::ledFields()
{
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(int, steady);
    QFETCH(int, blink);
    const Decoded d = keypad::rx_decode(line);
    QCOMPARE(int(d.kind), kind);
    QCOMPARE(d.steady, steady);
    QCOMPARE(d.blink, blink);
}

void tst_rx_decode::lineBuffer()
{
    LineBuffer b;
    // A carriage return with fewer than two characters waiting is kept and
    // goes in front of the next line.
    QCOMPARE(feedAll(b, "\r"), QList<QByteArray>{});
    QCOMPARE(feedAll(b, "LEDS 1,0,0,0,0\r\n"), QList<QByteArray>{"\rLEDS 1,0,0,0,0"});
    QCOMPARE(b.text(), QByteArray("\n"));
    QCOMPARE(feedAll(b, "x\rOK\r"), (QList<QByteArray>{"\nx", "OK"}));

    // A line that never ends cannot grow the buffer without bound, and the
    // next complete line still decodes.
    feedAll(b, QByteArray(10000, 'A'));
    QVERIFY(b.text().size() <= LineBuffer::MaxLine);
    b.clear();
    const QList<QByteArray> lines = feedAll(b, QByteArray(LineBuffer::MaxLine, 'Z') + "LEDS 2,0,0,0,0\r");
    QCOMPARE(lines.size(), 1);
    QCOMPARE(keypad::rx_decode(lines.first()).kind, Decoded::Leds);
}

void tst_rx_decode::randomLinesNeverBreakIt()
{
    QRandomGenerator rng(8);
    const QByteArray alphabet("LEDSBPledsbp0123456789,-+. \r\n\x01\xff");
    LineBuffer b;
    QByteArray line;
    int leds = 0;
    for (int i = 0; i < 20000; ++i) {
        QByteArray text = rng.bounded(4) == 0 ? QByteArray("LEDS ") : QByteArray();
        const int n = int(rng.bounded(40));
        for (int k = 0; k < n; ++k)
            text += alphabet.at(int(rng.bounded(alphabet.size())));
        for (char c : text) {
            if (!b.feed(c, &line))
                continue;
            const Decoded d = keypad::rx_decode(line);
            if (d.kind == Decoded::Leds)
                ++leds;
            else
                QCOMPARE(d.steady | d.blink, 0);
            // Whatever the masks, only the 20 LEDs exist.
            QVERIFY(keypad::shownLeds(d.steady, d.blink, true) <= 0xFFFFFu);
        }
        QVERIFY(b.text().size() <= LineBuffer::MaxLine);
    }
    QVERIFY(leds > 0);
}

QTEST_GUILESS_MAIN(tst_rx_decode)
#include "tst_rx_decode.moc"
