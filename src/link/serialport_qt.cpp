#include "link/serialport_qt.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>

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

QString samePathOf(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QList<SerialDevice> serialDevices(const QString& programDir)
{
    QList<SerialDevice> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QStringList about;
        if (!info.description().isEmpty())
            about << info.description();
        if (!info.manufacturer().isEmpty() && !info.description().contains(info.manufacturer()))
            about << info.manufacturer();
        out.append({info.systemLocation(), about.join(QStringLiteral(", ")), 0});
    }
#ifndef Q_OS_WIN
    // Links in number order, so that a device named twice shows its lowest n.
    QList<std::pair<int, QString>> links;
    const QFileInfoList entries =
        QDir(programDir).entryInfoList({QStringLiteral("COM*")}, QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : entries) {
        bool ok = false;
        const int n = fi.fileName().mid(3).toInt(&ok);
        if (ok && n >= 1 && fi.isSymLink())
            links.append({n, fi.symLinkTarget()});
    }
    std::sort(links.begin(), links.end());
    for (const auto& [n, target] : links) {
        const QString same = samePathOf(target);
        auto it = std::find_if(out.begin(), out.end(), [&](const SerialDevice& d) { return samePathOf(d.path) == same; });
        if (it == out.end())
            out.append({target, QString(), n});
        else if (it->linkedAs == 0)
            it->linkedAs = n;
    }
#else
    Q_UNUSED(programDir);
#endif
    return out;
}

bool linkSerialDevice(int portNumber, const QString& device, const QString& programDir, QString* error)
{
#ifdef Q_OS_WIN
    Q_UNUSED(portNumber);
    Q_UNUSED(device);
    Q_UNUSED(programDir);
    *error = QStringLiteral("En este sistema el número es el del puerto COM");
    return false;
#else
    const QString link = QDir(programDir).filePath(QStringLiteral("COM%1").arg(portNumber));
    const QFileInfo fi(link);
    if (fi.isSymLink()) {
        if (fi.symLinkTarget() == device)
            return true;
        if (!QFile::remove(link)) {
            *error = QStringLiteral("No se pudo reemplazar el enlace %1").arg(link);
            return false;
        }
    } else if (fi.exists()) {
        *error = QStringLiteral("%1 ya existe y no es un enlace").arg(link);
        return false;
    }
    if (!QFile::link(device, link)) {
        *error = QStringLiteral("No se pudo crear el enlace %1").arg(link);
        return false;
    }
    return true;
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

void QtSerialPortAdapter::discardInput()
{
    if (m_port->isOpen()) {
        // The system's buffer too: a closed port keeps what the modem sent
        // meanwhile, and it arrives on the next open.
        m_port->clear(QSerialPort::Input);
        m_port->readAll();
    }
    clearInput();
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
