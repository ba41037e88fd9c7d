#include "data/job_store.h"

#include "data/db.h"
#include "data/permissions.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSysInfo>

#include <cerrno>
#include <signal.h>
#include <sys/types.h>

namespace jobs {

namespace {

// First key of the item claims on the server (the second is the item).
constexpr int kClaimLock = 0x5441; // "TA"

const char* const kPending = "pendiente";
const char* const kRunning = "en curso";
const char* const kDone = "hecha";
const char* const kFailed = "fallida";
const char* const kClosed = "cerrada";

struct ActionCode {
    Action action;
    const char* code;
    const char* caption;
};
const ActionCode kActions[] = {
    {Action::SetClock, "hora", "Poner en hora"},
    {Action::DownloadEvents, "eventos", "Bajar eventos"},
    {Action::Compare, "comparar", "Comparar con el panel"},
    {Action::UploadChanges, "cambios", "Subir cambios"},
    {Action::UploadMarked, "marcados", "Subir marcados"},
};

QString actionCodes(const QList<Action>& actions)
{
    QStringList codes;
    for (const ActionCode& a : kActions)
        if (actions.contains(a.action))
            codes << QLatin1String(a.code);
    return codes.join(QLatin1Char(','));
}

QList<Action> actionsOf(const QString& codes)
{
    const QStringList list = codes.split(QLatin1Char(','), Qt::SkipEmptyParts);
    QList<Action> actions;
    for (const ActionCode& a : kActions)
        if (list.contains(QLatin1String(a.code)))
            actions << a.action;
    return actions;
}

QString stamp(const QDateTime& t)
{
    return db::dateTimeText(t);
}

QString dayFirst(const QDateTime& t)
{
    return t.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

bool onServerOf(const QSqlDatabase& c)
{
    return db::engine(c) == db::Engine::PostgreSQL;
}

// On a file: takes the writer's lock at the start of the transaction, so
// that two processes claiming at once wait for each other instead of
// failing when the second tries to write what it read.
void writeFirst(const QSqlDatabase& c)
{
    if (!onServerOf(c))
        db::exec(c, QStringLiteral("UPDATE tareas_cola SET estado = estado WHERE id_cola = -1"));
}

// Rows of the first table read in a server transaction that another runner
// is working on are passed over, not waited for.
QString skipLocked(const QSqlDatabase& c, const QString& table = {})
{
    if (!onServerOf(c))
        return {};
    return table.isEmpty() ? QStringLiteral(" FOR UPDATE SKIP LOCKED")
                           : QStringLiteral(" FOR UPDATE OF %1 SKIP LOCKED").arg(table);
}

const char* const kJobColumns =
    "SELECT id_tarea, nombre, acciones, alcance, por_filtro, filtro_panel, filtro_configuracion, filtro_desde, "
    "filtro_hasta, filtro_dias, programa, ventana, intentos_seguidos, intentos_mas, espera_minutos, proxima, "
    "filtro_grupo FROM tareas ";

Job jobOf(const QSqlQuery& q)
{
    Job j;
    j.id = q.value(0).toLongLong();
    j.name = q.value(1).toString();
    j.actions = actionsOf(q.value(2).toString());
    j.reach = Reach(qBound(0, q.value(3).toInt(), 2));
    j.byFilter = q.value(4).toInt() != 0;
    j.filter = {q.value(5).toInt(), q.value(6).toInt(), q.value(7).toString(), q.value(8).toString(), q.value(9).toInt()};
    j.schedule = q.value(10).toString();
    j.window = q.value(11).toString();
    j.triesAtOnce = q.value(12).toInt();
    j.moreTries = q.value(13).toInt();
    j.waitMinutes = q.value(14).toInt();
    if (!q.value(15).isNull())
        j.nextRun = db::parseDateTime(q.value(15).toString());
    j.filter.group = q.value(16).toInt();
    return j;
}

// The job's list of subscribers and the groups it keeps.
void readLists(const QSqlDatabase& c, Job& j)
{
    QSqlQuery s = db::exec(c, QStringLiteral("SELECT id_abonado FROM tareas_abonados WHERE id_tarea = ? ORDER BY id_abonado"),
                           {j.id});
    while (db::next(s))
        j.subscribers << s.value(0).toInt();
    QSqlQuery g = db::exec(c, QStringLiteral("SELECT id_grupo FROM tareas_grupos WHERE id_tarea = ? ORDER BY id_grupo"), {j.id});
    while (db::next(g))
        j.groups << g.value(0).toInt();
}

// The condition that keeps subscribers `alias` to `groups` (empty: all),
// adding its values.
QString inGroups(const QString& alias, const QList<int>& groups, QVariantList& values)
{
    if (groups.isEmpty())
        return QStringLiteral("1 = 1");
    for (int g : groups)
        values << g;
    return QStringLiteral("%1.id_grupo IN (%2)").arg(alias, QStringList(groups.size(), QStringLiteral("?")).join(QLatin1Char(',')));
}

void addResult(const QSqlDatabase& c, qint64 job, const QVariant& item, const QVariant& subscriber, int attempt,
               const QDateTime& start, const QDateTime& end, const QString& outcome, const QString& detail,
               const ItemResult& counts = {}, bool downloaded = false)
{
    db::exec(c,
             QStringLiteral("INSERT INTO tareas_resultados (id_tarea, id_cola, id_abonado, intento, inicio, fin, "
                            "estacion, resultado, detalle, eventos, diferencias, secciones, descarga) "
                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
             {job, item, subscriber, attempt, stamp(start), stamp(end), db::stationName(c), outcome,
              db::nullIfEmpty(detail), counts.events, counts.differences, counts.sectionsSent, downloaded ? 1 : 0});
}

void close(const QSqlDatabase& c, qint64 item, const char* state, const QDateTime& when)
{
    db::exec(c, QStringLiteral("UPDATE tareas_cola SET estado = ?, cerrado = ?, reclamo = NULL WHERE id_cola = ?"),
             {QLatin1String(state), stamp(when), item});
}

// The WHERE of the results tab's queries, with its values.
QString resultConditions(const ResultFilter& f, QVariantList& values)
{
    QStringList where{QStringLiteral("1 = 1")};
    if (f.job > 0) {
        where << QStringLiteral("r.id_tarea = ?");
        values << f.job;
    }
    if (f.from.isValid()) {
        where << QStringLiteral("r.inicio >= ?");
        values << stamp(f.from.startOfDay());
    }
    if (f.to.isValid()) {
        where << QStringLiteral("r.inicio < ?");
        values << stamp(f.to.addDays(1).startOfDay());
    }
    if (!f.outcome.isEmpty()) {
        where << QStringLiteral("r.resultado = ?");
        values << f.outcome;
    }
    if (f.operatorId > 0) {
        // A deleted subscriber's results stay: they name no one.
        where << QStringLiteral("(r.id_abonado IS NULL OR NOT EXISTS (SELECT 1 FROM abonados g WHERE g.id_abonado = "
                                "r.id_abonado) OR EXISTS (SELECT 1 FROM abonados g WHERE g.id_abonado = r.id_abonado "
                                "AND %1))").arg(permissions::groupCondition(QStringLiteral("g")));
        values << permissions::groupBinds(f.operatorId);
    }
    return where.join(QStringLiteral(" AND "));
}

QString csvField(QString s)
{
    if (s.contains(QLatin1Char(';')) || s.contains(QLatin1Char('"')) || s.contains(QLatin1Char('\n'))
        || s.contains(QLatin1Char('\r'))) {
        s.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + s + QLatin1Char('"');
    }
    return s;
}

QString isoDate(const QString& stored)
{
    const QDateTime t = db::parseDateTime(stored);
    return t.isValid() ? t.toString(Qt::ISODate) : stored;
}

} // namespace

QString outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done: return QStringLiteral("hecha");
    case Outcome::Busy: return QStringLiteral("ocupado");
    case Outcome::NoAnswer: return QStringLiteral("no contesta");
    case Outcome::NoPanelAnswer: return QStringLiteral("sin respuesta del panel");
    case Outcome::VerifyFailed: return QStringLiteral("verificación fallida");
    case Outcome::HeldElsewhere: return QStringLiteral("en uso");
    case Outcome::Cancelled: return QStringLiteral("cancelada");
    case Outcome::Refused: return QStringLiteral("rechazada");
    case Outcome::SubscriberGone: return QStringLiteral("abonado borrado");
    case Outcome::Failed: return QStringLiteral("fallida");
    }
    return QStringLiteral("fallida");
}

QStringList outcomeTexts()
{
    QStringList texts;
    for (Outcome o : {Outcome::Done, Outcome::Busy, Outcome::NoAnswer, Outcome::NoPanelAnswer, Outcome::VerifyFailed,
                      Outcome::HeldElsewhere, Outcome::Cancelled, Outcome::Refused, Outcome::SubscriberGone,
                      Outcome::Failed})
        texts << outcomeText(o);
    texts << QLatin1String(NoSubscribersText);
    return texts;
}

QString actionText(Action action)
{
    for (const ActionCode& a : kActions)
        if (a.action == action)
            return QString::fromUtf8(a.caption);
    return {};
}

QList<Action> allActions()
{
    QList<Action> all;
    for (const ActionCode& a : kActions)
        all << a.action;
    return all;
}

// --- Schedule and window ---------------------------------------------------

QString Schedule::text() const
{
    switch (kind) {
    case Kind::Now: return QStringLiteral("ahora");
    case Kind::Once: return QStringLiteral("una vez ") + at.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    case Kind::Every:
        return QStringLiteral("cada %1 %2 a las %3")
            .arg(days)
            .arg(days == 1 ? QStringLiteral("día") : QStringLiteral("días"), time.toString(QStringLiteral("HH:mm")));
    }
    return {};
}

std::optional<Schedule> Schedule::parse(const QString& text)
{
    const QString t = text.trimmed().toLower();
    Schedule s;
    if (t == QLatin1String("ahora"))
        return s;
    static const QRegularExpression once(QStringLiteral("^una vez\\s+(\\d{4}-\\d{2}-\\d{2})\\s+(\\d{1,2}:\\d{2})$"));
    static const QRegularExpression every(
        QStringLiteral("^cada\\s+(\\d{1,4})\\s+d[ií]as?\\s+a\\s+las\\s+(\\d{1,2}:\\d{2})$"));
    if (const auto m = once.match(t); m.hasMatch()) {
        const QDate d = QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd"));
        const QTime h = QTime::fromString(m.captured(2).rightJustified(5, QLatin1Char('0')), QStringLiteral("HH:mm"));
        if (!d.isValid() || !h.isValid())
            return std::nullopt;
        s.kind = Kind::Once;
        s.at = QDateTime(d, h);
        return s;
    }
    if (const auto m = every.match(t); m.hasMatch()) {
        const int days = m.captured(1).toInt();
        const QTime h = QTime::fromString(m.captured(2).rightJustified(5, QLatin1Char('0')), QStringLiteral("HH:mm"));
        if (days < 1 || days > 366 || !h.isValid())
            return std::nullopt;
        s.kind = Kind::Every;
        s.days = days;
        s.time = h;
        return s;
    }
    return std::nullopt;
}

QDateTime Schedule::firstRun(const QDateTime& from) const
{
    switch (kind) {
    case Kind::Now: return from;
    case Kind::Once: return at;
    case Kind::Every: {
        QDateTime t(from.date(), time);
        return t < from ? t.addDays(1) : t;
    }
    }
    return from;
}

std::optional<QDateTime> Schedule::following(const QDateTime& run, const QDateTime& now) const
{
    if (kind != Kind::Every)
        return std::nullopt;
    QDateTime next = run.addDays(days);
    while (next <= now)
        next = next.addDays(days);
    return next;
}

bool HoursWindow::contains(const QTime& t) const
{
    if (isAllDay())
        return true;
    if (from < to)
        return t >= from && t < to;
    return t >= from || t < to; // across midnight
}

QDateTime HoursWindow::nextOpen(const QDateTime& t) const
{
    if (contains(t.time()))
        return t;
    QDateTime open(t.date(), from);
    return open <= t ? open.addDays(1) : open;
}

QString HoursWindow::text() const
{
    if (isAllDay())
        return {};
    return from.toString(QStringLiteral("HH:mm")) + QLatin1Char('-') + to.toString(QStringLiteral("HH:mm"));
}

std::optional<HoursWindow> HoursWindow::parse(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return HoursWindow{};
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2}:\\d{2})\\s*-\\s*(\\d{1,2}:\\d{2})$"));
    const auto m = re.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const QTime from = QTime::fromString(m.captured(1).rightJustified(5, QLatin1Char('0')), QStringLiteral("HH:mm"));
    const QTime to = QTime::fromString(m.captured(2).rightJustified(5, QLatin1Char('0')), QStringLiteral("HH:mm"));
    if (!from.isValid() || !to.isValid() || from == to)
        return std::nullopt;
    return HoursWindow{from, to};
}

