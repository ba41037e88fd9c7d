#include "jobs/job_runner.h"

#include "data/db.h"
#include "data/subscriber_hold.h"
#include "data/subscriber_store.h"
#include "link/link_status.h"
#include "link/panel_link.h"
#include "link/request.h"

#include <QMap>
#include <QTimer>
#include <algorithm>

namespace jobs {

namespace {
// The longest single sleep: a due time further away is looked at again then.
constexpr qint64 LongestSleepMs = 6 * 3600 * 1000;
} // namespace

Lookup lookUp(const QSqlDatabase& c, qint32 id)
{
    Lookup out;
    const std::optional<subscribers::ConsoleHeader> h = subscribers::consoleHeader(c, id);
    if (!h) {
        out.gone = !subscribers::record(c, id).has_value();
        if (!out.gone)
            out.why = QStringLiteral("El abonado no tiene código de acceso guardado: no se puede llamar al panel");
        return out;
    }
    if (h->telefono.trimmed().isEmpty()) {
        out.why = QStringLiteral("El abonado no tiene teléfono");
        return out;
    }
    out.target = Target{{h->abonado, h->panel, h->password, h->cadena}, h->telefono.trimmed()};
    return out;
}

QList<Action> orderedActions(const QList<Action>& actions)
{
    // The clock first (events are stamped by it), then the events, a look at
    // the panel, and only then anything that changes it.
    QList<Action> out = actions;
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

JobRunner::JobRunner(PanelLink& link, JobQueue& queue, HoldStore& holds, Find find, QObject* parent)
    : QObject(parent), m_link(link), m_queue(queue), m_holds(holds), m_hold(new SubscriberHold(holds)),
      m_find(std::move(find)), m_wakeTimer(new QTimer(this))
{
    m_wakeTimer->setSingleShot(true);
    connect(m_wakeTimer, &QTimer::timeout, this, &JobRunner::wake);
    connect(&m_link, &PanelLink::viewChanged, this, &JobRunner::linkChanged);
    connect(&m_link, &PanelLink::ticked, this, &JobRunner::onTick);
    // Direct: a message of the job's panel is taken before an open console
    // (connected queued) would show it in a box.
    connect(&m_link, &PanelLink::messageQueued, this, &JobRunner::takeLinkMessages);
    m_link.setLineSharing(this);
}

JobRunner::~JobRunner()
{
    if (m_link.lineSharing() == this)
        m_link.setLineSharing(nullptr);
    if (m_item) {
        m_link.endCallNow();
        m_link.setJobConsole(nullptr);
        try {
            m_queue.release(*m_item, m_link.now());
        } catch (const db::Error&) {
            // The claim goes with the runner's session all the same.
        }
    }
    m_hold->release();
    delete m_hold;
}

// ---------------------------------------------------------------------------
// Starting, stopping and sleeping

void JobRunner::start()
{
    if (m_running)
        return;
    m_running = true;
    m_stopAfterPanel = false;
    m_failure.clear();
    emit progress(QStringLiteral("Tareas: en marcha"));
    scheduleWake();
}

void JobRunner::stop(Stop how)
{
    if (!m_running)
        return;
    if (!m_item) {
        halt(QString());
        return;
    }
    m_stopAfterPanel = true;
    if (how == Stop::EndCall && !m_cancelled) {
        m_cancelled = true;
        endCall();
    }
}

void JobRunner::halt(const QString& failure)
{
    m_running = false;
    m_wakeTimer->stop();
    m_wakeAt.reset();
    m_failure = failure;
    emit progress(failure.isEmpty() ? QStringLiteral("Tareas: detenidas")
                                    : QStringLiteral("Tareas: detenidas por un error: %1").arg(failure));
    emit stopped(failure);
}

void JobRunner::stopOnError(const QString& text)
{
    // One message for the whole queue: the next item would fail the same way.
    if (m_item) {
        try {
            m_queue.release(*m_item, m_link.now());
        } catch (const db::Error&) {
        }
        m_hold->release();
        m_link.setJobConsole(nullptr);
        m_item.reset();
        emit panelChanged(false);
    }
    halt(text);
}

void JobRunner::queueChanged()
{
    if (m_running && !m_item)
        scheduleWake();
}

void JobRunner::scheduleWake()
{
    if (m_wakeQueued)
        return;
    m_wakeQueued = true;
    QMetaObject::invokeMethod(this, [this] {
        m_wakeQueued = false;
        wake();
    }, Qt::QueuedConnection);
}

bool JobRunner::lineFree() const
{
    return !m_operatorHasLine && m_link.phase() == PanelLink::LinkPhase::Idle && !m_link.keypadOpen() &&
           !m_link.waitingForCall();
}

void JobRunner::wake()
{
    if (!m_running || m_item || m_operatorHasLine)
        return;
    m_wakeTimer->stop();
    m_wakeAt.reset();
    if (!lineFree())
        return; // linkChanged wakes it when the line is free again
    const QDateTime now = m_link.now();
    std::optional<JobItem> item;
    std::optional<QDateTime> due;
    try {
        item = m_queue.claimNext(now);
        if (!item)
            due = m_queue.nextDue();
    } catch (const db::Error& e) {
        stopOnError(e.text());
        return;
    }
    if (item) {
        beginItem(*item);
        return;
    }
    if (!due)
        return; // nothing waits: queueChanged wakes it
    m_wakeAt = *due;
    m_wakeTimer->start(int(qBound<qint64>(0, now.msecsTo(*due), LongestSleepMs)));
}

// ---------------------------------------------------------------------------
// One item

void JobRunner::beginItem(const JobItem& item)
{
    m_item = item;
    m_target = {};
    m_actions = orderedActions(item.actions);
    m_result = {};
    m_result.start = m_link.now();
    m_failed = false;
    m_step = Step::Reaching;
    m_connectedSeen = m_cancelled = m_panelSilent = false;
    m_callBackTicks = 0;
    m_action = 0;
    m_actionStarted = false;
    m_compared = m_uploadStopped = false;
    m_uploadText.clear();
    m_eventsSeen = m_sectionsSeen = 0;
    emit panelChanged(true);

    Lookup found;
    try {
        found = m_find(item.subscriber);
    } catch (const db::Error& e) {
        stopOnError(e.text());
        return;
    }
    if (!found.target) {
        fail(found.gone ? Outcome::SubscriberGone : Outcome::Failed,
             found.gone ? QStringLiteral("El abonado %1 ya no existe").arg(item.subscriber) : found.why);
        finishItem();
        return;
    }
    m_target = *found.target;
    try {
        if (!m_hold->take(item.subscriber)) {
            const std::optional<locks::Holder> other = m_holds.heldByOther(item.subscriber);
            fail(Outcome::HeldElsewhere, other ? other->text() : QStringLiteral("En uso en otra estación"));
            finishItem();
            return;
        }
    } catch (const db::Error& e) {
        stopOnError(e.text());
        return;
    }
    emit progress(QStringLiteral("Tareas: abonado %1, llamando a %2").arg(item.subscriber).arg(m_target.phone));
    if (!reach()) {
        fail(Outcome::Failed, m_link.view().statusLine);
        finishItem();
        return;
    }
    linkChanged();
}

bool JobRunner::reach()
{
    const LinkSubscriber& s = m_target.subscriber;
    m_link.setJobConsole(this);
    m_link.setSubscriber(s);
    switch (m_item->reach) {
    case Reach::Dial:
        return m_link.dialDirect(s);
    case Reach::DoubleCall:
        return m_link.dialDoubleCall(s);
    case Reach::IpCallBack:
        // As the console: the wait over IP first, then the dial asks the
        // panel to call back over IP.
        m_link.pressIpButton(s);
        if (!m_link.waitingForCall())
            return false;
        return m_link.dialDirect(s);
    }
    return false;
}

void JobRunner::linkChanged()
{
    if (!m_item) {
        // Waiting for the line: it may be free now.
        if (m_running && !m_wakeAt && lineFree())
            scheduleWake();
        return;
    }
    // The link is half way through its own handler: look once it returned.
    if (m_handling)
        return;
    m_handling = true;
    QMetaObject::invokeMethod(this, [this] {
        m_handling = false;
        handleLink();
    }, Qt::QueuedConnection);
}

void JobRunner::onTick()
{
    if (!m_item || m_step != Step::Reaching || !m_connectedSeen || !m_link.waitingForConnect())
        return;
    if (++m_callBackTicks < CallBackTicks)
        return;
    fail(Outcome::NoPanelAnswer, QStringLiteral("El panel no devolvió la llamada por IP"));
    m_step = Step::Ending;
    m_link.stopWaiting();
}

void JobRunner::handleLink()
{
    if (!m_item)
        return;
    const PanelLink::LinkPhase phase = m_link.phase();
    if (m_link.connected()) {
        m_connectedSeen = true;
        if (m_step == Step::Reaching && !m_link.connection().endAfterConnect && m_link.connection().answeredSinceConnect)
            m_step = Step::Acting;
        if (m_step == Step::Acting)
            advanceActions();
        return;
    }
    if (m_link.dialling())
        return;
    if (phase == PanelLink::LinkPhase::Listening) {
        if (m_step == Step::Reaching && m_connectedSeen)
            return; // the modem leg is done: the panel calls back over IP
        // A dial that failed leaves the IP wait of a call-back.
        m_link.stopWaiting();
        if (m_link.phase() == PanelLink::LinkPhase::Listening)
            return;
    }
    // The link is idle: the call is over, one way or another.
    if (m_step == Step::Reaching && !m_connectedSeen)
        reachFailed();
    else if (m_step != Step::Ending || !m_failed) {
        if (m_panelSilent || m_link.scheduler().retryCounter >= 10)
            fail(Outcome::NoPanelAnswer, m_link.view().statusLine);
        else if (m_step != Step::Ending)
            fail(Outcome::Failed, m_link.view().statusLine);
    }
    finishItem();
}

void JobRunner::reachFailed()
{
    if (m_cancelled) {
        fail(Outcome::Cancelled, QString());
        return;
    }
    const QString reason = m_link.connection().lineReason;
    const QString outcome = m_link.view().statusLine;
    if (reason == QLatin1String("Ocupado"))
        fail(Outcome::Busy, outcome);
    else if (reason.isEmpty() || reason == QLatin1String("No contesta") || reason == QLatin1String("Sin portadora"))
        fail(Outcome::NoAnswer, outcome);
    else
        fail(Outcome::Failed, outcome);
}

void JobRunner::fail(Outcome outcome, const QString& detail)
{
    // The first failure is the item's outcome; a cancel overrides a refusal.
    if (m_failed && !(outcome == Outcome::Cancelled && m_result.outcome == Outcome::Refused))
        return;
    m_failed = true;
    m_result.outcome = outcome;
    m_result.detail = detail;
}

// ---------------------------------------------------------------------------
// Actions

void JobRunner::advanceActions()
{
    while (m_action < m_actions.size()) {
        const Action a = m_actions.at(m_action);
        if (!m_actionStarted) {
            if (!startAction(a))
                return; // the link takes it on a later turn
            m_actionStarted = true;
        }
        if (!actionFinished(a))
            return;
        m_actionStarted = false;
        ++m_action;
        // A refusal leaves the other actions to run; anything else ends
        // the call.
        if (m_failed && m_result.outcome != Outcome::Refused)
            break;
    }
    endCall();
}

bool JobRunner::startAction(Action a)
{
    const LinkSubscriber& s = m_target.subscriber;
    switch (a) {
    case Action::SetClock:
        m_mark = m_link.scheduler().framesSent;
        return m_link.queueCommand(LinkCommands::CmdSetClock);
    case Action::DownloadEvents:
        m_link.requestTransfer(PanelLink::Transfer::Events);
        return true;
    case Action::Compare:
        m_compared = false;
        if (!m_link.compare(s)) {
            fail(Outcome::Failed, QStringLiteral("No se pudo comparar con el panel"));
            m_compared = true;
        }
        return true;
    case Action::UploadChanges:
        m_uploadStopped = false;
        m_uploadText.clear();
        m_sectionsSeen = 0;
        switch (m_link.uploadChanges(s)) {
        case PanelLink::ChangesUpload::Started:
        case PanelLink::ChangesUpload::NothingToSend:
            break;
        case PanelLink::ChangesUpload::NeedsVerification:
            fail(Outcome::Refused, QStringLiteral("Subir cambios necesita la verificación de las subidas (Parámetros)"));
            break;
        case PanelLink::ChangesUpload::NoKnownImage:
            // The console asks whether to send every marked section; a job
            // cannot ask, and sends nothing.
            fail(Outcome::Refused, QStringLiteral("No hay una imagen verificada del panel de este abonado: no se sabe "
                                                  "qué difiere"));
            break;
        case PanelLink::ChangesUpload::NotStarted:
            fail(Outcome::Failed, QStringLiteral("No se pudieron subir los cambios"));
            break;
        }
        return true;
    case Action::UploadMarked:
        m_uploadStopped = false;
        m_uploadText.clear();
        m_sectionsSeen = 0;
        m_link.requestTransfer(PanelLink::Transfer::Write);
        if (!m_link.loadTransfer(s))
            fail(Outcome::Failed, QStringLiteral("No se pudo preparar la subida de las secciones marcadas"));
        return true;
    }
    return true;
}

bool JobRunner::actionFinished(Action a)
{
    const RequestScheduler& sch = m_link.scheduler();
    switch (a) {
    case Action::SetClock:
        // Sent, and its answer taken (or the turn after it gone by).
        return sch.pendingCommand != LinkCommands::CmdSetClock && sch.framesSent > m_mark &&
               sch.outstandingCode() != Request::SetClock;
    case Action::DownloadEvents:
        if (m_link.eventsPending())
            return false;
        m_result.events += m_eventsSeen;
        m_eventsSeen = 0;
        return true;
    case Action::Compare:
        if (!m_compared)
            return false;
        if (!m_failed || m_result.outcome == Outcome::Refused)
            m_result.differences += countDifferences();
        return true;
    case Action::UploadChanges:
    case Action::UploadMarked:
        if (m_link.writePending())
            return false;
        if (m_uploadStopped) {
            fail(Outcome::VerifyFailed, m_uploadText);
        } else {
            const bool verified = m_uploadText.startsWith(QLatin1String("Verificado"));
            m_result.sectionsSent += verified ? m_link.transfer().uploadSections : m_sectionsSeen;
        }
        m_sectionsSeen = 0;
        return true;
    }
    return true;
}

int JobRunner::countDifferences() const
{
    int n = 0;
    for (int section : m_link.differingSections()) {
        QMap<int, QString> panel;
        for (const auto& [item, value] : m_link.panelValues(section))
            panel.insert(item, value);
        for (const auto& [item, value] : m_link.imageValues(section))
            if (!panel.contains(item) || panel.value(item) != value)
                ++n;
    }
    return n;
}

void JobRunner::endCall()
{
    m_step = Step::Ending;
    if (m_cancelled) {
        fail(Outcome::Cancelled, QString());
        m_link.endCallNow();
        if (m_link.waitingForCall())
            m_link.stopWaiting();
        linkChanged();
        return;
    }
    // Its end frames on the next turn, as the console's "Cortar".
    if (!m_link.hangUp() && m_link.waitingForCall())
        m_link.stopWaiting();
    linkChanged();
}

void JobRunner::finishItem()
{
    if (!m_item)
        return;
    if (!m_failed)
        m_result.outcome = Outcome::Done;
    // An action cut short still counts what it stored or sent.
    if (m_actionStarted && m_action < m_actions.size()) {
        const Action cut = m_actions.at(m_action);
        if (cut == Action::DownloadEvents)
            m_result.events += m_eventsSeen;
        else if (cut == Action::UploadChanges || cut == Action::UploadMarked)
            m_result.sectionsSent += m_sectionsSeen;
        m_actionStarted = false;
    }
    m_result.end = m_link.now();
    const JobItem item = *m_item;
    const ItemResult result = m_result;
    m_item.reset();
    m_link.setJobConsole(nullptr);
    m_hold->release();
    emit panelChanged(false);
    QString line = QStringLiteral("Tareas: abonado %1: %2").arg(item.subscriber).arg(outcomeText(result.outcome));
    if (!result.detail.isEmpty())
        line += QStringLiteral(" (%1)").arg(result.detail);
    emit progress(line);
    try {
        m_queue.record(item, result);
    } catch (const db::Error& e) {
        halt(e.text());
        return;
    }
    emit itemDone(item, result);
    if (m_stopAfterPanel) {
        halt(QString());
        return;
    }
    if (m_yieldAfterPanel) {
        m_yieldAfterPanel = false;
        m_operatorHasLine = true;
        emit progress(QStringLiteral("Tareas: en espera; el operador usa la línea"));
        return;
    }
    scheduleWake();
}

// ---------------------------------------------------------------------------
// What the link tells the job's console

void JobRunner::sessionStarted(qint32 subscriber)
{
    Q_UNUSED(subscriber);
    // The modem leg of a call-back counts too: the panel was reached.
    m_connectedSeen = true;
}

void JobRunner::showSections()
{
    if (m_link.writePending())
        m_sectionsSeen = qMax(m_sectionsSeen, m_link.transfer().sectionsDone);
}

void JobRunner::showEvents()
{
    // The count is reset when the download ends: the last one seen holds.
    m_eventsSeen = qMax(m_eventsSeen, m_link.transfer().eventsStored);
}

void JobRunner::connectionFailed()
{
    m_panelSilent = true;
}

void JobRunner::uploadChecked(const QString& outcome, bool stopped)
{
    m_uploadText = outcome;
    m_uploadStopped = m_uploadStopped || stopped;
}

void JobRunner::comparisonDone()
{
    m_compared = true;
    linkChanged();
}

void JobRunner::takeLinkMessages()
{
    if (!m_item)
        return;
    for (const PanelLink::Message& m : m_link.takeMessages()) {
        emit progress(QStringLiteral("Tareas: abonado %1: %2").arg(m_item->subscriber).arg(m.text));
        if (!m_failed && m_result.detail.isEmpty())
            m_result.detail = m.text;
    }
}

// ---------------------------------------------------------------------------
// The operator and the line

qint32 JobRunner::jobOnLine() const
{
    return m_item ? m_item->subscriber : 0;
}

void JobRunner::operatorTakesLine(bool interrupt)
{
    if (!m_item) {
        m_operatorHasLine = true;
        return;
    }
    if (!interrupt) {
        m_yieldAfterPanel = true;
        return;
    }
    m_operatorHasLine = true;
    if (!m_cancelled) {
        m_cancelled = true;
        emit progress(QStringLiteral("Tareas: abonado %1 interrumpido por el operador").arg(m_item->subscriber));
        endCall();
    }
}

void JobRunner::operatorLeavesLine()
{
    m_operatorHasLine = false;
    m_yieldAfterPanel = false;
    if (m_running && !m_item)
        scheduleWake();
}

} // namespace jobs
