#pragma once
// Subscriber locks between stations sharing a server: the station whose
// console connects a subscriber's panel holds it; the others may look but
// not dial, transfer, mark or save values. On a file there is one station:
// every lock is granted and nobody else holds one.

#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace locks {

struct Holder {
    QString operador, estacion, desde; // desde: stored date text
    // "En uso por OPERADOR en ESTACION desde HH:MM"; "En uso en otra
    // estación" for a hold whose row is not written yet.
    QString text() const;
};

// Takes the subscriber for this connection's session; false when another
// station holds it. Throws db::Error.
bool acquire(const QSqlDatabase& c, int abonado, const QString& operador, const QString& estacion);
// Gives it back (nothing when not held here).
void release(const QSqlDatabase& c, int abonado);
// Who else holds it; nothing when free or held by this session. A holder
// whose session ended (the station died or lost the network) holds nothing.
std::optional<Holder> heldByOther(const QSqlDatabase& c, int abonado);
// As heldByOther, inside the caller's transaction of a change to the
// subscriber's values: when nobody else holds it, no other station can take
// it until that transaction ends, so the change never goes in under another
// station's connection.
std::optional<Holder> heldByOtherUntilCommit(const QSqlDatabase& c, int abonado);

} // namespace locks
