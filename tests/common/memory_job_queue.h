#pragma once
// A job queue kept in memory, with the contract of the database one: items
// due at a time, claimed by one runner until recorded or released, every
// try's result kept, and a simple retry rule (a number of tries, a wait
// between them). Tests read what the runner recorded from it.

#include "data/db.h"
#include "data/job_queue.h"
#include "data/subscriber_hold.h"

#include <QHash>
#include <QList>
#include <functional>

class MemoryJobQueue : public jobs::JobQueue {
public:
    struct Entry {
        jobs::JobItem item;
        QDateTime due;
        bool claimed = false;
        bool closed = false; // done, or failed after its last try
    };
    struct Try {
        jobs::JobItem item;
        jobs::ItemResult result;
    };

    int tries = 3;          // tries of an item before it fails for good
    int retryMinutes = 10;  // wait after a failed try
    QList<Entry> entries;
    QList<Try> results;
    // Each call throws this when set (a lost server, a full disk).
    std::optional<db::Error> failure;
    int claims = 0;

    // Adds an item for `subscriber`, due at `due`; returns its number.
    qint64 add(qint32 subscriber, const QList<jobs::Action>& actions, const QDateTime& due,
               jobs::Reach reach = jobs::Reach::Dial);
    // Items neither done nor failed for good.
    int open() const;
    QList<jobs::Outcome> outcomesOf(qint32 subscriber) const;

    std::optional<jobs::JobItem> claimNext(const QDateTime& now) override;
    void record(const jobs::JobItem& item, const jobs::ItemResult& result) override;
    void release(const jobs::JobItem& item, const QDateTime& notBefore) override;
    std::optional<QDateTime> nextDue() override;

private:
    Entry* entry(qint64 item);
    void check() const;
};

// Holds kept in memory: `others` are held by another station's console.
class MemoryHoldStore : public HoldStore {
public:
    QHash<qint32, locks::Holder> others;
    QList<qint32> mine;
    bool acquire(qint32 subscriber) override;
    void release(qint32 subscriber) override;
    std::optional<locks::Holder> heldByOther(qint32 subscriber) override;
};
