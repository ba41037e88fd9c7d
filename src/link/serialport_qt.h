#pragma once
// The serial port on QSerialPort. Port n is the device named by a link "COMn"
// in the program directory when one exists (a USB modem, a test's
// pseudo-terminal), else /dev/ttyS{n-1}; "COMn" itself on Windows.

#include "link/serialport.h"

#include <QList>

class QSerialPort;

QString serialDeviceFor(int portNumber, const QString& programDir);

// A serial device to pick a port from: its path, what the system says it is,
// and the lowest n whose "COMn" link names it (0: none).
struct SerialDevice {
    QString path;
    QString description;
    int linkedAs = 0;
};
// The system's serial devices, then the devices of "COMn" links in the
// program directory that the system does not list (a pseudo-terminal), each
// once.
QList<SerialDevice> serialDevices(const QString& programDir);
// Makes "COMn" in the program directory name `device`, replacing an older
// link. False, with the reason in `error`, when a file that is no link is in
// the way or the link cannot be made.
bool linkSerialDevice(int portNumber, const QString& device, const QString& programDir, QString* error);
// One path for a device however it is named (a link to it, or itself).
QString samePathOf(const QString& path);

class QtSerialPortAdapter : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPortAdapter(const QString& programDir, QObject* parent = nullptr);
    ~QtSerialPortAdapter() override;

    bool open() override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray& text) override;
    void discardInput() override;
    QString errorText() const override { return m_error; }

private:
    void onReadyRead();
    void onError(int error);

    QString m_dir;
    QSerialPort* m_port;
    QString m_error;
};