// --- Jobs ------------------------------------------------------------------

QString refusal(const Job& job, const QDateTime& now)
{
    if (job.name.trimmed().isEmpty())
        return QStringLiteral("La tarea no tiene nombre.");
    if (job.actions.isEmpty())
        return QStringLiteral("La tarea no tiene acciones: elija al menos una.");
    if (!job.byFilter && job.subscribers.isEmpty())
        return QStringLiteral("La tarea no tiene abonados: elíjalos de la lista o use un filtro.");
    if (job.byFilter && !job.filter.codeFrom.isEmpty() && !job.filter.codeTo.isEmpty()
        && job.filter.codeFrom > job.filter.codeTo)
        return QStringLiteral("El rango de códigos del filtro empieza después de donde termina.");
    const std::optional<Schedule> s = Schedule::parse(job.schedule);
    if (!s)
        return QStringLiteral("No se entiende la programación «%1». Escriba «ahora», «una vez AAAA-MM-DD HH:MM» "
                              "o «cada N días a las HH:MM».")
            .arg(job.schedule.trimmed());
    if (s->kind == Schedule::Kind::Once && s->at < now)
        return QStringLiteral("La fecha de la tarea (%1) ya pasó.").arg(dayFirst(s->at));
    if (!HoursWindow::parse(job.window))
        return QStringLiteral("No se entiende la ventana horaria «%1». Escríbala como 22:00-06:00.").arg(job.window.trimmed());
    if (job.triesAtOnce < 1 || job.moreTries < 0 || (job.moreTries > 0 && job.waitMinutes < 1))
        return QStringLiteral("Los reintentos no son válidos: al menos un intento seguido, y una espera de al menos "
                              "un minuto si hay más intentos.");
    return {};
}

