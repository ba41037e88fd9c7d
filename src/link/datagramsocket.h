#pragma once
// The datagram socket as the link sees it: bind a local port (on one address,
// or the adapter's own choice), one signal per datagram received (whole, with
// its sender), and sends of one datagram to the remote host and port, which
// the link points at the panel of its session.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class DatagramSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // A null address: the adapter's default (every interface).
    virtual bool bind(const QHostAddress& address, quint16 port) = 0;
    virtual void close() = 0;
    virtual bool isBound() const = 0;
    virtual quint16 localPort() const = 0;

    void setRemoteHost(const QHostAddress& host) { m_host = host; }
    const QHostAddress& remoteHost() const { return m_host; }
    void setRemotePort(quint16 port) { m_port = port; }
    quint16 remotePort() const { return m_port; }

    // Sends one datagram to the remote host and port; false when it could not
    // be handed to the network (not bound, no remote yet).
    virtual bool send(const QByteArray& datagram) = 0;

signals:
    void datagramReceived(const QByteArray& data, const QHostAddress& sender, quint16 senderPort);

private:
    QHostAddress m_host;
    quint16 m_port = 0;
};
