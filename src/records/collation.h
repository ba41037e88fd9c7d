#pragma once
// Lists ordered by a text column read as Spanish: accented letters sit beside
// their base letter (ÁLVAREZ before BENÍTEZ), as the original engine ordered
// them, and not after Z as a byte comparison would.

#include <QList>
#include <QStringList>

// The stable order of `rows` by their keys (first key, then the next ...):
// element i of the result is the index of the i-th row.
QList<int> spanishOrder(const QList<QStringList>& rows);