bool withinGroups(const Job& job, const QList<int>& operatorGroups)
{
    if (operatorGroups.isEmpty())
        return true;
    if (job.byFilter && job.filter.group > 0 && operatorGroups.contains(job.filter.group))
        return true;
    if (job.groups.isEmpty())
        return false;
    for (int g : job.groups)
        if (!operatorGroups.contains(g))
            return false;
    return true;
}

QString saveJob(const QSqlDatabase& c, Job& job, const QDateTime& now, int maker)
{
    const QString why = refusal(job, now);
    if (!why.isEmpty())
        return why;
    const QList<int> makerGroups = maker > 0 ? permissions::operatorGroups(c, maker) : QList<int>{};
    if (job.id > 0 && !makerGroups.isEmpty()) {
        const std::optional<Job> stored = readJob(c, job.id);
        if (stored && !withinGroups(*stored, makerGroups))
            return QStringLiteral("La tarea alcanza abonados de otros grupos: usted no puede cambiarla.");
    }
    const Schedule s = *Schedule::parse(job.schedule);
    const HoursWindow w = *HoursWindow::parse(job.window);
    job.schedule = s.text();
    job.window = w.text();
    db::Transaction t(c);
    std::optional<QDateTime> next = s.firstRun(now);
    if (job.id > 0) {
        QSqlQuery old = db::exec(c, QStringLiteral("SELECT programa, proxima FROM tareas WHERE id_tarea = ? AND borrada = 0")
                                        + db::forUpdate(c),
                                 {job.id});
        if (!db::next(old))
            throw db::Error(QStringLiteral("La tarea fue borrada en otra estación."));
        // A job that ran and is saved again unchanged in its schedule does
        // not run again.
        if (old.value(0).toString() == job.schedule)
            next = old.value(1).isNull() ? std::nullopt : std::optional(db::parseDateTime(old.value(1).toString()));
    }
    const QVariantList values{job.name.trimmed(),
                              actionCodes(job.actions),
                              int(job.reach),
                              job.byFilter ? 1 : 0,
                              job.filter.panel > 0 ? QVariant(job.filter.panel) : QVariant(),
                              job.filter.configuracion > 0 ? QVariant(job.filter.configuracion) : QVariant(),
                              db::nullIfEmpty(job.filter.codeFrom.trimmed()),
                              db::nullIfEmpty(job.filter.codeTo.trimmed()),
                              job.filter.daysWithoutDownload > 0 ? QVariant(job.filter.daysWithoutDownload) : QVariant(),
                              job.schedule,
                              db::nullIfEmpty(job.window),
                              job.triesAtOnce,
                              job.moreTries,
                              job.waitMinutes,
                              next ? QVariant(stamp(*next)) : QVariant(QMetaType(QMetaType::QString)),
                              job.filter.group > 0 ? QVariant(job.filter.group) : QVariant()};
    if (job.id > 0) {
        db::exec(c,
                 QStringLiteral("UPDATE tareas SET nombre = ?, acciones = ?, alcance = ?, por_filtro = ?, filtro_panel = ?, "
                                "filtro_configuracion = ?, filtro_desde = ?, filtro_hasta = ?, filtro_dias = ?, "
                                "programa = ?, ventana = ?, intentos_seguidos = ?, intentos_mas = ?, espera_minutos = ?, "
                                "proxima = ?, filtro_grupo = ? WHERE id_tarea = ?"),
                 values + QVariantList{job.id});
        db::exec(c, QStringLiteral("DELETE FROM tareas_abonados WHERE id_tarea = ?"), {job.id});
        db::exec(c, QStringLiteral("DELETE FROM tareas_grupos WHERE id_tarea = ?"), {job.id});
    } else {
        QSqlQuery q = db::exec(c,
                               QStringLiteral("INSERT INTO tareas (nombre, acciones, alcance, por_filtro, filtro_panel, "
                                              "filtro_configuracion, filtro_desde, filtro_hasta, filtro_dias, programa, "
                                              "ventana, intentos_seguidos, intentos_mas, espera_minutos, proxima, filtro_grupo) "
                                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id_tarea"),
                               values);
        if (!db::next(q))
            throw db::Error(QStringLiteral("No se pudo guardar la tarea."));
        job.id = q.value(0).toLongLong();
    }
    if (!job.byFilter) {
        QList<qint32> seen;
        for (qint32 s : job.subscribers) {
            if (seen.contains(s))
                continue;
            seen << s;
            db::exec(c, QStringLiteral("INSERT INTO tareas_abonados (id_tarea, id_abonado) VALUES (?, ?)"), {job.id, s});
        }
        job.subscribers = seen;
    }
    // The maker's groups as they are now: a later change of its groups, or
    // its deletion, leaves the job as it was made.
    for (int g : makerGroups)
        db::exec(c, QStringLiteral("INSERT INTO tareas_grupos (id_tarea, id_grupo) VALUES (?, ?)"), {job.id, g});
    job.groups = makerGroups;
    t.commit();
    job.nextRun = next;
    return {};
}

QList<Job> listJobs(const QSqlDatabase& c, int operatorId)
{
    QList<Job> jobs;
    QSqlQuery q = db::exec(c, QLatin1String(kJobColumns) + QStringLiteral("WHERE borrada = 0 ORDER BY nombre, id_tarea"));
    while (db::next(q))
        jobs << jobOf(q);
    const QList<int> mine = operatorId > 0 ? permissions::operatorGroups(c, operatorId) : QList<int>{};
    QList<Job> seen;
    for (Job& j : jobs) {
        readLists(c, j);
        if (withinGroups(j, mine))
            seen << j;
    }
    return seen;
}

std::optional<Job> readJob(const QSqlDatabase& c, qint64 id)
{
    QSqlQuery q = db::exec(c, QLatin1String(kJobColumns) + QStringLiteral("WHERE id_tarea = ? AND borrada = 0"), {id});
    if (!db::next(q))
        return std::nullopt;
    Job j = jobOf(q);
    readLists(c, j);
    return j;
}

void removeJob(const QSqlDatabase& c, qint64 id)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("DELETE FROM tareas_cola WHERE id_tarea = ? AND estado = ?"), {id, QLatin1String(kPending)});
    const bool keep = db::scalar(c, QStringLiteral("SELECT count(*) FROM tareas_resultados WHERE id_tarea = ?"), {id}).toInt() > 0
        || db::scalar(c, QStringLiteral("SELECT count(*) FROM tareas_cola WHERE id_tarea = ?"), {id}).toInt() > 0;
    if (keep)
        db::exec(c, QStringLiteral("UPDATE tareas SET borrada = 1, proxima = NULL WHERE id_tarea = ?"), {id});
    else
        db::exec(c, QStringLiteral("DELETE FROM tareas WHERE id_tarea = ?"), {id});
    t.commit();
}

