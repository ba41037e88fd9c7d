#pragma once
// The keypad interface's text lines, without any window: the line buffer fed
// one received character at a time, and the decoder of a completed line
// ("LEDS" state, "BEEPS"/"BEEPL" requests).

#include <QByteArray>
#include <QtGlobal>

namespace keypad {

// What a completed line asks for.
struct Decoded {
    enum Kind { Other, Leds, Beep };
    Kind kind = Other;
    qint32 steady = 0; // bit k: LED k lit continuously
    qint32 blink = 0;  // bit k: LED k blinks
};

// rx_decode: "LEDS", a separator, then f1,f2,f3,f4,f5 (case ignored); a
// "BEEPS" or "BEEPL" from the fourth character on. A LEDS line with fewer
// than four commas after the word, or with a field that does not fit a
// 32-bit integer after the shifts, is rejected (Other) like any line it
// does not know.
Decoded rx_decode(const QByteArray& line);

// The LEDs shown: the blinking ones only in the lit phase; bits 20 and up
// do not exist on the keypad.
quint32 shownLeds(qint32 steady, qint32 blink, bool phase);

// The line buffer of the receiving side. A carriage return completes a line
// only when at least two characters are waiting; otherwise it is kept like
// any other character. An interface that never ends its lines cannot make
// the buffer grow: when it holds MaxLine characters it is emptied before the
// next one is stored (a valid LEDS line is well under 80 characters).
class LineBuffer {
public:
    static constexpr int MaxLine = 256;

    // True when `c` completed a line; it is then in `line` and the buffer
    // starts empty again.
    bool feed(char c, QByteArray* line);
    const QByteArray& text() const { return m_text; }
    void clear() { m_text.clear(); }

private:
    QByteArray m_text;
};

} // namespace keypad
