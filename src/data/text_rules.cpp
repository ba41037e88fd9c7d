#include "data/text_rules.h"

#include <algorithm>

namespace textrules {

QString searchKey(const QString& s)
{
    const QString decomposed = s.toCaseFolded().normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        const QChar c = decomposed.at(i);
        const bool enye = c.unicode() == 0x0303 && i > 0 && decomposed.at(i - 1) == QLatin1Char('n');
        if (c.category() == QChar::Mark_NonSpacing && !enye)
            continue;
        out += c;
    }
    return out.normalized(QString::NormalizationForm_C);
}

namespace {

bool reorders(char16_t u)
{
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString withoutControls(const QString& s, bool multiLine)
{
    // Most texts hold nothing to remove: handed back as they are, without
    // a copy (a catalogue merge passes hundreds of thousands).
    const auto removes = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F) || reorders(u);
    };
    if (!s.isEmpty() && std::none_of(s.cbegin(), s.cend(), removes))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s.at(i).unicode();
        if (multiLine && (u == u'\n' || u == u'\r')) {
            // One line break however it was written (CR LF, CR or LF).
            if (u == u'\r' && i + 1 < s.size() && s.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1Char('\n');
            continue;
        }
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || reorders(u))
            continue;
        out += s.at(i);
    }
    return out;
}

} // namespace textrules
