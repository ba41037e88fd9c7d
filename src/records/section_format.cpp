#include "records/section_format.h"

#include "link/mdl_trans.h"

const int SectionFormat::MaxCharacters = 2 * mdl_trans::MemorySize;

namespace {

bool isHex(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

bool isDecimal(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

bool all(const QString& s, bool (*pred)(QChar))
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (!pred(c))
            return false;
    return true;
}

// A byte written with any number of leading zeros.
bool isByte(const QString& s, bool (*pred)(QChar), int base)
{
    if (!all(s, pred))
        return false;
    qsizetype i = 0;
    while (i < s.size() - 1 && s.at(i) == QLatin1Char('0'))
        ++i;
    const QString digits = s.mid(i);
    bool ok = false;
    const int v = digits.size() <= 3 ? digits.toInt(&ok, base) : 256;
    return ok && v <= 255;
}

} // namespace

SectionFormat::Input SectionFormat::input() const
{
    if (!sizeKnown())
        return Input::none;
    switch (tipo) {
    case 1:
        return Input::list;
    case 2:
        return caracteres == 0 ? Input::list : Input::text;
    case 3:
    case 4:
    case 5:
        return Input::text;
    default:
        return Input::none;
    }
}

QString SectionFormat::shown(const QString& stored) const
{
    if ((tipo == 3 || tipo == 4) && hasFill())
        return QString(stored).remove(filler.at(0));
    return stored;
}

QString SectionFormat::defaultShown(const QString& stored) const
{
    return hasFill() ? QString(stored).remove(filler.at(0)) : stored;
}

std::optional<QString> SectionFormat::saved(const QString& typed) const
{
    if (!sizeKnown())
        return std::nullopt;
    QString v = typed;
    if (tipo >= 3 && tipo <= 5 && hasFill() && v.size() < caracteres)
        v += QString(caracteres - v.size(), filler.at(0));
    if (caracteres > 0 && v.size() != caracteres)
        return std::nullopt;

    bool encodable = false;
    if (tipo == 2) {
        encodable = isByte(v, isHex, 16);
    } else if (tipo == 3) {
        // The decimal byte is what comes before the padding.
        QString digits = v;
        if (hasFill())
            while (digits.endsWith(filler.at(0)))
                digits.chop(1);
        encodable = isByte(digits, isDecimal, 10);
    } else if (tipo == 4 || tipo == 5) {
        encodable = all(v, isHex);
    }
    if (!encodable)
        return std::nullopt;
    return v;
}

std::optional<qint64> listKey(const QString& value)
{
    if (!all(value, isHex))
        return std::nullopt;
    bool ok = false;
    const qint64 v = value.toLongLong(&ok, 16);
    return ok ? std::optional<qint64>(v) : std::nullopt;
}
