#include "link/serialport_qt.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

QString serialDeviceFor(int portNumber, const QString& programDir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return QStringLiteral("COM%1").arg(portNumber);
#else
    const QString link = QDir(programDir).filePath(QStringLiteral("COM%1").arg(portNumber));
    QFileInfo fi(link);
    if (fi.exists() || fi.isSymLink())
        return fi.isSymLink() ? fi.symLinkTarget() : link;
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

QtSerialPortAdapter::QtSerialPortAdapter(const QString& programDir, QObject* parent)
    : SerialPort(parent), m_dir(programDir), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &QtSerialPortAdapter::onReadyRead);
    connect(m_port, &QSerialPort::bytesWritten, this, [this] { emit commEvent(EvSend); });
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) { onError(int(e)); });
}

QtSerialPortAdapter::~QtSerialPortAdapter()
{
    close();
}

bool QtSerialPortAdapter::open()
{
    close();
    m_error.clear();
    const QStringList parts = settings().split(QLatin1Char(','));
    bool ok = false;
    const int speed = parts.value(0).toInt(&ok);
    if (!ok || speed <= 0 || commPort() < 1) {
        m_error = QStringLiteral("Parámetros de puerto inválidos");
        return false;
    }
    m_port->setPortName(serialDeviceFor(commPort(), m_dir));
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_error = m_port->errorString();
        return false;
    }
    // Pseudo-terminals and some adapters refuse parts of the line set-up or the
    // modem lines; the port is usable all the same.
    m_port->setBaudRate(speed);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setStopBits(QSerialPort::TwoStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->clearError();
    clearInput();
    return true;
}

void QtSerialPortAdapter::close()
{
    if (m_port->isOpen()) {
        // What was written last (the end frames before a hang-up) must reach
        // the line: QSerialPort drops its unwritten buffer on close.
        m_port->flush();
        m_port->close();
    }
    clearInput();
}

bool QtSerialPortAdapter::isOpen() const
{
    return m_port->isOpen();
}

void QtSerialPortAdapter::write(const QByteArray& text)
{
    if (m_port->isOpen())
        m_port->write(text);
}

void QtSerialPortAdapter::onReadyRead()
{
    deliver(m_port->readAll());
}

void QtSerialPortAdapter::onError(int error)
{
    const auto e = QSerialPort::SerialPortError(error);
    if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError) {
        // The device went away (a USB modem unplugged, the other end of a
        // pseudo-terminal closed): close it so nothing spins on it.
        m_error = m_port->errorString();
        if (m_port->isOpen())
            m_port->close();
        emit commEvent(ErDevice);
    }
}
