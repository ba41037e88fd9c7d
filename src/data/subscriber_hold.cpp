#include "data/subscriber_hold.h"

#include "data/db.h"

#include <utility>

bool DatabaseHoldStore::acquire(qint32 subscriber)
{
    const QSqlDatabase c = m_connection();
    return locks::acquire(c, subscriber, m_operatorName(), db::stationName(c));
}

void DatabaseHoldStore::release(qint32 subscriber)
{
    locks::release(m_connection(), subscriber);
}

std::optional<locks::Holder> DatabaseHoldStore::heldByOther(qint32 subscriber)
{
    return locks::heldByOther(m_connection(), subscriber);
}

bool SubscriberHold::take(qint32 subscriber)
{
    if (subscriber < 1 || m_held == subscriber)
        return true;
    if (!m_store.acquire(subscriber))
        return false;
    m_held = subscriber;
    m_linkSeen = false;
    return true;
}

void SubscriberHold::release()
{
    if (m_held == 0)
        return;
    try {
        m_store.release(m_held);
    } catch (const db::Error& e) {
        qWarning("bloqueo: liberar abonado %d: %s", m_held, qPrintable(e.text()));
    }
    m_held = 0;
    m_linkSeen = false;
}

void SubscriberHold::linkChanged(bool linkIdle)
{
    if (!linkIdle) {
        m_linkSeen = m_held != 0;
        return;
    }
    if (m_linkSeen)
        release();
}

void SubscriberHold::afterDial(bool linkIdle)
{
    if (linkIdle)
        release();
}

bool SubscriberHold::follow(qint32 shown, bool waitingForCall)
{
    if (m_held == 0 || m_held == shown || !waitingForCall)
        return true;
    release();
    if (!take(shown))
        return false;
    m_linkSeen = true; // the link left idle already: its return ends the hold
    return true;
}

SubscriberHold::Reconnected SubscriberHold::afterReconnect(std::optional<locks::Holder>* other)
{
    if (m_held == 0)
        return Reconnected::NothingHeld;
    const qint32 held = std::exchange(m_held, 0);
    try {
        if (m_store.acquire(held)) {
            m_held = held;
            return Reconnected::Kept;
        }
        if (other)
            *other = m_store.heldByOther(held);
    } catch (const db::Error& e) {
        m_held = held;
        qWarning("bloqueo: tras reconectar, abonado %d: %s", held, qPrintable(e.text()));
        return Reconnected::StillLost;
    }
    m_linkSeen = false;
    return Reconnected::TakenByOther;
}
