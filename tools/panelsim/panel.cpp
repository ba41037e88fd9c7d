#include "panel.h"

#include <QJsonArray>
#include <type_traits>
#include <utility>

namespace panelsim {

namespace {

// Bytes of each request, header included (the checksum is not counted).
int minimumLength(int code)
{
    switch (code) {
    case 0: return 7;
    case 1: return 7;
    case 2: case 4: case 10: case 11: case 12: return 4;
    case 3: case 5: case 6: case 9: case 13: case 15: return 5;
    case 7: return 6;
    case 8: return 9;
    default: return -1;
    }
}

QJsonArray bitsToList(unsigned bits, int count)
{
    QJsonArray a;
    for (int i = 0; i < count; ++i)
        if (bits & (1u << i))
            a.append(i + 1);
    return a;
}

bool listToBits(const QJsonValue& v, int count, unsigned& bits)
{
    if (!v.isArray())
        return false;
    unsigned out = 0;
    for (const QJsonValue& e : v.toArray()) {
        const int n = e.toInt(-1);
        if (n < 1 || n > count)
            return false;
        out |= 1u << (n - 1);
    }
    bits = out;
    return true;
}

} // namespace

Panel::Panel(QObject* parent) : QObject(parent), hostClock([] { return QDateTime::currentDateTime(); })
{
    placeAccessCode(state);
}

int Panel::accessCodeAddress(int panelCode)
{
    // Where the demo catalogue's models keep section 040, "Código de Acceso
    // PC": PX-16 (code 1) from address 0, NX-16 (code 2) from 16.
    switch (panelCode) {
    case 1: return 224;
    case 2: return 240;
    default: return -1;
    }
}

void Panel::placeAccessCode(State& s)
{
    // A real panel's access code is a part of its programming: a download
    // must read the code the panel answers to.
    const int a = accessCodeAddress(s.panelCode);
    bool ok = false;
    const int code = s.accessCode.toInt(&ok, 16);
    if (a < 0 || !ok || s.accessCode.size() != 4)
        return;
    s.programMemory[a] = char(code >> 8);
    s.programMemory[a + 1] = char(code & 0xFF);
}

QDateTime Panel::clock() const
{
    return hostClock().addSecs(state.clockOffsetSecs);
}

void Panel::setClock(const QDateTime& t)
{
    state.clockOffsetSecs = hostClock().secsTo(t);
}

int Panel::requestsOf(int code) const
{
    int n = 0;
    for (const Request& r : received)
        n += r.code == code;
    return n;
}

void Panel::beginSession(Via via)
{
    Q_UNUSED(via);
    m_sessionRequests = 0;
    m_heldAck.clear();
    for (const auto& [address, value] : std::exchange(state.nextSessionChanges, {}))
        state.programMemory[address] = char(value);
    emit changed();
}

QByteArray Panel::encode(const QList<int>& bytes)
{
    QByteArray t(":");
    int sum = 0;
    auto put = [&t](int b) {
        t += char('A' + (b >> 4));
        t += char('A' + (b & 15));
    };
    for (int b : bytes) {
        put(b & 0xFF);
        sum += b & 0xFF;
    }
    put((0x100 - (sum & 0xFF)) & 0xFF);
    t += '\r';
    return t;
}

QByteArray Panel::handleFrame(const QByteArray& text, Via via)
{
    auto drop = [this] {
        ++ignored;
        emit changed();
        return QByteArray();
    };
    if (text.size() % 2 != 0 || text.size() < 10 || text.size() > 512)
        return drop();
    Request r;
    r.via = via;
    int sum = 0;
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int hi = text.at(i) - 'A', lo = text.at(i + 1) - 'A';
        if (hi < 0 || hi > 15 || lo < 0 || lo > 15)
            return drop();
        r.bytes << hi * 16 + lo;
        sum += r.bytes.back();
    }
    if (sum % 256 != 0)
        return drop();
    r.bytes.removeLast();
    bool ok = false;
    const int code = state.accessCode.toInt(&ok, 16);
    if (!ok || state.accessCode.size() != 4 || r.bytes[0] != code >> 8 || r.bytes[1] != (code & 0xFF))
        return drop();
    if (r.bytes[2] != state.panelCode)
        return drop();
    r.code = r.bytes[3];
    if (minimumLength(r.code) < 0 || r.bytes.size() < minimumLength(r.code))
        return drop();
    if (QByteArray late = takeLateAck(); !late.isEmpty())
        return late;
    received << r;
    ++m_sessionRequests;

