#pragma once
// Lists ordered by a text column read as Spanish: accented letters sit beside
// their base letter (ÁLVAREZ before BENÍTEZ), as the original engine ordered
// them, and not after Z as a byte comparison would. Numbers inside the texts
// compare as numbers ("9" before "10", "0002" before "10").

#include <QList>
#include <QString>
#include <Qt>
#include <functional>

// The stable order of `rows` rows by `parts` keys each (first key, then the
// next ...): element i of the result is the index of the i-th row. Rows alike
// in every key keep their order, descending too.
QList<int> spanishOrder(int rows, int parts, const std::function<QString(int row, int part)>& key,
                        Qt::SortOrder order = Qt::AscendingOrder);
