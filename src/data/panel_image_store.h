#pragma once
// The last panel image the station knows to be true, per subscriber: bytes
// read from the panel or verified after a write, with the date of the last
// change. "Subir cambios" sends only what differs from it. Throws db::Error.

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace panel_image {

constexpr int Size = 5001; // panel addresses 0-5000

struct Known {
    QByteArray memoria;  // Size bytes
    QByteArray conocida; // Size bytes: 1 where memoria holds a known byte
    QString fecha;
};

// Nothing when the subscriber has no known image.
std::optional<Known> read(const QSqlDatabase& c, int abonado);
// Takes the bytes of `memoria` where `known` is 1 into the subscriber's
// image (the rest stays as it was), in one transaction.
void merge(const QSqlDatabase& c, int abonado, const QByteArray& memoria, const QByteArray& known);

} // namespace panel_image