    QByteArray answer;
    switch (r.code) {
    case 0:
    case 1:
        answer = memoryRequest(r);
        break;
    case 2:
        answer = statusAnswer(false);
        break;
    case 12:
        answer = statusAnswer(true);
        break;
    case 3:
        state.armed = true;
        state.armMode = r.bytes[4];
        answer = statusAnswer(false);
        break;
    case 4:
        state.armed = false;
        state.siren = false;
        answer = statusAnswer(false);
        break;
    case 5: {
        // The station hangs up after this; it asks for a call-back when the
        // end is the first request of the connection (or by its IP flag).
        const bool overIp = r.bytes[4] == 1;
        const bool callBack = state.callBack && (overIp || m_sessionRequests == 1);
        emit changed();
        emit endOfConnection(via, callBack, overIp);
        return {};
    }
    case 6:
    case 13:
        answer = eventRequest(r);
        break;
    case 7:
        state.bypassed = quint16(r.bytes[4] | (r.bytes[5] << 8));
        answer = statusAnswer(false);
        break;
    case 8: {
        // Like every command, answered with a status.
        const QDateTime t(QDate(2000 + r.bytes[8], r.bytes[7], r.bytes[6]), QTime(r.bytes[5], r.bytes[4]));
        if (t.isValid())
            setClock(t);
        answer = statusAnswer(false);
        break;
    }
    case 9:
        state.pgm = quint8(r.bytes[4]);
        answer = statusAnswer(false);
        break;
    case 10:
        answer = clockAnswer();
        break;
    case 11:
        state.siren = true;
        answer = statusAnswer(false);
        break;
    case 15:
        state.partition = r.bytes[4] & 3;
        answer = statusAnswer(false);
        break;
    }
    emit changed();
    return rewrite ? rewrite(r, answer) : answer;
}

QByteArray Panel::statusAnswer(bool faultVariant) const
{
    const State& s = state;
    const bool ready = !s.armed && (s.zonesOpen & ~s.bypassed) == 0;
    const int flags7 = (s.armed ? 0x01 : 0) | (s.exitDelay ? 0x08 : 0) | (s.entryDelay ? 0x10 : 0) | (s.siren ? 0x20 : 0);
    const int flags8 = (s.autoArm ? 0x04 : 0) | (ready ? 0x08 : 0) | (s.systemLamp ? 0x10 : 0) | (s.faults ? 0x20 : 0) |
                       (s.pgm & 1 ? 0x40 : 0) | (s.pgm & 2 ? 0x80 : 0);
    QList<int> b;
    if (faultVariant)
        b << 12 << s.faults << 0;
    else
        b << 2 << (s.zonesOpen & 0xFF) << (s.zonesOpen >> 8);
    b << (s.bypassed & 0xFF) << (s.bypassed >> 8) << (s.alarmMemory & 0xFF) << (s.alarmMemory >> 8) << flags7 << flags8;
    if (s.extensionBytes)
        b << (s.partition & 3) << (0x40 | ((s.pgm >> 2) & 0x3F));
    return encode(b);
}

QByteArray Panel::clockAnswer() const
{
    const QDateTime t = clock();
    return encode({10, t.time().minute(), t.time().hour(), t.date().day(), t.date().month(), t.date().year() % 100});
}

