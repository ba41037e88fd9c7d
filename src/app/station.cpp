#include "app/station.h"

#include "data/db.h"
#include "data/job_store.h"
#include "data/link_store.h"
#include "data/messages.h"
#include "data/settings_store.h"
#include "data/subscriber_hold.h"
#include "data/users_store.h"
#include "jobs/job_runner.h"
#include "jobs/port_lock.h"
#include "link/serialport_qt.h"

Station::Station(MessageService& messages, const QString& programDir)
    : main(messages), search(messages), reports(main), ctx{main, messages, search, editor, reports}
{
    main.setProgramDir(programDir);
    trans.setHost(this);
    trans.setClock([this] { return main.now(); });
    ctx.jobSettingChanged = [this] { applyJobSetting(); };
}

Station::~Station()
{
    stopJobRunner();
    trans.setHost(nullptr);
    trans.setConsole(nullptr);
    // Report windows of their own refer to this station: they go with it.
    for (const QPointer<QObject>& w : std::as_const(ctx.reportWindows))
        delete w.data();
    reports.closeAll();
    main.closeConnections();
}

bool Station::startJobRunner(jobs::JobQueue& queue)
{
    stopJobRunner();
    auto lock = std::make_unique<jobs::PortLock>(serialDeviceFor(main.modemPort(), main.programDir()));
    QString why;
    if (!lock->tryLock(&why)) {
        main.messages().show(QStringLiteral("Tareas"), why, MessageService::Icon::Warning);
        return false;
    }
    m_jobPortLock = std::move(lock);
    // The holds name the operator logged in, as the console's do.
    m_jobHolds = std::make_unique<DatabaseHoldStore>([this] { return main.db(); }, [this] {
        const std::optional<users::Account> me = users::find(main.db(), main.currentUser());
        return me ? me->usuario : QStringLiteral("Tareas");
    });
    m_jobRunner = std::make_unique<jobs::JobRunner>(trans, queue, *m_jobHolds,
                                                    [this](qint32 id) { return jobs::lookUp(main.db(), id); });
    QObject::connect(m_jobRunner.get(), &jobs::JobRunner::progress, m_jobRunner.get(),
                     [](const QString& text) { qInfo("%s", qPrintable(text)); });
    // A lost server or a full disk stops the whole queue: said once here,
    // never once per item.
    QObject::connect(m_jobRunner.get(), &jobs::JobRunner::stopped, m_jobRunner.get(), [this](const QString& failure) {
        if (!failure.isEmpty())
            main.messages().show(QStringLiteral("Tareas"),
                                 QStringLiteral("Las tareas de esta estación se detuvieron.\n%1\nSe reanudan al volver a "
                                                "iniciar la estación.").arg(failure),
                                 MessageService::Icon::Warning);
    });
    m_jobRunner->start();
    return true;
}

void Station::stopJobRunner()
{
    m_jobRunner.reset();
    m_jobHolds.reset();
    m_jobPortLock.reset();
}

void Station::applyJobSetting()
{
    bool wanted = false;
    try {
        const std::optional<settings::Row> s = settings::read(main.db());
        wanted = s && s->tareas_estacion;
        if (wanted == (m_jobRunner != nullptr))
            return;
        if (!wanted) {
            stopJobRunner();
            m_jobQueue.reset();
            return;
        }
        m_jobQueue = std::make_unique<jobs::DatabaseJobQueue>(main.db());
    } catch (const db::Error&) {
        return; // said by the database layer; the jobs wait for the next start
    }
    if (!startJobRunner(*m_jobQueue))
        m_jobQueue.reset();
}

std::unique_ptr<LinkStore> Station::linkStore()
{
    return std::make_unique<SqlLinkStore>(main.db(), main.currentUser(), &m_storeError);
}

bool Station::portOpen() const
{
    return main.portOpen();
}

void Station::portLost()
{
    main.portLost();
}

void Station::showError(int number)
{
    main.showMessage(number);
}

void Station::showMessage(const QString& title, const QString& text)
{
    main.messages().show(title, text, MessageService::Icon::Critical);
}

QString Station::takeStoreError()
{
    return std::exchange(m_storeError, QString());
}
