#pragma once
// The rules of one station's hold on the subscriber it talks to, apart from
// where holds are kept: a dial or a wait for the panel's call takes the
// subscriber, the link's return to idle gives it back, a wait follows the
// subscriber on show, and after the server connection was lost the hold is
// taken again or, when another station took the subscriber meanwhile, the
// call must end. The console uses it with the lock table; a test with a
// store of its own.

#include "data/lock_store.h"

#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

// Where holds are kept. Each function may throw db::Error.
class HoldStore {
public:
    virtual ~HoldStore() = default;
    // False when another station holds it.
    virtual bool acquire(qint32 subscriber) = 0;
    virtual void release(qint32 subscriber) = 0;
    virtual std::optional<locks::Holder> heldByOther(qint32 subscriber) = 0;
};

// The lock table of the station's database, in the operator's name.
class DatabaseHoldStore : public HoldStore {
public:
    DatabaseHoldStore(std::function<QSqlDatabase()> connection, std::function<QString()> operatorName)
        : m_connection(std::move(connection)), m_operatorName(std::move(operatorName))
    {
    }
    bool acquire(qint32 subscriber) override;
    void release(qint32 subscriber) override;
    std::optional<locks::Holder> heldByOther(qint32 subscriber) override;

private:
    std::function<QSqlDatabase()> m_connection;
    std::function<QString()> m_operatorName;
};

class SubscriberHold {
public:
    explicit SubscriberHold(HoldStore& store) : m_store(store) {}

    // The subscriber held here, 0 when none.
    qint32 held() const { return m_held; }
    // Takes `subscriber` (nothing to do when it is held here already, or is
    // no subscriber). False when another station holds it. Throws db::Error.
    bool take(qint32 subscriber);
    // Gives the hold back; a store failure is only a warning (the server
    // frees it with the session all the same).
    void release();
    // Called whenever the link's state may have changed. The dial may begin
    // a moment after the click: the hold ends when the link, having left
    // idle, is idle again.
    void linkChanged(bool linkIdle);
    // After a dial click: when no dial is under way (refused, or failed at
    // once) there is nothing to hold.
    void afterDial(bool linkIdle);
    // A wait for the panel's call is for the subscriber on show: when another
    // one is shown the hold moves to it (a dial keeps its own). False when
    // another station holds the new one (the hold is then gone). Throws
    // db::Error.
    bool follow(qint32 shown, bool waitingForCall);

    // The server connection came back: it let go of the hold with the
    // session it lost.
    enum class Reconnected {
        NothingHeld,
        Kept,         // taken again
        TakenByOther, // another station took it meanwhile: the call must end
        StillLost,    // the store failed again: the next reconnection tries once more
    };
    Reconnected afterReconnect(std::optional<locks::Holder>* other = nullptr);

private:
    HoldStore& m_store;
    qint32 m_held = 0;
    bool m_linkSeen = false; // the link left idle since the hold was taken
};