QString subscriberLabel(const QSqlDatabase& c, qint32 id)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT codigo, apellido, nombre FROM abonados WHERE id_abonado = ?"), {id});
    if (!db::next(q))
        return QStringLiteral("%1 (borrado)").arg(id);
    return QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()}.join(QLatin1Char(' ')).trimmed();
}

QList<qint32> expandFilter(const QSqlDatabase& c, const Filter& f, const QDateTime& now, const QList<int>& groups)
{
    QStringList where{QStringLiteral("1 = 1")};
    QVariantList values;
    if (f.panel > 0) {
        where << QStringLiteral("a.id_panel = ?");
        values << f.panel;
    }
    if (f.configuracion > 0) {
        where << QStringLiteral("a.id_configuracion = ?");
        values << f.configuracion;
    }
    if (!f.codeFrom.trimmed().isEmpty()) {
        where << QStringLiteral("(a.codigo >= ? AND a.codigo IS NOT NULL)");
        values << f.codeFrom.trimmed();
    }
    if (!f.codeTo.trimmed().isEmpty()) {
        where << QStringLiteral("(a.codigo <= ? AND a.codigo IS NOT NULL)");
        values << f.codeTo.trimmed();
    }
    if (f.daysWithoutDownload > 0) {
        where << QStringLiteral("NOT EXISTS (SELECT 1 FROM tareas_resultados r WHERE r.id_abonado = a.id_abonado "
                                "AND r.descarga = 1 AND r.fin >= ?)");
        values << stamp(now.addDays(-f.daysWithoutDownload));
    }
    if (f.group > 0) {
        where << QStringLiteral("a.id_grupo = ?");
        values << f.group;
    }
    where << inGroups(QStringLiteral("a"), groups, values);
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT a.id_abonado FROM abonados a WHERE %1 ORDER BY a.id_abonado")
                               .arg(where.join(QStringLiteral(" AND "))),
                           values);
    QList<qint32> ids;
    while (db::next(q))
        ids << q.value(0).toInt();
    return ids;
}

