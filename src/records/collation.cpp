#include "records/collation.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <algorithm>
#include <numeric>

QList<int> spanishOrder(int rows, int parts, const std::function<QString(int row, int part)>& key,
                        Qt::SortOrder order)
{
    QList<int> result(rows);
    std::iota(result.begin(), result.end(), 0);
    if (parts <= 0)
        return result;
    QCollator collator(QLocale(QLocale::Spanish, QLocale::Argentina));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    // Sort keys are made once per text; comparing them is cheap, which
    // matters for lists of tens of thousands of subscribers.
    QList<QCollatorSortKey> keys;
    keys.reserve(qsizetype(rows) * parts);
    for (int r = 0; r < rows; ++r)
        for (int p = 0; p < parts; ++p)
            keys.append(collator.sortKey(key(r, p)));
    const int sign = order == Qt::AscendingOrder ? 1 : -1;
    std::stable_sort(result.begin(), result.end(), [&keys, parts, sign](int a, int b) {
        for (int p = 0; p < parts; ++p) {
            const int c = keys.at(qsizetype(a) * parts + p).compare(keys.at(qsizetype(b) * parts + p));
            if (c != 0)
                return sign * c < 0;
        }
        return false;
    });
    return result;
}
