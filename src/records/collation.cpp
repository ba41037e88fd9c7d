#include "records/collation.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <algorithm>
#include <numeric>

QList<int> spanishOrder(const QList<QStringList>& rows)
{
    QCollator collator(QLocale(QLocale::Spanish, QLocale::Argentina));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Sort keys are computed once per text; comparing them is cheap, which
    // matters for lists of tens of thousands of subscribers.
    QList<QList<QCollatorSortKey>> keys;
    keys.reserve(rows.size());
    for (const QStringList& r : rows) {
        QList<QCollatorSortKey> k;
        k.reserve(r.size());
        for (const QString& s : r)
            k.append(collator.sortKey(s));
        keys.append(std::move(k));
    }
    QList<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](int a, int b) {
        const auto& ka = keys.at(a);
        const auto& kb = keys.at(b);
        for (qsizetype i = 0; i < std::min(ka.size(), kb.size()); ++i) {
            const int c = ka.at(i).compare(kb.at(i));
            if (c != 0)
                return c < 0;
        }
        return ka.size() < kb.size();
    });
    return order;
}
