#pragma once
// A subscriber's events read from the panel, with their texts for the event's
// model and kind, newest first, a page at a time: the console lists them
// without reading a long history whole.

#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace events {

struct Row {
    qint64 orden = 0;
    QString fecha;       // as stored: "yyyy-MM-dd HH:mm:ss"
    int id_evento = 0;
    QString descripcion; // null when the model has no text for the code
    int parametro = 0;
    QString cadena;      // protocol code of the event's panel model
};

// Up to `limit` events of `abonado` stored before `beforeOrden` (every one
// when it is 0), newest first. Throws db::Error.
QList<Row> page(const QSqlDatabase& c, qint32 abonado, qint64 beforeOrden, int limit);

// How many events of `abonado` are dated up to `until` (stored format), and
// their removal, in a transaction of its own. Throw db::Error.
int countUntil(const QSqlDatabase& c, qint32 abonado, const QString& until);
void removeUntil(const QSqlDatabase& c, qint32 abonado, const QString& until);

} // namespace events
