#pragma once
// Fake devices and console for deterministic tests of the panel link: a
// serial port and a datagram socket that record what the link does and let
// the test deliver what a modem or a panel would send, and a console with
// plain fields.

#include "link/datagramsocket.h"
#include "link/link_subscriber.h"
#include "link/linkconsole.h"
#include "link/panel_link.h"
#include "link/serialport.h"

#include <QDateTime>
#include <functional>
#include <QList>
#include <QStringList>

class FakeSerialPort : public SerialPort {
    Q_OBJECT
public:
    using SerialPort::SerialPort;
    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void write(const QByteArray& text) override;

    // What a modem or a panel sends, one receive event per character.
    void receive(const QByteArray& text) { deliver(text); }
    // Everything written since the last take, and clears it.
    QByteArray takeWritten();

    bool canOpen = true;
    int opens = 0;
    int closes = 0;
    QByteArray written;
    QList<QByteArray> writes; // one entry per write call

private:
    bool m_open = false;
};

class FakeDatagramSocket : public DatagramSocket {
    Q_OBJECT
public:
    using DatagramSocket::DatagramSocket;
    bool bind(const QHostAddress& address, quint16 port) override;
    void close() override { m_bound = false; }
    bool isBound() const override { return m_bound; }
    quint16 localPort() const override { return m_bound ? m_port : 0; }
    bool send(const QByteArray& datagram) override;

    // A datagram from the panel's communicator.
    void arrive(const QByteArray& data, quint16 fromPort = 40000,
                const QHostAddress& from = QHostAddress(QHostAddress::LocalHost));

    bool canBind = true;
    QList<quint16> binds;
    QHostAddress boundAddress;
    struct Sent {
        QByteArray data;
        QHostAddress host;
        quint16 port;
    };
    QList<Sent> sent;

private:
    bool m_bound = false;
    quint16 m_port = 0;
};

class FakeConsole : public LinkConsole {
public:
    static LinkSubscriber demoSubscriber()
    {
        LinkSubscriber s;
        s.number = s.model = 1;
        s.accessCode = QStringLiteral("1234");
        s.protocolCode = QStringLiteral("1");
        return s;
    }
    int armingModeIndex() const override { return armingMode; }
    bool restrictedCodeChecked() const override { return restrictedChecked; }
    QString restrictedCode() const override { return restricted; }
    QString telephone() const override { return phone; }
    // As the console does: the subscriber shown goes back to the link.
    void sessionStarted(qint32 id) override
    {
        shownSubscribers << id;
        if (link)
            link->setSubscriber(subscriber);
    }
    void showSections() override { ++sectionRefreshes; }
    void showEvents() override { ++eventRefreshes; }
    void connectionFailed() override { ++failedConnections; }
    void uploadChecked(const QString& outcome, bool stopped) override { checks << outcome + (stopped ? "!" : ""); }
    void comparisonDone() override { ++comparisons; }

    // The subscriber this console shows (the demo's first), and the link it
    // hands it to when a session starts.
    LinkSubscriber subscriber = demoSubscriber();
    PanelLink* link = nullptr;
    int armingMode = 0;
    bool restrictedChecked = false;
    QString restricted;
    QString phone = QStringLiteral("5550101");
    QList<qint32> shownSubscribers;
    int sectionRefreshes = 0;
    int eventRefreshes = 0;
    int failedConnections = 0;
    QStringList checks; // read-back outcomes; "!" when the upload stopped
    int comparisons = 0;
};

// A settable clock for PanelLink::setClock.
struct FakeClock {
    QDateTime t = QDateTime(QDate(2024, 8, 15), QTime(20, 25, 0));
    std::function<QDateTime()> fn() { return [this] { return t; }; }
};

// Answer frame text (":" pairs checksum CR) for the given bytes, written
// independently of the station's encoder.
QByteArray answerFrame(const QList<int>& bytes);
// The bytes of a request text written by the station (checksum excluded);
// empty when the text is not one well-formed frame.
QList<int> requestBytes(const QByteArray& text);
// Splits what the station wrote into its frames.
QList<QByteArray> splitFrames(const QByteArray& written);
