#include "keypad/rx_decode.h"

#include <cmath>
#include <limits>
#include <optional>

namespace keypad {

namespace {

// The leading decimal number of a field (blanks before it skipped, no
// number = 0), rounded half to even as the interface's firmware expects.
// Empty when it does not fit a 32-bit integer.
std::optional<qint64> leadingNumber(const QByteArray& field)
{
    qsizetype i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || field[i] == '\n' || field[i] == '\r'))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '-' || field[i] == '+'))
        negative = field[i++] == '-';
    double value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > 1e12) // far beyond any field; stop before precision is lost
            return std::nullopt;
    }
    if (i < field.size() && field[i] == '.') {
        double scale = 0.1;
        for (++i; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i, scale /= 10)
            value += (field[i] - '0') * scale;
    }
    value = std::nearbyint(negative ? -value : value);
    if (value < double(std::numeric_limits<qint32>::min()) || value > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint64(value);
}

bool fitsInt32(qint64 v)
{
    return v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max();
}

std::optional<Decoded> decodeLeds(const QByteArray& upper, qsizetype p)
{
    // The first field always starts at the sixth character of the line,
    // whatever stands before "LEDS"; the commas are looked for after it.
    qsizetype commas[4];
    qsizetype from = p + 5;
    for (qsizetype& c : commas) {
        c = upper.indexOf(',', from);
        if (c < 0)
            return std::nullopt;
        from = c + 1;
    }
    QByteArray fields[5] = {
        upper.mid(5, qMax<qsizetype>(0, commas[0] - 5)),
        upper.mid(commas[0] + 1, commas[1] - commas[0] - 1),
        upper.mid(commas[1] + 1, commas[2] - commas[1] - 1),
        upper.mid(commas[2] + 1, commas[3] - commas[2] - 1),
        upper.mid(commas[3] + 1),
    };
    qint64 f[5];
    for (int i = 0; i < 5; ++i) {
        const std::optional<qint64> n = leadingNumber(fields[i]);
        if (!n)
            return std::nullopt;
        f[i] = *n;
    }
    // Added, not or-ed: a field above 255 spills into the next byte.
    const qint64 steady = (f[0] % 16) * 65536 + f[1] + f[3] * 256;
    const qint64 blink = (f[0] / 16) * 65536 + f[2] + f[4] * 256;
    if (!fitsInt32(steady) || !fitsInt32(blink))
        return std::nullopt;
    return Decoded{Decoded::Leds, qint32(steady), qint32(blink)};
}

} // namespace

Decoded rx_decode(const QByteArray& line)
{
    const QByteArray upper = line.toUpper();
    const qsizetype p = upper.indexOf("LEDS");
    if (p >= 0)
        return decodeLeds(upper, p).value_or(Decoded{});
    if (upper.indexOf("BEEPS", 3) >= 0 || upper.indexOf("BEEPL", 3) >= 0)
        return Decoded{Decoded::Beep};
    return {};
}

quint32 shownLeds(qint32 steady, qint32 blink, bool phase)
{
    const quint32 shown = quint32(steady) | (phase ? quint32(blink) : 0u);
    return shown & 0xFFFFFu;
}

bool LineBuffer::feed(char c, QByteArray* line)
{
    if (c == '\r' && m_text.size() >= 2) {
        *line = m_text;
        m_text.clear();
        return true;
    }
    if (m_text.size() >= MaxLine)
        m_text.clear();
    m_text.append(c);
    return false;
}

} // namespace keypad
