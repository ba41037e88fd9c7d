#pragma once
// One job runner per serial port: the link opens and closes the port with
// each call, so the port's own exclusive open leaves gaps between panels.
// This lock file, named after the device however it is reached (a "COMn"
// link or the device itself), is held for as long as the runner runs; a
// runner that died leaves a stale lock the next one takes over.

#include <QString>
#include <memory>

class QLockFile;

namespace jobs {

class PortLock {
public:
    explicit PortLock(const QString& device);
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // False when another runner holds the port: `error` says so in Spanish.
    bool tryLock(QString* error);
    void unlock();
    bool locked() const;
    QString lockPath() const { return m_path; }

private:
    QString m_device;
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace jobs
