#pragma once
// The serial port on QSerialPort. Port n is the device named by a link "COMn"
// in the program directory when one exists (a USB modem, a test's
// pseudo-terminal), else /dev/ttyS{n-1}; "COMn" itself on Windows.

#include "link/serialport.h"

class QSerialPort;

QString serialDeviceFor(int portNumber, const QString& programDir);

class QtSerialPortAdapter : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPortAdapter(const QString& programDir, QObject* parent = nullptr);
    ~QtSerialPortAdapter() override;

    bool open() override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray& text) override;
    QString errorText() const override { return m_error; }

private:
    void onReadyRead();
    void onError(int error);

    QString m_dir;
    QSerialPort* m_port;
    QString m_error;
};
