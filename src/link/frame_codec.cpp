#include "link/frame_codec.h"

#include <QDate>
#include <QTime>

namespace codec {

int checksum(const int* bytes, int n)
{
    int sum = 0;
    for (int i = 0; i < n; ++i)
        sum += bytes[i] & 0xFF;
    return (256 - sum % 256) % 256;
}

QByteArray encode(const int* bytes, int n)
{
    QByteArray text;
    text.reserve(2 * n + 4);
    text += ':';
    auto pair = [&text](int b) {
        text += char('A' + ((b >> 4) & 15));
        text += char('A' + (b & 15));
    };
    for (int i = 0; i < n; ++i)
        pair(bytes[i] & 0xFF);
    pair(checksum(bytes, n));
    text += '\r';
    return text;
}

int decode(QByteArrayView t, Bytes& out)
{
    if (t.size() % 2 != 0 || t.size() < 4 || t.size() > MaxChars)
        return -1;
    const int pairs = int(t.size() / 2);
    int sum = 0;
    for (int i = 0; i < pairs; ++i) {
        const int hi = t.at(2 * i) - 'A';
        const int lo = t.at(2 * i + 1) - 'A';
        if (hi < 0 || hi > 15 || lo < 0 || lo > 15)
            return -1;
        out[size_t(i)] = hi * 16 + lo;
        sum += out[size_t(i)];
    }
    return (sum & 0xFF) == 0 ? pairs : -1;
}

int hexByte(QStringView t)
{
    if (t.isEmpty() || t.size() > 2)
        return -1;
    int v = 0;
    for (const QChar c : t) {
        const char16_t u = c.unicode();
        const int d = u >= '0' && u <= '9' ? u - '0'
                      : u >= 'A' && u <= 'F' ? u - 'A' + 10
                      : u >= 'a' && u <= 'f' ? u - 'a' + 10
                                             : -1;
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

int accessCodeByte(const QString& code, int from)
{
    if (code.size() < from + 2)
        return 0;
    return qMax(0, hexByte(QStringView(code).mid(from, 2)));
}

int protocolCodeOf(const QString& cadena)
{
    bool ok = false;
    const int v = cadena.trimmed().toInt(&ok);
    return ok && v >= 0 && v <= 255 ? v : 0;
}

QString eventDate(quint32 t)
{
    const int minute = int((t >> 5) & 63);
    const int hour = int((t >> 11) & 31);
    const int day = int((t >> 16) & 31);
    const int month = int((t >> 21) & 15);
    // Unsigned: years 2064-2127 (top bit set) come out as such.
    const int year = 2000 + int((t >> 25) & 127);
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59)
        return QString();
    // Not through a local date-time: a daylight-saving gap must not lose it.
    return date.toString(QStringLiteral("yyyy-MM-dd ")) + QTime(hour, minute).toString(QStringLiteral("HH:mm:ss"));
}

} // namespace codec
