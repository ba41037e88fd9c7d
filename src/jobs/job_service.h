#pragma once
// The job runner of a program without windows (sorvent-tareas): the
// station's database and port settings from the program directory, the
// serial port taken for this runner alone, ticks for the link only while a
// panel is on the line, progress to the diagnostics log (Qt's messages),
// and a clean stop on request: between panels, or after ending the
// current call with its end frames.

#include "jobs/job_runner.h"
#include "link/linkhost.h"
#include "link/panel_link.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <memory>

class DatabaseHoldStore;
class QSocketNotifier;
class QTimer;
class QtSerialPortAdapter;
class QtUdpSocketAdapter;

namespace jobs {

class PortLock;

class JobService : public QObject, public LinkHost {
    Q_OBJECT
public:
    static constexpr const char* Connection = "sorvent-tareas";

    explicit JobService(const QString& programDir, QObject* parent = nullptr);
    ~JobService() override;

    // Opens the station's database (the server of sorvent20.ini, or the
    // file), reads its port settings and takes the serial port for this
    // runner. False with the reason in Spanish: a second runner on the same
    // port is refused here.
    bool open(QString* error);
    QSqlDatabase database() const;
    PanelLink& link() { return m_link; }
    JobRunner* runner() { return m_runner.get(); }

    // Runs `queue` until stopped: finished() then says with what exit code.
    void run(JobQueue& queue);
    // Stops cleanly: between panels at once, or after ending the current
    // call with its end frames.
    void stop();
    // A byte readable on `fd` (the signal handler's end of a socket pair)
    // is a stop request.
    void stopWhenReadable(int fd);

    // LinkHost
    std::unique_ptr<LinkStore> linkStore() override;
    bool portOpen() const override { return m_portOpen; }
    void portLost() override;
    void showError(int number) override;
    void showMessage(const QString& title, const QString& text) override;
    QString takeStoreError() override;

signals:
    void finished(int exitCode);

private:
    jobs::Lookup find(qint32 subscriber);
    void runnerStopped(const QString& failure);

    QString m_dir;
    QString m_connection;
    PanelLink m_link;
    QtSerialPortAdapter* m_com;
    QtUdpSocketAdapter* m_ip;
    QTimer* m_ticks;
    std::unique_ptr<PortLock> m_portLock;
    std::unique_ptr<DatabaseHoldStore> m_holds;
    std::unique_ptr<JobRunner> m_runner;
    QSocketNotifier* m_stopNotifier = nullptr;
    bool m_portOpen = false;
    bool m_stopping = false;
    QString m_storeError;
};

} // namespace jobs
