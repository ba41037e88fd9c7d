#include "data/text_rules.h"

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

} // namespace textrules
