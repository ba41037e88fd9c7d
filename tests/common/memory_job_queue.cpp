#include "memory_job_queue.h"

using namespace jobs;

qint64 MemoryJobQueue::add(qint32 subscriber, const QList<Action>& actions, const QDateTime& due, Reach reach)
{
    Entry e;
    e.item.item = entries.size() + 1;
    e.item.job = 1;
    e.item.subscriber = subscriber;
    e.item.actions = actions;
    e.item.reach = reach;
    e.due = due;
    entries << e;
    return e.item.item;
}

int MemoryJobQueue::open() const
{
    int n = 0;
    for (const Entry& e : entries)
        n += e.closed ? 0 : 1;
    return n;
}

QList<Outcome> MemoryJobQueue::outcomesOf(qint32 subscriber) const
{
    QList<Outcome> out;
    for (const Try& t : results)
        if (t.item.subscriber == subscriber)
            out << t.result.outcome;
    return out;
}

void MemoryJobQueue::check() const
{
    if (failure)
        throw *failure;
}

MemoryJobQueue::Entry* MemoryJobQueue::entry(qint64 item)
{
    for (Entry& e : entries)
        if (e.item.item == item)
            return &e;
    return nullptr;
}

std::optional<JobItem> MemoryJobQueue::claimNext(const QDateTime& now)
{
    check();
    Entry* best = nullptr;
    for (Entry& e : entries)
        if (!e.closed && !e.claimed && e.due <= now && (!best || e.due < best->due))
            best = &e;
    if (!best)
        return std::nullopt;
    best->claimed = true;
    ++claims;
    return best->item;
}

void MemoryJobQueue::record(const JobItem& item, const ItemResult& result)
{
    check();
    Entry* e = entry(item.item);
    if (!e || !e->claimed)
        throw db::Error(QStringLiteral("resultado de un elemento no reclamado"));
    results << Try{item, result};
    e->claimed = false;
    if (result.outcome == Outcome::Done || result.outcome == Outcome::SubscriberGone || e->item.attempt >= tries) {
        e->closed = true;
        return;
    }
    ++e->item.attempt;
    e->due = result.end.addSecs(60 * retryMinutes);
}

void MemoryJobQueue::release(const JobItem& item, const QDateTime& notBefore)
{
    check();
    if (Entry* e = entry(item.item)) {
        e->claimed = false;
        e->due = qMax(e->due, notBefore);
    }
}

std::optional<QDateTime> MemoryJobQueue::nextDue()
{
    check();
    std::optional<QDateTime> due;
    for (const Entry& e : entries)
        if (!e.closed && !e.claimed && (!due || e.due < *due))
            due = e.due;
    return due;
}

bool MemoryHoldStore::acquire(qint32 subscriber)
{
    if (others.contains(subscriber))
        return false;
    mine << subscriber;
    return true;
}

void MemoryHoldStore::release(qint32 subscriber)
{
    mine.removeAll(subscriber);
}

std::optional<locks::Holder> MemoryHoldStore::heldByOther(qint32 subscriber)
{
    if (!others.contains(subscriber))
        return std::nullopt;
    return others.value(subscriber);
}