QJsonObject Panel::toJson() const
{
    const State& s = state;
    QJsonObject o;
    o[QStringLiteral("accessCode")] = s.accessCode;
    o[QStringLiteral("panelCode")] = s.panelCode;
    o[QStringLiteral("zonesOpen")] = bitsToList(s.zonesOpen, 16);
    o[QStringLiteral("bypassed")] = bitsToList(s.bypassed, 16);
    o[QStringLiteral("alarmMemory")] = bitsToList(s.alarmMemory, 16);
    o[QStringLiteral("faults")] = bitsToList(s.faults, 8);
    o[QStringLiteral("armed")] = s.armed;
    o[QStringLiteral("armMode")] = s.armMode;
    o[QStringLiteral("siren")] = s.siren;
    o[QStringLiteral("entryDelay")] = s.entryDelay;
    o[QStringLiteral("exitDelay")] = s.exitDelay;
    o[QStringLiteral("autoArm")] = s.autoArm;
    o[QStringLiteral("systemLamp")] = s.systemLamp;
    o[QStringLiteral("partition")] = s.partition;
    o[QStringLiteral("pgm")] = bitsToList(s.pgm, 8);
    o[QStringLiteral("extensionBytes")] = s.extensionBytes;
    o[QStringLiteral("callBack")] = s.callBack;
    o[QStringLiteral("clock")] = clock().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QJsonArray reqs;
    for (const Request& r : received) {
        QJsonArray bytes;
        for (int b : r.bytes)
            bytes.append(b);
        reqs.append(QJsonObject{{QStringLiteral("code"), r.code},
                                {QStringLiteral("via"), r.via == Via::Ip ? QStringLiteral("ip") : QStringLiteral("modem")},
                                {QStringLiteral("bytes"), bytes}});
    }
    o[QStringLiteral("received")] = reqs;
    o[QStringLiteral("ignored")] = ignored;
    memoryToJson(o);
    faultsToJson(o);
    return o;
}

bool Panel::fromJson(const QJsonObject& o, QString* error)
{
    State s = state;
    QString bad;
    auto boolean = [&](const char* key, bool& out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return;
        if (!v.isBool())
            bad = QString::fromLatin1(key);
        else
            out = v.toBool();
    };
    auto integer = [&](const char* key, int& out, int lo, int hi) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return;
        const int n = v.toInt(lo - 1);
        if (!v.isDouble() || n < lo || n > hi)
            bad = QString::fromLatin1(key);
        else
            out = n;
    };
    auto bits = [&](const char* key, auto& out, int count) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return;
        unsigned b = 0;
        if (!listToBits(v, count, b))
            bad = QString::fromLatin1(key);
        else
            out = static_cast<std::remove_reference_t<decltype(out)>>(b);
    };
    if (o.contains(QStringLiteral("accessCode"))) {
        const QString c = o.value(QStringLiteral("accessCode")).toString();
        bool ok = false;
        c.toInt(&ok, 16);
        if (c.size() != 4 || !ok)
            bad = QStringLiteral("accessCode");
        else
            s.accessCode = c.toUpper();
    }
    integer("panelCode", s.panelCode, 0, 255);
    bits("zonesOpen", s.zonesOpen, 16);
    bits("bypassed", s.bypassed, 16);
    bits("alarmMemory", s.alarmMemory, 16);
    bits("faults", s.faults, 8);
    boolean("armed", s.armed);
    integer("armMode", s.armMode, -1, 3);
    boolean("siren", s.siren);
    boolean("entryDelay", s.entryDelay);
    boolean("exitDelay", s.exitDelay);
    boolean("autoArm", s.autoArm);
    boolean("systemLamp", s.systemLamp);
    integer("partition", s.partition, 0, 3);
    bits("pgm", s.pgm, 8);
    boolean("extensionBytes", s.extensionBytes);
    boolean("callBack", s.callBack);
    qint64 offset = s.clockOffsetSecs;
    if (o.contains(QStringLiteral("clock"))) {
        const QDateTime t = QDateTime::fromString(o.value(QStringLiteral("clock")).toString(),
                                                  QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!t.isValid())
            bad = QStringLiteral("clock");
        else
            offset = hostClock().secsTo(t);
    }
    if (bad.isEmpty())
        bad = memoryFromJson(o, s);
    if (bad.isEmpty())
        bad = faultsFromJson(o, s);
    if (!bad.isEmpty()) {
        if (error)
            *error = QStringLiteral("valor inválido para \"%1\"").arg(bad);
        return false;
    }
    s.clockOffsetSecs = offset;
    // Another model is another panel: it starts with a memory of its own.
    if (s.panelCode != state.panelCode && !o.contains(QStringLiteral("programMemory")))
        s.programMemory.fill('\0');
    if (o.contains(QStringLiteral("accessCode")) || o.contains(QStringLiteral("panelCode")) ||
        o.contains(QStringLiteral("programMemory")))
        placeAccessCode(s);
    state = s;
    emit changed();
    return true;
}

} // namespace panelsim