Retry retryAfter(const Job& job, int tries, const QDateTime& end)
{
    const int total = job.triesAtOnce + job.moreTries;
    if (tries >= total)
        return {};
    // The first tries follow each other at once; the others wait.
    return {true, tries < job.triesAtOnce ? end : end.addSecs(qint64(job.waitMinutes) * 60)};
}

// --- Results and health ------------------------------------------------------

int countResults(const QSqlDatabase& c, const ResultFilter& filter)
{
    QVariantList values;
    const QString where = resultConditions(filter, values);
    return db::scalar(c, QStringLiteral("SELECT count(*) FROM tareas_resultados r WHERE ") + where, values).toInt();
}

QList<ResultRow> resultPage(const QSqlDatabase& c, const ResultFilter& filter, qint64 beforeId, int limit)
{
    QVariantList values;
    QString where = resultConditions(filter, values);
    if (beforeId > 0) {
        where += QStringLiteral(" AND r.id_resultado < ?");
        values << beforeId;
    }
    values << limit;
    // Newest first by the key: a page costs its own rows, however many there are.
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT r.id_resultado, t.nombre, r.id_abonado, a.apellido, a.nombre, r.inicio, "
                                          "r.fin, r.estacion, r.resultado, r.detalle, r.intento, r.eventos, "
                                          "r.diferencias, r.secciones FROM tareas_resultados r "
                                          "LEFT JOIN tareas t ON t.id_tarea = r.id_tarea "
                                          "LEFT JOIN abonados a ON a.id_abonado = r.id_abonado WHERE %1 "
                                          "ORDER BY r.id_resultado DESC LIMIT ?")
                               .arg(where),
                           values);
    QList<ResultRow> rows;
    while (db::next(q)) {
        ResultRow r;
        r.id = q.value(0).toLongLong();
        r.job = q.value(1).toString();
        r.subscriber = q.value(2).toInt();
        if (!q.value(3).isNull())
            r.subscriberName = (q.value(3).toString() + QLatin1Char(' ') + q.value(4).toString()).trimmed();
        r.start = q.value(5).toString();
        r.end = q.value(6).toString();
        r.station = q.value(7).toString();
        r.outcome = q.value(8).toString();
        r.detail = q.value(9).toString();
        r.attempt = q.value(10).toInt();
        r.events = q.value(11).toInt();
        r.differences = q.value(12).toInt();
        r.sections = q.value(13).toInt();
        rows << r;
    }
    return rows;
}

