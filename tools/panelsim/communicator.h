#pragma once
// The simulated IP communicator of the panel: calls the station by sending
// "CONNECT IP" to its datagram port, then answers each request datagram
// (one frame) from the same socket to its sender. After an end request that
// asks for an IP call-back it calls the station again.

#include "panel.h"

#include <QHostAddress>
#include <QObject>

class QTimer;
class QUdpSocket;

namespace panelsim {

class Communicator : public QObject {
    Q_OBJECT
public:
    struct Options {
        QHostAddress bindAddress = QHostAddress(QHostAddress::LocalHost);
        quint16 port = 0;            // own port; 0: any free one
        QHostAddress stationHost = QHostAddress(QHostAddress::LocalHost);
        quint16 stationPort = 5000;  // the station's ip_port
        int callRepeatMs = 0;        // repeat "CONNECT IP" until a request comes; 0: once
        int callBackDelayMs = 2000;
    };

    explicit Communicator(Panel* panel, QObject* parent = nullptr);
    Options options;

    bool open(QString* error = nullptr);
    quint16 localPort() const;
    void callStation();
    // The panel behind the communicator from now on (many-panel mode: the
    // one the modem last reached calls back over IP).
    void usePanel(Panel* panel);

    int calls = 0;          // "CONNECT IP" datagrams sent
    int requests = 0;       // datagrams received

private:
    void onReadyRead();
    void onEnd(Via via, bool callBack, bool overIp);

    Panel* m_panel;
    QMetaObject::Connection m_endConnection;
    QUdpSocket* m_socket;
    QTimer* m_repeat;
};

} // namespace panelsim
