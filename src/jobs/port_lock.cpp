#include "jobs/port_lock.h"

#include "link/serialport_qt.h"

#include <QDir>
#include <QLockFile>

namespace jobs {

PortLock::PortLock(const QString& device) : m_device(samePathOf(device))
{
    // The device's own folder (/dev) is not ours to write: the lock lives
    // in the system's temporary folder, named by the device's one path.
    QString name = m_device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    m_path = QDir(QDir::tempPath()).filePath(QStringLiteral("sorvent-tareas%1.lock").arg(name));
    m_lock = std::make_unique<QLockFile>(m_path);
    m_lock->setStaleLockTime(0); // a lock is stale only when its process is gone
}

PortLock::~PortLock() = default;

bool PortLock::tryLock(QString* error)
{
    if (m_lock->isLocked() || m_lock->tryLock(0))
        return true;
    if (error) {
        qint64 pid = 0;
        QString host, app;
        if (m_lock->getLockInfo(&pid, &host, &app))
            *error = QStringLiteral("El puerto %1 ya lo usa otro ejecutor de tareas (proceso %2 en %3): este no se inicia.")
                         .arg(m_device)
                         .arg(pid)
                         .arg(host);
        else
            *error = QStringLiteral("No se pudo reservar el puerto %1 para las tareas (%2): este ejecutor no se inicia.")
                         .arg(m_device, m_path);
    }
    return false;
}

void PortLock::unlock()
{
    m_lock->unlock();
}

bool PortLock::locked() const
{
    return m_lock->isLocked();
}

} // namespace jobs
