#include "jobs/job_service.h"

#include "data/db.h"
#include "data/link_store.h"
#include "data/settings_store.h"
#include "data/station_db.h"
#include "data/subscriber_hold.h"
#include "jobs/port_lock.h"
#include "link/datagramsocket_qt.h"
#include "link/serialport_qt.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

namespace jobs {

namespace {
// The operator the holds and the history name for what this program does.
const QString OperatorName = QStringLiteral("Tareas");
} // namespace

JobService::JobService(const QString& programDir, QObject* parent)
    : QObject(parent), m_dir(programDir),
      m_connection(QStringLiteral("%1-%2").arg(QLatin1String(Connection)).arg(quintptr(this), 0, 16)),
      m_com(new QtSerialPortAdapter(programDir, this)), m_ip(new QtUdpSocketAdapter(this)), m_ticks(new QTimer(this))
{
    m_link.setHost(this);
    m_link.setDevices(m_com, m_ip);
    // The link's ticks only while a panel is on the line: an idle runner
    // costs nothing.
    m_ticks->setInterval(100);
    connect(m_ticks, &QTimer::timeout, &m_link, &PanelLink::tick);
}

JobService::~JobService()
{
    m_runner.reset();
    m_link.setHost(nullptr);
    m_holds.reset();
    if (QSqlDatabase::contains(m_connection))
        db::close(m_connection);
}

QSqlDatabase JobService::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

bool JobService::open(QString* error)
{
    try {
        if (!db::openFromConfig(m_connection, m_dir)) {
            const QString file = QDir(m_dir).filePath(QStringLiteral("sorvent20.mdb"));
            // The station creates its database on its first start; a runner
            // never starts on an empty one of its own making.
            if (!QFileInfo::exists(file)) {
                *error = QStringLiteral("No existe la base de datos %1: inicie primero la estación.").arg(file);
                return false;
            }
            db::open(m_connection, file);
        }
        const std::optional<settings::Row> s = settings::read(database());
        if (!s) {
            *error = QStringLiteral("Falta la fila de configuración de la estación.");
            return false;
        }
        const QString mode = s->modem_mode.toString();
        bool ok = false;
        const int port = s->modem_port.toInt(&ok);
        if (mode == QLatin1String("Sin Puerto Com") || !ok || port < 1) {
            *error = QStringLiteral("La estación no tiene puerto de comunicaciones: las tareas necesitan el módem.");
            return false;
        }
        if (mode == QLatin1String("Interface")) {
            *error = QStringLiteral("El puerto de la estación está en modo Interface (teclado): las tareas necesitan el módem.");
            return false;
        }
        m_com->setCommPort(port);
        m_com->setSettings(serialSettingsFor(110));
        m_portLock = std::make_unique<PortLock>(serialDeviceFor(port, m_dir));
        if (!m_portLock->tryLock(error))
            return false;
        m_portOpen = true;
    } catch (const db::Error& e) {
        *error = e.text();
        return false;
    }
    m_holds = std::make_unique<DatabaseHoldStore>([this] { return database(); }, [] { return OperatorName; });
    return true;
}

void JobService::run(JobQueue& queue)
{
    m_runner = std::make_unique<JobRunner>(m_link, queue, *m_holds, [this](qint32 id) { return lookUp(database(), id); });
    connect(m_runner.get(), &JobRunner::progress, this, [](const QString& text) { qInfo("%s", qPrintable(text)); });
    connect(m_runner.get(), &JobRunner::panelChanged, this, [this](bool onPanel) {
        if (onPanel)
            m_ticks->start();
        else
            m_ticks->stop();
    });
    connect(m_runner.get(), &JobRunner::stopped, this, &JobService::runnerStopped);
    m_link.resetModem();
    m_runner->start();
}

void JobService::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    qInfo("Tareas: se pidió detener el ejecutor");
    if (!m_runner || !m_runner->running()) {
        emit finished(0);
        return;
    }
    m_runner->stop(JobRunner::Stop::EndCall);
}

void JobService::stopWhenReadable(int fd)
{
    delete m_stopNotifier;
    m_stopNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_stopNotifier, &QSocketNotifier::activated, this, [this, fd] {
        char c = 0;
        if (::read(fd, &c, 1) < 0)
            qWarning("Tareas: no se pudo leer la señal");
        stop();
    });
}

void JobService::runnerStopped(const QString& failure)
{
    m_ticks->stop();
    // The port is closed and the modem is left on hook.
    m_com->close();
    if (!failure.isEmpty())
        qCritical("Tareas: %s", qPrintable(failure));
    emit finished(failure.isEmpty() ? 0 : 1);
}

std::unique_ptr<LinkStore> JobService::linkStore()
{
    return std::make_unique<SqlLinkStore>(database(), 0, &m_storeError);
}

void JobService::portLost()
{
    m_portOpen = false;
    qCritical("Tareas: se perdió el puerto serie");
}

void JobService::showError(int number)
{
    qWarning("Tareas: error %d del enlace", number);
}

void JobService::showMessage(const QString& title, const QString& text)
{
    qWarning("Tareas: %s: %s", qPrintable(title), qPrintable(text));
}

QString JobService::takeStoreError()
{
    return std::exchange(m_storeError, QString());
}

} // namespace jobs
