#pragma once
// Jobs ("Tareas"), their queue and their results in the database: a job is
// saved only when it can run; its runs become one queue item per subscriber
// when they fall due; each try of an item leaves a result row, and the job's
// retry rule decides whether the item is tried again. DatabaseJobQueue is
// the queue the runner takes items from. Every function throws db::Error.

#include "data/job_queue.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>

namespace jobs {

// The text of an outcome as results show it ("hecha", "ocupado" ...).
QString outcomeText(Outcome outcome);
// The outcome texts a result may have, for a filter: the outcomes in order,
// then "sin abonados" (a run whose filter found nobody).
QStringList outcomeTexts();
inline const char* const NoSubscribersText = "sin abonados";

// The actions' captions, in the order they run.
QString actionText(Action action);
QList<Action> allActions();

// When a job runs: "ahora", "una vez 2026-12-08 22:00" or
// "cada 3 días a las 22:00".
struct Schedule {
    enum class Kind { Now, Once, Every };
    Kind kind = Kind::Now;
    QDateTime at; // Once
    int days = 1; // Every
    QTime time;   // Every
    QString text() const;
    // nullopt when the text cannot be read.
    static std::optional<Schedule> parse(const QString& text);
    // The first run at or after `from` (Now: `from` itself).
    QDateTime firstRun(const QDateTime& from) const;
    // The run after the one that started at `run`, skipping those before
    // `now` (a station that was off does not make up every missed day); none
    // for Now and Once.
    std::optional<QDateTime> following(const QDateTime& run, const QDateTime& now) const;
};

// The hours in which calls may start, e.g. 22:00-06:00 across midnight. An
// empty window is the whole day.
struct HoursWindow {
    QTime from, to;
    bool isAllDay() const { return !from.isValid(); }
    bool contains(const QTime& t) const;
    // `t` itself when inside, else the next opening.
    QDateTime nextOpen(const QDateTime& t) const;
    QString text() const;
    // Empty text: all day; nullopt when the text cannot be read.
    static std::optional<HoursWindow> parse(const QString& text);
};

// Subscribers chosen when a run starts. Zero or empty means "any".
struct Filter {
    int panel = 0;          // id_panel
    int configuracion = 0;  // id_configuracion
    QString codeFrom, codeTo; // codigo range, both ends included
    int daysWithoutDownload = 0; // "sin descarga de eventos hace N días"
    int group = 0;          // id_grupo
};

struct Job {
    qint64 id = 0;
    QString name;
    QList<Action> actions;
    Reach reach = Reach::Dial;
    bool byFilter = false;
    QList<qint32> subscribers; // when not by filter
    Filter filter;
    // The groups of the operator who saved it (empty: all), kept with the
    // job: the runner has no operator, and the job reaches no subscriber
    // its maker could not work on, by filter or by list.
    QList<int> groups;
    QString schedule = QStringLiteral("ahora");
    QString window; // empty: all day
    int triesAtOnce = 2;
    int moreTries = 6;
    int waitMinutes = 10;
    std::optional<QDateTime> nextRun; // as stored
};

// Why the job cannot be saved, as a sentence for the operator; empty when it can.
QString refusal(const Job& job, const QDateTime& now);
// Saves the job (new when id is 0, which is then set) for operator `maker`
// (0: none, as for all groups), whose groups the job keeps, and plans its
// first run. Returns the refusal instead when there is one, saving nothing;
// a maker limited to groups may not change a job it may not see.
QString saveJob(const QSqlDatabase& c, Job& job, const QDateTime& now, int maker = 0);
// Whether an operator limited to `operatorGroups` (empty: not limited) may
// see and change the job: only when it reaches no subscriber outside them,
// that is when its filter names one of those groups or the groups it keeps
// are some of them. A job kept for all groups is not for a limited operator.
bool withinGroups(const Job& job, const QList<int>& operatorGroups);
// The jobs not removed, by name; those operator `operatorId` (0: any) may see.
QList<Job> listJobs(const QSqlDatabase& c, int operatorId = 0);
std::optional<Job> readJob(const QSqlDatabase& c, qint64 id);
// Removes the job and its waiting items; a job with results keeps its row
// (marked removed) so that they keep its name.
void removeJob(const QSqlDatabase& c, qint64 id);
// "CODIGO APELLIDO NOMBRE" of a subscriber; "N (borrado)" for one deleted.
QString subscriberLabel(const QSqlDatabase& c, qint32 id);
// The subscribers the filter selects at `now`, by number, among those of
// `groups` (empty: all).
QList<qint32> expandFilter(const QSqlDatabase& c, const Filter& filter, const QDateTime& now,
                           const QList<int>& groups = {});

// After a failed try: whether another try follows and when. Pure: the rule
// the queue applies. `tries` counts the tries made so far, this one included.
struct Retry {
    bool again = false;
    QDateTime at;
};
Retry retryAfter(const Job& job, int tries, const QDateTime& end);

// The results tab.
struct ResultFilter {
    qint64 job = 0;          // 0: every job
    QDate from, to;          // invalid: open
    QString outcome;         // empty: any
    int operatorId = 0;      // only subscribers of this operator's groups (0: all)
};
struct ResultRow {
    qint64 id = 0;
    QString job;             // the job's name
    qint32 subscriber = 0;   // 0: none (a run without subscribers)
    QString subscriberName;  // "APELLIDO NOMBRE"; empty when deleted
    QString start, end, station, outcome, detail; // dates as stored
    int attempt = 0, events = 0, differences = 0, sections = 0;
};
int countResults(const QSqlDatabase& c, const ResultFilter& filter);
// Newest first; the rows older than `beforeId` (0: from the newest).
QList<ResultRow> resultPage(const QSqlDatabase& c, const ResultFilter& filter, qint64 beforeId, int limit);
// The results as CSV: UTF-8, a header row, ';' between fields, ISO-8601 dates.
QByteArray resultsCsv(const QList<ResultRow>& rows);

// The health view: subscribers whose last successful event download is
// older than `days`, whose last job item failed, or never contacted.
struct AttentionRow {
    qint32 subscriber = 0;
    QString code, name;
    QString lastDownload; // stored date; empty: never
    QString lastOutcome;  // of the last try; empty: never tried
    QString reason;       // "sin descarga", "última tarea fallida", "nunca contactado"
};
// Only subscribers of operator `operatorId`'s groups (0: all).
QList<AttentionRow> attention(const QSqlDatabase& c, int days, const QDateTime& now, int operatorId = 0);

// The queue kept in the database. On a server several runners share it: an
// item is claimed under a lock of the runner's session, so that no other
// runner takes it while the claim stands and a runner that dies loses it.
// On a file each runner names itself by machine and process; an item whose
// process is gone is taken again.
class DatabaseJobQueue : public JobQueue {
public:
    // On a file, items still held by this process (a runner that stopped
    // without giving them back) or by a process that ended are given back.
    explicit DatabaseJobQueue(const QSqlDatabase& c);

    std::optional<JobItem> claimNext(const QDateTime& now) override;
    void record(const JobItem& item, const ItemResult& result) override;
    void release(const JobItem& item, const QDateTime& notBefore) override;
    std::optional<QDateTime> nextDue() override;

    // Makes the runs of the jobs due at `now` into queue items (claimNext
    // does it first).
    void startDueRuns(const QDateTime& now);

private:
    bool onServer() const;
    bool claim(qint64 item);
    void unlock(qint64 item);
    bool holderGone(const QString& holder) const;

    QSqlDatabase m_c;
    QString m_holder; // what reclamo says of this runner
};

} // namespace jobs
