#include "linkfakes.h"

bool FakeSerialPort::open()
{
    ++opens;
    if (m_open)
        close();
    clearInput();
    m_open = canOpen;
    return m_open;
}

void FakeSerialPort::close()
{
    if (m_open)
        ++closes;
    m_open = false;
    clearInput();
}

void FakeSerialPort::write(const QByteArray& text)
{
    if (!m_open)
        return;
    written += text;
    writes << text;
}

QByteArray FakeSerialPort::takeWritten()
{
    QByteArray w = written;
    written.clear();
    writes.clear();
    return w;
}

bool FakeDatagramSocket::bind(const QHostAddress& address, quint16 port)
{
    binds << port;
    boundAddress = address;
    m_bound = canBind;
    m_port = port;
    return m_bound;
}

bool FakeDatagramSocket::send(const QByteArray& datagram)
{
    if (!m_bound)
        return false;
    sent << Sent{datagram, remoteHost(), remotePort()};
    return true;
}

void FakeDatagramSocket::arrive(const QByteArray& data, quint16 fromPort, const QHostAddress& from)
{
    emit datagramReceived(data, from, fromPort);
}

QByteArray answerFrame(const QList<int>& bytes)
{
    static const char letters[] = "ABCDEFGHIJKLMNOP";
    QByteArray t(":");
    unsigned sum = 0;
    for (int b : bytes) {
        t += letters[(b >> 4) & 15];
        t += letters[b & 15];
        sum += unsigned(b & 0xFF);
    }
    const unsigned ck = (0x100 - (sum & 0xFF)) & 0xFF;
    t += letters[ck >> 4];
    t += letters[ck & 15];
    t += '\r';
    return t;
}

QList<int> requestBytes(const QByteArray& text)
{
    if (text.size() < 6 || text.front() != ':' || text.back() != '\r' || text.size() % 2 != 0)
        return {};
    QList<int> out;
    unsigned sum = 0;
    for (qsizetype i = 1; i + 1 < text.size() - 1; i += 2) {
        const int hi = text.at(i) - 'A', lo = text.at(i + 1) - 'A';
        if (hi < 0 || hi > 15 || lo < 0 || lo > 15)
            return {};
        out << hi * 16 + lo;
        sum += unsigned(out.back());
    }
    if ((sum & 0xFF) != 0)
        return {};
    out.removeLast();
    return out;
}

QList<QByteArray> splitFrames(const QByteArray& written)
{
    QList<QByteArray> frames;
    qsizetype from = written.indexOf(':');
    while (from >= 0) {
        const qsizetype end = written.indexOf('\r', from);
        if (end < 0)
            break;
        frames << written.mid(from, end - from + 1);
        from = written.indexOf(':', end);
    }
    return frames;
}
