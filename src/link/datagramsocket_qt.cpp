#include "link/datagramsocket_qt.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

QtUdpSocketAdapter::QtUdpSocketAdapter(QObject* parent) : DatagramSocket(parent), m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &QtUdpSocketAdapter::onReadyRead);
}

QtUdpSocketAdapter::~QtUdpSocketAdapter()
{
    close();
}

bool QtUdpSocketAdapter::bind(const QHostAddress& address, quint16 port)
{
    close();
    m_error.clear();
    if (!m_socket->bind(address.isNull() ? m_bindAddress : address, port)) {
        m_error = m_socket->errorString();
        return false;
    }
    return true;
}

void QtUdpSocketAdapter::close()
{
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->close();
}

bool QtUdpSocketAdapter::isBound() const
{
    return m_socket->state() == QAbstractSocket::BoundState;
}

quint16 QtUdpSocketAdapter::localPort() const
{
    return m_socket->localPort();
}

bool QtUdpSocketAdapter::send(const QByteArray& datagram)
{
    if (!isBound() || remotePort() == 0 || remoteHost().isNull())
        return false;
    return m_socket->writeDatagram(datagram, remoteHost(), remotePort()) == datagram.size();
}

void QtUdpSocketAdapter::onReadyRead()
{
    // Every pending datagram must be taken here, or arrivals stop being
    // signalled. A handler may close the socket meanwhile.
    while (m_socket->state() == QAbstractSocket::BoundState && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram();
        if (!d.isValid())
            break;
        emit datagramReceived(d.data(), d.senderAddress(), quint16(d.senderPort()));
    }
}
