#pragma once
// The serial port as the station sees it: a port number, a settings text
// ("4800,N,8,2"), open/close, unchanged writes, and one receive event per
// received character with reads of one character at a time.

#include <QByteArray>
#include <QObject>
#include <QString>

class SerialPort : public QObject {
    Q_OBJECT
public:
    // Event codes delivered by commEvent.
    enum : int {
        EvSend = 1,
        EvReceive = 2,
        ErBreak = 1001,
        ErFrame = 1004,
        ErOverrun = 1006,
        ErRxOver = 1008,
        ErRxParity = 1009,
        ErDevice = 1011,
    };
    static constexpr int InBufferSize = 1024;

    using QObject::QObject;

    void setCommPort(int n) { m_port = n; }
    int commPort() const { return m_port; }
    void setSettings(const QString& s) { m_settings = s; }
    const QString& settings() const { return m_settings; }

    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray& text) = 0;
    virtual QString errorText() const { return {}; }

    // One character from the input buffer (empty when none is waiting).
    QByteArray input();
    int inBufferCount() const { return int(m_in.size()); }
    void clearInput() { m_in.clear(); }
    // Drops everything received so far, also what the device or the system
    // still holds unread.
    virtual void discardInput() { clearInput(); }

signals:
    void commEvent(int code);

protected:
    // Adapters hand received chunks here: each character is queued and gets
    // its own receive event. Characters beyond the buffer size are lost, as
    // on a real port, and reported as an overflow.
    void deliver(const QByteArray& chunk);

private:
    int m_port = 1;
    QString m_settings;
    QByteArray m_in;
};

// Line settings text for a speed: "110,N,8,2".
QString serialSettingsFor(int speed);
