#include "link/link_connection.h"

#include <QRegularExpression>

namespace {

const QByteArray KeyModem = QByteArrayLiteral("CONNECT");
const QByteArray KeyIp = QByteArrayLiteral("CONNECT IP");

// Modem result codes that end a dial at once, and what the operator is told.
struct DialResult {
    const char* code;
    const char* reason;
};
const DialResult DialResults[] = {
    {"BUSY", "Ocupado"},         {"NO DIALTONE", "Sin tono de marcado"}, {"NO DIAL TONE", "Sin tono de marcado"},
    {"NO ANSWER", "No contesta"}, {"NO CARRIER", "Sin portadora"},        {"ERROR", "Error del módem"},
};

} // namespace

const char* LinkConnection::dialFailure(const QByteArray& line)
{
    for (const DialResult& r : DialResults)
        if (line == r.code)
            return r.reason;
    return nullptr;
}

bool LinkConnection::dialConnected() const
{
    return dialText.contains(KeyModem);
}

bool LinkConnection::scanKeyword(const QByteArray& received, QByteArray* rest)
{
    const QByteArray& key = ipMode ? KeyIp : KeyModem;
    receiveBuffer += received;
    const qsizetype at = receiveBuffer.indexOf(key);
    if (at < 0) {
        // Keep only what may be the start of a keyword split across deliveries.
        if (receiveBuffer.size() > key.size())
            receiveBuffer = receiveBuffer.right(key.size());
        return false;
    }
    // What followed the modem's keyword is the rest of its connect line.
    *rest = ipMode ? QByteArray() : receiveBuffer.mid(at + key.size());
    return true;
}

void LinkConnection::startSession()
{
    receiveBuffer.clear();
    rxOverflow = false;
    // Over the modem the rest of the connect line ("CONNECT 2400/ARQ") is
    // the modem's, not the panel's.
    connectLine = !ipMode;
    inFrame = false;
    modemLine.clear();
    lineSpeed = 0;
    endCause = EndCause::Requested;
    answeredSinceConnect = false;
    phase = Phase::Connected;
}

LinkConnection::ModemChar LinkConnection::modemText(char c)
{
    const bool lineEnd = c == '\r' || c == '\n';
    if (connectLine) {
        if (!lineEnd && c != ':') {
            if (modemLine.size() < MaxModemLine)
                modemLine += c;
            return ModemChar::Modem;
        }
        // A modem that ends its line with nothing but the first frame.
        takeConnectLine();
        if (lineEnd)
            return ModemChar::Modem;
    }
    if (c == ':') {
        inFrame = true;
        modemLine.clear();
        return ModemChar::Frame;
    }
    if (inFrame) {
        if (c == '\r')
            inFrame = false;
        return ModemChar::Frame;
    }
    if (!lineEnd) {
        if (modemLine.size() < MaxModemLine)
            modemLine += c;
        return ModemChar::Frame;
    }
    const bool dropped = modemLine.trimmed() == "NO CARRIER";
    modemLine.clear();
    return dropped ? ModemChar::Dropped : ModemChar::Frame;
}

int LinkConnection::takeConnectLine()
{
    // " 2400/ARQ", "2400", or nothing at all.
    const QByteArray rest = modemLine.trimmed();
    modemLine.clear();
    connectLine = false;
    int speed = 0;
    for (const char d : rest) {
        if (d < '0' || d > '9' || speed > 10000000)
            break;
        speed = speed * 10 + (d - '0');
    }
    if (speed > 0)
        lineSpeed = speed;
    return speed;
}

bool LinkConnection::parseAllowedPanels(const QString& text, QList<QPair<QHostAddress, int>>* out, QString* bad)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    QList<QPair<QHostAddress, int>> list;
    for (const QString& entry : text.split(separators, Qt::SkipEmptyParts)) {
        QPair<QHostAddress, int> net;
        if (entry.contains(QLatin1Char('/'))) {
            net = QHostAddress::parseSubnet(entry);
        } else if (net.first.setAddress(entry)) {
            net.second = net.first.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32;
        }
        if (net.first.isNull() || net.second < 0) {
            if (bad)
                *bad = entry;
            return false;
        }
        list << net;
    }
    if (out)
        *out = list;
    return true;
}

QHostAddress LinkConnection::plain(const QHostAddress& a)
{
    bool ok = false;
    const quint32 v4 = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : a;
}

bool LinkConnection::panelAllowed(const QHostAddress& address) const
{
    if (allowedPanels.isEmpty())
        return true;
    const QHostAddress a = plain(address);
    for (const auto& net : allowedPanels)
        if (a.isInSubnet(net.first, net.second))
            return true;
    return false;
}
