#include "records/section_format.h"

#include "data/panel_bytes.h"
#include "link/panel_link.h"

const int SectionFormat::MaxCharacters = 2 * PanelLink::MemorySize;

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

QString SectionFormat::unpadded(const QString& stored) const
{
    // Only a value of the section's length was padded by a save; a longer or
    // shorter one is shown whole. A decimal digit used as the fill of a
    // decimal byte is part of the number the panel gets, not padding.
    if (!hasFill() || caracteres <= 0 || stored.size() > caracteres || (tipo == 3 && isDecimal(filler.at(0))))
        return stored;
    qsizetype n = stored.size();
    while (n > 0 && stored.at(n - 1) == filler.at(0))
        --n;
    return stored.left(n);
}

QString SectionFormat::shown(const QString& stored) const
{
    return tipo == 3 || tipo == 4 ? unpadded(stored) : stored;
}

QString SectionFormat::defaultShown(const QString& stored) const
{
    return tipo >= 3 && tipo <= 5 ? unpadded(stored) : stored;
}

std::optional<QString> SectionFormat::saved(const QString& typed, QString* problem) const
{
    const auto refuse = [problem](const QString& why) -> std::optional<QString> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (!sizeKnown())
        return refuse(QStringLiteral("la sección tiene un largo imposible"));
    QString v = typed;
    if (tipo >= 3 && tipo <= 5 && hasFill() && v.size() < caracteres) {
        const QString fill(caracteres - v.size(), filler.at(0));
        // A digit after a number makes another number ("25" + "0" is 250):
        // zeros go in front instead, and any other digit cannot pad at all.
        if (tipo == 3 && isDecimal(filler.at(0))) {
            if (filler.at(0) != QLatin1Char('0'))
                return refuse(QStringLiteral("debe tener %1 caracteres (rellenar con %2 cambiaría el número)")
                                  .arg(caracteres)
                                  .arg(filler));
            v.prepend(fill);
        } else {
            v += fill;
        }
    }
    if (caracteres > 0 && v.size() != caracteres)
        return refuse(caracteres == 1 ? QStringLiteral("debe tener 1 carácter")
                                      : QStringLiteral("debe tener %1 caracteres").arg(caracteres));
    if (v.isEmpty())
        return refuse(QStringLiteral("no puede quedar vacío"));

    const QString hexOnly = QStringLiteral("solo dígitos hexadecimales 0-9 A-F");
    const QString byteRange = QStringLiteral("valor de 0 a 255");
    if (tipo == 2) {
        if (!all(v, isHex))
            return refuse(hexOnly);
        if (panelbytes::sectionByte(tipo, v) < 0)
            return refuse(byteRange);
    } else if (tipo == 3) {
        // Only what the link turns into a byte is accepted.
        if (panelbytes::sectionByte(tipo, v) < 0)
            return refuse(byteRange);
    } else if (tipo == 4 || tipo == 5) {
        if (!all(v, isHex))
            return refuse(hexOnly);
    } else {
        return refuse(QStringLiteral("no se puede guardar"));
    }
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