QByteArray resultsCsv(const QList<ResultRow>& rows)
{
    QStringList lines{QStringLiteral("Tarea;Abonado;Nombre;Inicio;Fin;Estación;Resultado;Detalle;Intento;Eventos;"
                                     "Diferencias;Secciones enviadas")};
    for (const ResultRow& r : rows)
        lines << QStringList{csvField(r.job),
                             r.subscriber > 0 ? QString::number(r.subscriber) : QString(),
                             csvField(r.subscriberName),
                             isoDate(r.start),
                             isoDate(r.end),
                             csvField(r.station),
                             csvField(r.outcome),
                             csvField(r.detail),
                             QString::number(r.attempt),
                             QString::number(r.events),
                             QString::number(r.differences),
                             QString::number(r.sections)}
                     .join(QLatin1Char(';'));
    // The mark at the start tells spreadsheets the text is UTF-8.
    return QByteArray("\xEF\xBB\xBF") + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

QList<AttentionRow> attention(const QSqlDatabase& c, int days, const QDateTime& now, int operatorId)
{
    QVariantList binds{QLatin1String(kDone), QLatin1String(kFailed), QLatin1String(kClosed)};
    binds << permissions::groupBinds(operatorId);
    const QString since = stamp(now.addDays(-days));
    QSqlQuery q = db::exec(c, QStringLiteral(
        "SELECT a.id_abonado, a.codigo, a.apellido, a.nombre, "
        "(SELECT max(r.fin) FROM tareas_resultados r WHERE r.id_abonado = a.id_abonado AND r.descarga = 1), "
        "(SELECT r.resultado FROM tareas_resultados r WHERE r.id_abonado = a.id_abonado "
        " ORDER BY r.id_resultado DESC LIMIT 1), "
        "(SELECT q.estado FROM tareas_cola q WHERE q.id_abonado = a.id_abonado AND q.estado IN (?, ?, ?) "
        " ORDER BY q.cerrado DESC, q.id_cola DESC LIMIT 1) "
        "FROM abonados a WHERE %1 ORDER BY a.id_abonado").arg(permissions::groupCondition(QStringLiteral("a"))),
        binds);
    QList<AttentionRow> rows;
    while (db::next(q)) {
        AttentionRow r;
        r.subscriber = q.value(0).toInt();
        r.code = q.value(1).toString();
        r.name = (q.value(2).toString() + QLatin1Char(' ') + q.value(3).toString()).trimmed();
        r.lastDownload = q.value(4).toString();
        r.lastOutcome = q.value(5).toString();
        if (q.value(5).isNull())
            r.reason = QStringLiteral("nunca contactado");
        else if (q.value(6).toString() == QLatin1String(kFailed))
            r.reason = QStringLiteral("última tarea fallida");
        else if (r.lastDownload.isEmpty() || r.lastDownload < since)
            r.reason = QStringLiteral("sin descarga");
        else
            continue;
        rows << r;
    }
    return rows;
}

// --- The queue -----------------------------------------------------------------

DatabaseJobQueue::DatabaseJobQueue(const QSqlDatabase& c) : m_c(c)
{
    if (onServer())
        return;
    m_holder = QSysInfo::machineHostName() + QLatin1Char(':') + QString::number(QCoreApplication::applicationPid());
    db::Transaction t(m_c);
    writeFirst(m_c);
    db::exec(m_c, QStringLiteral("UPDATE tareas_cola SET estado = ?, reclamo = NULL WHERE estado = ? "
                                 "AND (reclamo = ? OR reclamo IS NULL)"),
             {QLatin1String(kPending), QLatin1String(kRunning), m_holder});
    t.commit();
}

bool DatabaseJobQueue::onServer() const
{
    return onServerOf(m_c);
}

bool DatabaseJobQueue::holderGone(const QString& holder) const
{
    // A file is used from one machine; a holder of another machine is
    // left alone, as nothing here can tell whether it still runs.
    const qsizetype colon = holder.lastIndexOf(QLatin1Char(':'));
    if (colon < 0 || holder.left(colon) != QSysInfo::machineHostName())
        return holder.isEmpty();
    bool ok = false;
    const qint64 pid = holder.mid(colon + 1).toLongLong(&ok);
    if (!ok || pid <= 0)
        return true;
    if (holder == m_holder)
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

bool DatabaseJobQueue::claim(qint64 item)
{
    if (!onServer())
        return true;
    // A lock of the session: the server lets it go when the runner dies.
    return db::scalar(m_c, QStringLiteral("SELECT pg_try_advisory_lock(CAST(? AS integer), CAST(? AS integer))"),
                      {kClaimLock, item})
        .toBool();
}

void DatabaseJobQueue::unlock(qint64 item)
{
    if (onServer())
        db::exec(m_c, QStringLiteral("SELECT pg_advisory_unlock(CAST(? AS integer), CAST(? AS integer))"), {kClaimLock, item});
}

void DatabaseJobQueue::startDueRuns(const QDateTime& now)
{
    db::Transaction t(m_c);
    writeFirst(m_c);
    QSqlQuery due = db::exec(m_c,
                             QLatin1String(kJobColumns)
                                 + QStringLiteral("WHERE borrada = 0 AND proxima IS NOT NULL AND proxima <= ? "
                                                  "ORDER BY proxima, id_tarea")
                                 + skipLocked(m_c),
                             {stamp(now)});
    QList<Job> jobs;
    while (db::next(due))
        jobs << jobOf(due);
    for (const Job& job : jobs) {
        const QDateTime run = *job.nextRun;
        QList<qint32> subscribers;
        QList<int> groups;
        QSqlQuery g = db::exec(m_c, QStringLiteral("SELECT id_grupo FROM tareas_grupos WHERE id_tarea = ?"), {job.id});
        while (db::next(g))
            groups << g.value(0).toInt();
        if (job.byFilter) {
            subscribers = expandFilter(m_c, job.filter, now, groups);
        } else {
            // A subscriber deleted meanwhile stays, to be recorded as such;
            // one outside the maker's groups does not.
            QVariantList values{job.id};
            const QString within = inGroups(QStringLiteral("a"), groups, values);
            QSqlQuery s = db::exec(m_c, QStringLiteral("SELECT t.id_abonado FROM tareas_abonados t LEFT JOIN abonados a "
                                                       "ON a.id_abonado = t.id_abonado WHERE t.id_tarea = ? "
                                                       "AND (a.id_abonado IS NULL OR %1) ORDER BY t.id_abonado")
                                       .arg(within),
                                   values);
            while (db::next(s))
                subscribers << s.value(0).toInt();
        }
        if (subscribers.isEmpty())
            addResult(m_c, job.id, QVariant(), QVariant(), 0, now, now, QLatin1String(NoSubscribersText),
                      QStringLiteral("Ningún abonado cumple el filtro."));
        for (qint32 s : subscribers)
            db::exec(m_c,
                     QStringLiteral("INSERT INTO tareas_cola (id_tarea, corrida, id_abonado, estado, intentos, proximo) "
                                    "VALUES (?, ?, ?, ?, 0, ?)"),
                     {job.id, stamp(run), s, QLatin1String(kPending), stamp(run)});
        const std::optional<Schedule> schedule = Schedule::parse(job.schedule);
        const std::optional<QDateTime> next = schedule ? schedule->following(run, now) : std::nullopt;
        db::exec(m_c, QStringLiteral("UPDATE tareas SET proxima = ? WHERE id_tarea = ?"),
                 {next ? QVariant(stamp(*next)) : QVariant(QMetaType(QMetaType::QString)), job.id});
    }
    t.commit();
}

std::optional<JobItem> DatabaseJobQueue::claimNext(const QDateTime& now)
{
    startDueRuns(now);
    QString holder = m_holder;
    if (onServer())
        holder = db::stationName(m_c) + QLatin1Char(':')
            + db::scalar(m_c, QStringLiteral("SELECT pg_backend_pid()")).toString();
    db::Transaction t(m_c);
    writeFirst(m_c);
    // Waiting items first; then those a runner holds (on a server, taken
    // only when its session is gone; on a file, when its process is).
    QSqlQuery q = db::exec(m_c,
                           QStringLiteral("SELECT q.id_cola, q.id_tarea, q.id_abonado, q.estado, q.intentos, q.reclamo, "
                                          "t.acciones, t.alcance, t.ventana FROM tareas_cola q "
                                          "JOIN tareas t ON t.id_tarea = q.id_tarea "
                                          "WHERE (q.estado = ? AND q.proximo <= ?) OR (q.estado = ? AND q.reclamo <> ?) "
                                          "ORDER BY CASE WHEN q.estado = ? THEN 0 ELSE 1 END, q.proximo, q.id_cola "
                                          "LIMIT 50")
                               + skipLocked(m_c, QStringLiteral("q")),
                           {QLatin1String(kPending), stamp(now), QLatin1String(kRunning), holder, QLatin1String(kPending)});
    struct Candidate {
        JobItem item;
        QString state, holder, window;
    };
    QList<Candidate> candidates;
    while (db::next(q)) {
        Candidate k;
        k.item.item = q.value(0).toLongLong();
        k.item.job = q.value(1).toLongLong();
        k.item.subscriber = q.value(2).toInt();
        k.state = q.value(3).toString();
        k.item.attempt = q.value(4).toInt() + 1;
        k.holder = q.value(5).toString();
        k.item.actions = actionsOf(q.value(6).toString());
        k.item.reach = Reach(qBound(0, q.value(7).toInt(), 2));
        k.window = q.value(8).toString();
        candidates << k;
    }
    std::optional<JobItem> claimed;
    for (const Candidate& k : candidates) {
        if (k.state == QLatin1String(kRunning) && !onServer() && !holderGone(k.holder))
            continue;
        const HoursWindow window = HoursWindow::parse(k.window).value_or(HoursWindow{});
        if (!window.contains(now.time())) {
            // Not before the window opens: the runner sleeps until then.
            db::exec(m_c, QStringLiteral("UPDATE tareas_cola SET proximo = ? WHERE id_cola = ? AND estado = ?"),
                     {stamp(window.nextOpen(now)), k.item.item, QLatin1String(kPending)});
            continue;
        }
        if (!claim(k.item.item))
            continue;
        if (db::scalar(m_c, QStringLiteral("SELECT count(*) FROM abonados WHERE id_abonado = ?"), {k.item.subscriber}).toInt() == 0) {
            addResult(m_c, k.item.job, k.item.item, k.item.subscriber, k.item.attempt, now, now,
                      outcomeText(Outcome::SubscriberGone), QStringLiteral("El abonado %1 fue borrado.").arg(k.item.subscriber));
            close(m_c, k.item.item, kClosed, now);
            unlock(k.item.item);
            continue;
        }
        // Only when nobody took it since it was read.
        QSqlQuery u = db::exec(m_c,
                               QStringLiteral("UPDATE tareas_cola SET estado = ?, reclamo = ? WHERE id_cola = ? AND estado = ? "
                                              "AND COALESCE(reclamo, '') = COALESCE(?, '')"),
                               {QLatin1String(kRunning), holder, k.item.item, k.state, k.holder});
        if (u.numRowsAffected() != 1) {
            unlock(k.item.item);
            continue;
        }
        claimed = k.item;
        break;
    }
    t.commit();
    return claimed;
}

void DatabaseJobQueue::record(const JobItem& item, const ItemResult& result)
{
    const QDateTime end = result.end.isValid() ? result.end : QDateTime::currentDateTime();
    const QDateTime start = result.start.isValid() ? result.start : end;
    {
        db::Transaction t(m_c);
        writeFirst(m_c);
        QSqlQuery q = db::exec(m_c,
                               QStringLiteral("SELECT q.estado, q.intentos, q.reclamo, t.intentos_seguidos, t.intentos_mas, "
                                              "t.espera_minutos, t.acciones FROM tareas_cola q JOIN tareas t "
                                              "ON t.id_tarea = q.id_tarea WHERE q.id_cola = ?")
                                   + (onServer() ? QStringLiteral(" FOR UPDATE OF q") : QString()),
                               {item.item});
        const bool found = db::next(q);
        const bool downloaded = result.outcome == Outcome::Done && found
            && actionsOf(q.value(6).toString()).contains(Action::DownloadEvents);
        addResult(m_c, item.job, item.item, item.subscriber, item.attempt, start, end, outcomeText(result.outcome),
                  result.detail, result, downloaded);
        QString holder = m_holder;
        if (onServer())
            holder = db::stationName(m_c) + QLatin1Char(':')
                + db::scalar(m_c, QStringLiteral("SELECT pg_backend_pid()")).toString();
        // A claim taken over meanwhile (this runner was thought gone) is the
        // other runner's to settle: the try is recorded, the item left alone.
        if (found && q.value(0).toString() == QLatin1String(kRunning) && q.value(2).toString() == holder) {
            Job rule;
            rule.triesAtOnce = q.value(3).toInt();
            rule.moreTries = q.value(4).toInt();
            rule.waitMinutes = q.value(5).toInt();
            const int tries = q.value(1).toInt();
            switch (result.outcome) {
            case Outcome::Done:
                close(m_c, item.item, kDone, end);
                break;
            case Outcome::Refused:
            case Outcome::SubscriberGone:
                close(m_c, item.item, kClosed, end);
                break;
            case Outcome::HeldElsewhere:
                // Another station's console has it: no try was made.
                db::exec(m_c, QStringLiteral("UPDATE tareas_cola SET estado = ?, proximo = ?, reclamo = NULL WHERE id_cola = ?"),
                         {QLatin1String(kPending), stamp(end.addSecs(qint64(qMax(1, rule.waitMinutes)) * 60)), item.item});
                break;
            default: {
                const Retry r = retryAfter(rule, tries + 1, end);
                if (r.again)
                    db::exec(m_c,
                             QStringLiteral("UPDATE tareas_cola SET estado = ?, intentos = ?, proximo = ?, reclamo = NULL "
                                            "WHERE id_cola = ?"),
                             {QLatin1String(kPending), tries + 1, stamp(r.at), item.item});
                else
                    db::exec(m_c,
                             QStringLiteral("UPDATE tareas_cola SET estado = ?, intentos = ?, cerrado = ?, reclamo = NULL "
                                            "WHERE id_cola = ?"),
                             {QLatin1String(kFailed), tries + 1, stamp(end), item.item});
            }
            }
        }
        t.commit();
    }
    unlock(item.item);
}

void DatabaseJobQueue::release(const JobItem& item, const QDateTime& notBefore)
{
    {
        db::Transaction t(m_c);
        writeFirst(m_c);
        QString holder = m_holder;
        if (onServer())
            holder = db::stationName(m_c) + QLatin1Char(':')
                + db::scalar(m_c, QStringLiteral("SELECT pg_backend_pid()")).toString();
        db::exec(m_c, QStringLiteral("UPDATE tareas_cola SET estado = ?, proximo = ?, reclamo = NULL "
                                     "WHERE id_cola = ? AND estado = ? AND reclamo = ?"),
                 {QLatin1String(kPending), stamp(notBefore), item.item, QLatin1String(kRunning), holder});
        t.commit();
    }
    unlock(item.item);
}

std::optional<QDateTime> DatabaseJobQueue::nextDue()
{
    std::optional<QDateTime> due;
    auto consider = [&due](const QVariant& v) {
        if (v.isNull())
            return;
        const QDateTime t = db::parseDateTime(v.toString());
        if (t.isValid() && (!due || t < *due))
            due = t;
    };
    consider(db::scalar(m_c, QStringLiteral("SELECT min(proximo) FROM tareas_cola WHERE estado = ?"), {QLatin1String(kPending)}));
    consider(db::scalar(m_c, QStringLiteral("SELECT min(proxima) FROM tareas WHERE borrada = 0 AND proxima IS NOT NULL")));
    // An item whose runner's session ended is due now.
    if (onServer()
        && db::scalar(m_c,
                      QStringLiteral("SELECT count(*) FROM tareas_cola q WHERE q.estado = ? AND NOT EXISTS "
                                     "(SELECT 1 FROM pg_locks l WHERE l.locktype = 'advisory' AND l.classid = ? "
                                     "AND l.objid = q.id_cola AND l.objsubid = 2 AND l.granted "
                                     "AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database()))"),
                      {QLatin1String(kRunning), kClaimLock})
                   .toInt()
            > 0)
        consider(QVariant(stamp(QDateTime::currentDateTime())));
    return due;
}

} // namespace jobs
