#include "data/panel_bytes.h"

namespace panelbytes {

namespace {

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    const int d = u >= '0' && u <= '9' ? u - '0'
                  : u >= 'A' && u <= 'F' ? u - 'A' + 10
                  : u >= 'a' && u <= 'f' ? u - 'a' + 10
                                         : -1;
    return d < base ? d : -1;
}

} // namespace

int sectionByte(int tipo, const QString& valor)
{
    if (tipo != 2 && tipo != 3)
        return -1;
    const int base = tipo == 2 ? 16 : 10;
    qsizetype n = 0;
    int v = 0;
    for (; n < valor.size(); ++n) {
        const int d = digitValue(valor.at(n), base);
        if (d < 0)
            break;
        v = v * base + d;
        if (v > 255)
            return -1;
    }
    if (n == 0)
        return -1;
    // What follows the digits is the fill of a decimal: one repeated
    // character that is not a digit. A hexadecimal byte has no fill.
    if (n < valor.size() && tipo == 2)
        return -1;
    for (qsizetype i = n + 1; i < valor.size(); ++i)
        if (valor.at(i) != valor.at(n))
            return -1;
    return v;
}

} // namespace panelbytes
