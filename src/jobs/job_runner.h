#pragma once
// The job runner: takes the next due item of a JobQueue, reaches the
// subscriber's panel over the station's link as the console's keys do, runs
// the item's actions in their fixed order, ends the call with its end frames
// and records how the try went; then the next item. It holds the subscriber
// as the console does, so another station's console and the runner never
// talk to one panel at once.
//
// Nothing here waits or polls: it moves on the link's signals (a change of
// its state, a tick, the console notifications it hears in the open
// console's place while it is on a panel) and sleeps, with one single-shot
// timer, until the queue's next due time. A job never opens a box: what goes
// wrong is in the item's result.
//
// The operator comes first: a console or keypad that wants the line asks
// through LineSharing, and the runner either ends the current panel at once
// or stops after it, until the operator's window lets go.

#include "data/job_queue.h"
#include "data/job_store.h"
#include "link/line_sharing.h"
#include "link/link_subscriber.h"
#include "link/linkconsole.h"

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

class HoldStore;
class PanelLink;
class QTimer;
class SubscriberHold;

namespace jobs {

// The subscriber of an item as the link needs it: what the console would
// show (number, model, stored access code, protocol code) and `tel_1`.
struct Target {
    LinkSubscriber subscriber;
    QString phone;
};

// A subscriber looked up: the target, or why it cannot be reached (`gone`:
// it was deleted). May throw db::Error.
struct Lookup {
    std::optional<Target> target;
    bool gone = false;
    QString why;
};

// The subscriber `id` of the station's database (`tel_1`, model, stored
// access code, protocol code). Throws db::Error.
Lookup lookUp(const QSqlDatabase& c, qint32 id);

// The actions of an item in the order they run, each once.
QList<Action> orderedActions(const QList<Action>& actions);

class JobRunner : public QObject, public LinkConsole, public LineSharing {
    Q_OBJECT
public:
    using Find = std::function<Lookup(qint32 subscriber)>;
    // Ticks a call-back over IP is awaited after the modem leg (60 s).
    static constexpr int CallBackTicks = 600;

    JobRunner(PanelLink& link, JobQueue& queue, HoldStore& holds, Find find, QObject* parent = nullptr);
    ~JobRunner() override;

    void start();
    enum class Stop {
        BetweenPanels, // the current panel (if any) is finished first
        EndCall,       // the current call ends now with its end frames, "cancelada"
    };
    void stop(Stop how);
    bool running() const { return m_running; }
    bool onPanel() const { return m_item.has_value(); }
    // Why the runner stopped by itself (a queue or store failure); empty
    // while running or when it was asked to stop.
    const QString& failure() const { return m_failure; }
    // The queue changed (an item added or due sooner): look again now.
    void queueChanged();
    // When the sleeping runner wakes by itself; nothing when it waits for
    // the queue or the line, or is on a panel.
    std::optional<QDateTime> wakesAt() const { return m_wakeAt; }

    // LineSharing
    qint32 jobOnLine() const override;
    void operatorTakesLine(bool interrupt) override;
    void operatorLeavesLine() override;
    bool operatorHasLine() const { return m_operatorHasLine; }

    // LinkConsole: what the link tells the runner while it is on a panel.
    int armingModeIndex() const override { return 0; }
    bool restrictedCodeChecked() const override { return false; }
    QString restrictedCode() const override { return {}; }
    QString telephone() const override { return m_target.phone; }
    void sessionStarted(qint32 subscriber) override;
    void showSections() override;
    void showEvents() override;
    void connectionFailed() override;
    void uploadChecked(const QString& outcome, bool stopped) override;
    void comparisonDone() override;

signals:
    // One try recorded.
    void itemDone(const jobs::JobItem& item, const jobs::ItemResult& result);
    // A line for the diagnostics log.
    void progress(const QString& text);
    // On a panel (the link needs ticks) or not.
    void panelChanged(bool onPanel);
    // The runner stopped: `failure` says why when it stopped by itself.
    void stopped(const QString& failure);

private:
    enum class Step { Reaching, Acting, Ending };

    void scheduleWake();
    void wake();
    bool lineFree() const;
    void beginItem(const JobItem& item);
    bool reach();
    void linkChanged();
    void handleLink();
    void onTick();
    void reachFailed();
    void advanceActions();
    bool startAction(Action a);
    bool actionFinished(Action a);
    void fail(Outcome outcome, const QString& detail);
    void endCall();
    void finishItem();
    void takeLinkMessages();
    void stopOnError(const QString& text);
    void halt(const QString& failure);
    int countDifferences() const;

    PanelLink& m_link;
    JobQueue& m_queue;
    HoldStore& m_holds;
    SubscriberHold* m_hold;
    Find m_find;
    QTimer* m_wakeTimer;
    std::optional<QDateTime> m_wakeAt;

    bool m_running = false;
    bool m_stopAfterPanel = false;
    bool m_operatorHasLine = false;
    bool m_yieldAfterPanel = false;
    bool m_wakeQueued = false;
    bool m_handling = false;
    bool m_again = false;
    QString m_failure;

    // The item on the line.
    std::optional<JobItem> m_item;
    Target m_target;
    QList<Action> m_actions;
    ItemResult m_result;
    bool m_failed = false;   // m_result holds the first failure
    Step m_step = Step::Reaching;
    bool m_dialSeen = false;     // the link left idle for our dial
    bool m_connectedSeen = false;
    bool m_cancelled = false;
    bool m_panelSilent = false;  // the connection ended without one answer
    int m_callBackTicks = 0;
    int m_action = 0;
    bool m_actionStarted = false;
    int m_mark = 0;              // frames sent when the clock was queued
    bool m_compared = false;
    bool m_uploadStopped = false;
    QString m_uploadText;
    int m_eventsSeen = 0;
    int m_sectionsSeen = 0;
};

} // namespace jobs
