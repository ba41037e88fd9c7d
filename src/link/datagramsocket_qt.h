#pragma once
// The datagram socket on QUdpSocket.

#include "link/datagramsocket.h"

class QUdpSocket;

class QtUdpSocketAdapter : public DatagramSocket {
    Q_OBJECT
public:
    explicit QtUdpSocketAdapter(QObject* parent = nullptr);
    ~QtUdpSocketAdapter() override;

    // Address bound when the settings name none (every IPv4 interface unless
    // set; tests use loopback).
    void setBindAddress(const QHostAddress& a) { m_bindAddress = a; }

    bool bind(const QHostAddress& address, quint16 port) override;
    void close() override;
    bool isBound() const override;
    quint16 localPort() const override;
    bool send(const QByteArray& datagram) override;
    QString errorText() const { return m_error; }

private:
    void onReadyRead();

    QUdpSocket* m_socket;
    QHostAddress m_bindAddress = QHostAddress(QHostAddress::AnyIPv4);
    QString m_error;
};
