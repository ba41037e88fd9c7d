#pragma once
// What the job runner and the job store agree on: the items of the queue
// ("Tareas"), what one try of an item came to, and the queue the runner
// takes items from. The store keeps jobs, items and results in the
// database; the runner reaches the panels. Neither knows how the other works.

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace jobs {

// In the order they run when a job has several.
enum class Action { SetClock, DownloadEvents, Compare, UploadChanges, UploadMarked };

// How the panel is reached, as the console's keys do.
enum class Reach { Dial, DoubleCall, IpCallBack };

enum class Outcome {
    Done,           // "hecha"
    Busy,           // "ocupado"
    NoAnswer,       // "no contesta"
    NoPanelAnswer,  // "sin respuesta del panel"
    VerifyFailed,   // "verificación fallida"
    HeldElsewhere,  // "en uso por ..." (detail names the station and operator)
    Cancelled,      // "cancelada"
    Refused,        // an action not allowed as the job stands (detail says why)
    SubscriberGone, // "abonado borrado"
    Failed,         // anything else: detail says what
};

struct JobItem {
    qint64 item = 0;   // the queue row
    qint64 job = 0;
    qint32 subscriber = 0; // id_abonado
    QList<Action> actions;
    Reach reach = Reach::Dial;
    int attempt = 1;   // 1 for the first try
};

struct ItemResult {
    Outcome outcome = Outcome::Failed;
    QString detail;
    QDateTime start;
    QDateTime end;
    int events = 0;       // events stored
    int differences = 0;  // values that differ from the panel
    int sectionsSent = 0;
};

// The queue as the runner sees it. Each call may throw db::Error; the runner
// stops on it with one message (a full disk or a lost server is not a
// failure of the item).
class JobQueue {
public:
    virtual ~JobQueue() = default;
    // Claims the next item due at `now` for this runner (no other runner gets
    // it while the claim stands; a runner that dies loses its claims).
    virtual std::optional<JobItem> claimNext(const QDateTime& now) = 0;
    // Records the try: stores its result row, and either closes the item or
    // schedules its next try by the job's retry rule.
    virtual void record(const JobItem& item, const ItemResult& result) = 0;
    // Gives back an item claimed but not tried (the runner stopped or the
    // operator took the line first): no try is counted.
    virtual void release(const JobItem& item, const QDateTime& notBefore) = 0;
    // When an item next falls due (none: nothing waits), so an idle runner
    // sleeps until then instead of polling.
    virtual std::optional<QDateTime> nextDue() = 0;
};

} // namespace jobs
