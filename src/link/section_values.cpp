#include "link/section_values.h"

#include <QStringList>

SectionValues sectionValues(const qint16* bytes, const qint16* sections, const qint16* types, int size, int section)
{
    int p = 0;
    while (p < size && sections[p] != section)
        ++p;
    SectionValues items;
    if (p >= size)
        return items;
    const int type = types[p];
    switch (type) {
    case 1:
        for (int n = 1; n <= 8; ++n)
            items.append({n, (bytes[p] >> (n - 1)) & 1 ? QStringLiteral("1") : QStringLiteral("0")});
        break;
    case 2:
    case 3:
        for (int k = 0; p + k < size && sections[p + k] == section; ++k) {
            const int b = bytes[p + k];
            items.append({k + 1, type == 2 ? QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper()
                                           : QStringLiteral("%1").arg(b, 3, 10, QLatin1Char('0'))});
        }
        break;
    case 4: {
        QString v;
        for (int a = p; a < size && sections[a] == section; ++a)
            v += QStringLiteral("%1").arg(int(bytes[a]), 2, 16, QLatin1Char('0')).toUpper();
        items.append({0, v});
        break;
    }
    default:
        break;
    }
    return items;
}

QString joinedValues(const SectionValues& values)
{
    QStringList texts;
    for (const auto& [item, text] : values)
        texts << text;
    return texts.join(QLatin1Char(' '));
}
