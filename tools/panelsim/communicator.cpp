#include "communicator.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace panelsim {

Communicator::Communicator(Panel* panel, QObject* parent)
    : QObject(parent), m_panel(panel), m_socket(new QUdpSocket(this)), m_repeat(new QTimer(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &Communicator::onReadyRead);
    connect(m_repeat, &QTimer::timeout, this, &Communicator::callStation);
    usePanel(panel);
}

void Communicator::usePanel(Panel* panel)
{
    disconnect(m_endConnection);
    m_panel = panel;
    m_endConnection = connect(m_panel, &Panel::endOfConnection, this, &Communicator::onEnd);
}

bool Communicator::open(QString* error)
{
    if (!m_socket->bind(options.bindAddress, options.port)) {
        if (error)
            *error = m_socket->errorString();
        return false;
    }
    return true;
}

quint16 Communicator::localPort() const
{
    return m_socket->localPort();
}

void Communicator::callStation()
{
    if (m_socket->state() != QAbstractSocket::BoundState)
        return;
    m_panel->beginSession(Via::Ip);
    m_socket->writeDatagram(QByteArrayLiteral("CONNECT IP"), options.stationHost, options.stationPort);
    ++calls;
    if (options.callRepeatMs > 0 && !m_repeat->isActive())
        m_repeat->start(options.callRepeatMs);
}

void Communicator::onReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram();
        if (!d.isValid())
            break;
        ++requests;
        m_repeat->stop();
        const QByteArray data = d.data();
        if (data.size() < 2 || data.front() != ':' || data.back() != '\r') {
            ++m_panel->ignored;
            continue;
        }
        // One frame a datagram, as the real communicator sends them (an
        // answer rewritten by a test may hold two).
        const QByteArray answer = m_panel->handleFrame(data.mid(1, data.size() - 2), Via::Ip);
        qsizetype from = 0;
        while (from < answer.size()) {
            const qsizetype end = answer.indexOf('\r', from);
            const qsizetype next = end < 0 ? answer.size() : end + 1;
            m_socket->writeDatagram(answer.mid(from, next - from), d.senderAddress(), quint16(d.senderPort()));
            from = next;
        }
    }
}

void Communicator::onEnd(Via via, bool callBack, bool overIp)
{
    Q_UNUSED(via);
    if (callBack && overIp)
        QTimer::singleShot(qMax(0, options.callBackDelayMs), this, &Communicator::callStation);
}

} // namespace panelsim
