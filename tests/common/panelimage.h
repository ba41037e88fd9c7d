#pragma once
// A subscriber's programming values with their sections' layout, and the
// panel memory they stand for, worked out here independently of the link so
// that end-to-end tests can compare the simulator's memory byte by byte.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSqlDatabase>
#include <QString>

namespace panelimage {

// One value row with its section's layout.
struct Row {
    int pos, tipo, lng, section, item;
    QString valor, filler;
};

using Values = QMap<QPair<int, int>, QString>; // (section, item) -> text

constexpr int MemorySize = 5001;

QList<Row> rows(const QSqlDatabase& c, int abonado);
int markedRows(const QSqlDatabase& c, int abonado);

// The panel memory the stored texts stand for (addresses no section covers stay 0).
QByteArray expectedImage(const QList<Row>& rows);
// The texts the station must store when the panel memory is `m`.
Values expectedValues(const QList<Row>& rows, const QByteArray& m);
Values storedValues(const QList<Row>& rows);

} // namespace panelimage
