#include "link/dial_string.h"

namespace dial {

bool isDialCharacter(QChar c)
{
    static const QString others = QStringLiteral(" -()*#,WPT!@;");
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || others.contains(c);
}

QChar forbiddenCharacter(const QString& number)
{
    for (const QChar c : number)
        if (!isDialCharacter(c))
            return c;
    return {};
}

QString keepDialCharacters(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        const QChar u = c.toUpper();
        if (isDialCharacter(u))
            out += u;
    }
    return out;
}

QString describe(QChar c)
{
    if (c == QLatin1Char('\r'))
        return QStringLiteral("retorno de carro");
    if (c == QLatin1Char('\n'))
        return QStringLiteral("salto de línea");
    if (c == QLatin1Char('\t'))
        return QStringLiteral("tabulación");
    if (!c.isPrint() || c.isSpace())
        return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("«%1»").arg(c);
}

} // namespace dial
