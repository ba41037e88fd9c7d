// The panel's programming memory and event log: memory read and write
// requests, event log requests in both record formats, and their JSON keys
// "programMemory" (hexadecimal text from address 0) and "events".

#include "panel.h"

#include <QJsonArray>

#include <utility>

namespace panelsim {

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm");

// The time stamp of a dated record (parameter bits 8-9 and thousands in
// its low bits). Unsigned: years from 2064 on set the top bit.
quint32 timeStamp(const EventRecord& e)
{
    const int rest = e.parameter % 1000;
    quint32 t = quint32(rest / 256) | quint32((e.parameter / 1000) & 3) << 2;
    const QDate d = e.time.date();
    const QTime h = e.time.time();
    t |= quint32(h.minute()) << 5 | quint32(h.hour()) << 11 | quint32(d.day()) << 16 | quint32(d.month()) << 21 |
         quint32((d.year() - 2000) & 127) << 25;
    return t;
}

} // namespace

QByteArray Panel::memoryRequest(const Request& r)
{
    const int start = r.bytes[4] | r.bytes[5] << 8;
    QByteArray& m = state.programMemory;
    if (r.code == 0) {
        // Addresses past the end are not answered: a short answer.
        QList<int> answer{0};
        for (int a = start; a < start + r.bytes[6] && a < MemorySize; ++a)
            answer << quint8(m.at(a));
        return encode(answer);
    }
    const int end = start + int(r.bytes.size()) - 6;
    const int flaky = state.unstoredAddress;
    const bool covered = flaky < 0 || (flaky >= start && flaky < end);
    const bool drop = state.unstoredWrites > 0 && covered;
    if (drop)
        --state.unstoredWrites;
    // A flaky cell keeps its old byte; without one the whole write is lost.
    for (int a = start; a < end && a < MemorySize; ++a)
        if (!drop || (flaky >= 0 && a != flaky))
            m[a] = char(r.bytes[a - start + 6]);
    emit changed();
    if (state.lateAcks > 0) {
        --state.lateAcks;
        m_heldAck = encode({1});
        m_heldAckTurns = 2;
        return {};
    }
    return encode({1});
}

QByteArray Panel::takeLateAck()
{
    if (m_heldAck.isEmpty() || --m_heldAckTurns > 0)
        return {};
    ++lost;
    emit changed();
    return std::exchange(m_heldAck, {});
}

QByteArray Panel::eventRequest(const Request& r)
{
    const bool dated = r.code == 13;
    QList<int> answer{r.code};
    for (int n = 0; n < state.eventsPerAnswer && !state.eventLog.isEmpty(); ++n) {
        const EventRecord e = state.eventLog.takeFirst();
        if (!dated) {
            answer << (e.event & 0xFF) << (e.parameter & 0xFF);
            continue;
        }
        const quint32 t = timeStamp(e);
        answer << (e.event & 0xFF) << (e.parameter % 1000) % 256;
        for (int i = 0; i < 4; ++i)
            answer << int((t >> (8 * i)) & 0xFF);
    }
    emit changed();
    return encode(answer);
}

void Panel::memoryToJson(QJsonObject& o) const
{
    o[QStringLiteral("programMemory")] = QString::fromLatin1(state.programMemory.toHex().toUpper());
    QJsonArray events;
    for (const EventRecord& e : state.eventLog)
        events.append(QJsonObject{{QStringLiteral("event"), e.event},
                                  {QStringLiteral("parameter"), e.parameter},
                                  {QStringLiteral("time"), e.time.toString(TimeFormat)}});
    o[QStringLiteral("events")] = events;
    o[QStringLiteral("eventsPerAnswer")] = state.eventsPerAnswer;
}

QString Panel::memoryFromJson(const QJsonObject& o, State& s) const
{
    if (o.contains(QStringLiteral("programMemory"))) {
        const QByteArray hex = o.value(QStringLiteral("programMemory")).toString().toLatin1();
        const QByteArray bytes = QByteArray::fromHex(hex);
        if (hex.size() % 2 != 0 || bytes.size() * 2 != hex.size() || bytes.size() > MemorySize)
            return QStringLiteral("programMemory");
        s.programMemory.replace(0, bytes.size(), bytes);
    }
    if (o.contains(QStringLiteral("events"))) {
        QList<EventRecord> log;
        for (const QJsonValue& v : o.value(QStringLiteral("events")).toArray()) {
            const QJsonObject e = v.toObject();
            EventRecord r{e.value(QStringLiteral("event")).toInt(-1), e.value(QStringLiteral("parameter")).toInt(-1),
                          QDateTime::fromString(e.value(QStringLiteral("time")).toString(), TimeFormat)};
            if (r.event < 0 || r.event > 255 || r.parameter < 0 || r.parameter > 3999)
                return QStringLiteral("events");
            if (!r.time.isValid())
                r.time = QDateTime(QDate(2000, 1, 1), QTime(0, 0));
            log << r;
        }
        s.eventLog = log;
    }
    if (o.contains(QStringLiteral("eventsPerAnswer"))) {
        const int n = o.value(QStringLiteral("eventsPerAnswer")).toInt(0);
        if (n < 1 || n > 40)
            return QStringLiteral("eventsPerAnswer");
        s.eventsPerAnswer = n;
    }
    return {};
}

void Panel::faultsToJson(QJsonObject& o) const
{
    o[QStringLiteral("lateAcks")] = state.lateAcks;
    o[QStringLiteral("unstoredWrites")] = state.unstoredWrites;
    o[QStringLiteral("unstoredAddress")] = state.unstoredAddress;
    QJsonArray changes;
    for (const auto& [address, value] : state.nextSessionChanges)
        changes.append(QJsonArray{address, value});
    o[QStringLiteral("nextSessionChanges")] = changes;
    o[QStringLiteral("lost")] = lost;
}

QString Panel::faultsFromJson(const QJsonObject& o, State& s) const
{
    const std::pair<const char*, int*> counts[] = {
        {"lateAcks", &s.lateAcks}, {"unstoredWrites", &s.unstoredWrites}, {"unstoredAddress", &s.unstoredAddress}};
    for (const auto& [key, out] : counts) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            continue;
        const int n = v.toInt(-2);
        if (!v.isDouble() || n < -1 || n >= MemorySize || (n < 0 && out != &s.unstoredAddress))
            return QLatin1String(key);
        *out = n;
    }
    if (o.contains(QStringLiteral("nextSessionChanges"))) {
        QList<QPair<int, int>> changes;
        for (const QJsonValue& v : o.value(QStringLiteral("nextSessionChanges")).toArray()) {
            const QJsonArray pair = v.toArray();
            const int address = pair.at(0).toInt(-1), value = pair.at(1).toInt(-1);
            if (pair.size() != 2 || address < 0 || address >= MemorySize || value < 0 || value > 255)
                return QStringLiteral("nextSessionChanges");
            changes.append({address, value});
        }
        s.nextSessionChanges = changes;
    }
    return {};
}

} // namespace panelsim
