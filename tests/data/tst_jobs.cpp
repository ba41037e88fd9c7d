// The job queue in the database: what a job must have to be saved, the
// retry rule, the hours window, filters evaluated when a run starts, and the
// claim: one runner per item, and an item of a runner that died is taken
// again, on a file and on a shared server.

#include "testsupport.h"

#include "data/db.h"
#include "data/job_store.h"
#include "data/permissions.h"
#include "data/schema_upgrade.h"
#include "data/settings_store.h"

#include <QtTest>
#include <thread>

#include <unistd.h>

using namespace jobs;

namespace {

QSqlDatabase c()
{
    return stationDb();
}

int count(const QString& sql, const QVariantList& v = {})
{
    return db::scalar(c(), sql, v).toInt();
}

void addSubscriber(int id, const QString& code, int panel = 1)
{
    db::exec(c(),
             "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, "
             "numero, localidad, id_provincia, tel_1) VALUES (?, ?, ?, 1, 'A', 'B', 'C', '1', 'D', 1, '1')",
             {id, code, panel});
}

const QDateTime T(QDate(2030, 3, 1), QTime(10, 0));

Job jobFor(const QList<qint32>& subscribers, const QString& schedule = "ahora")
{
    Job j;
    j.name = "NOCHE";
    j.actions = {Action::DownloadEvents};
    j.subscribers = subscribers;
    j.schedule = schedule;
    return j;
}

qint64 saved(Job j, const QDateTime& now = T)
{
    const QString why = saveJob(c(), j, now);
    if (!why.isEmpty())
        qFatal("not saved: %s", qPrintable(why));
    return j.id;
}

ItemResult outcome(Outcome o, const QDateTime& end = T)
{
    ItemResult r;
    r.outcome = o;
    r.start = end;
    r.end = end;
    return r;
}

QString state(qint64 item)
{
    return db::scalar(c(), "SELECT estado FROM tareas_cola WHERE id_cola = ?", {item}).toString();
}

} // namespace

class tst_jobs : public QObject {
    Q_OBJECT
private slots:
    void refusedWithTheReason_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no name") << "name" << "La tarea no tiene nombre.";
        QTest::newRow("no actions") << "actions" << "La tarea no tiene acciones: elija al menos una.";
        QTest::newRow("no subscribers") << "subscribers" << "La tarea no tiene abonados: elíjalos de la lista o use un filtro.";
        QTest::newRow("past date") << "past" << "La fecha de la tarea (01/03/2030 09:59) ya pasó.";
        QTest::newRow("unreadable schedule") << "schedule" << "No se entiende la programación «mañana temprano».";
        QTest::newRow("unreadable window") << "window" << "No se entiende la ventana horaria «22-6».";
        QTest::newRow("bad day count") << "days" << "No se entiende la programación «cada 0 días a las 22:00».";
        QTest::newRow("sound") << "" << "";
    }
    void refusedWithTheReason()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        TestStation st;
        addSubscriber(1, "0001");
        Job j = jobFor({1}, "una vez 2030-03-01 11:00");
        if (change == "name") j.name = "  ";
        if (change == "actions") j.actions.clear();
        if (change == "subscribers") j.subscribers.clear();
        if (change == "past") j.schedule = "una vez 2030-03-01 09:59";
        if (change == "schedule") j.schedule = "mañana temprano";
        if (change == "window") j.window = "22-6";
        if (change == "days") j.schedule = "cada 0 días a las 22:00";
        const QString why = saveJob(c(), j, T);
        QVERIFY2(reason.isEmpty() ? why.isEmpty() : why.startsWith(reason), qPrintable(why));
        QCOMPARE(count("SELECT count(*) FROM tareas"), reason.isEmpty() ? 1 : 0);
        // A filter needs no list: it may match nobody when it runs.
        if (change == "subscribers") {
            j.byFilter = true;
            QCOMPARE(saveJob(c(), j, T), QString());
        }
    }

    // A database from before the queue gains it, and upgrading twice
    // changes nothing; a queue from before jobs by group keeps its jobs.
    void olderDatabaseGainsTheQueue()
    {
        TestStation st;
        addSubscriber(1, "0001");
        const qint64 old = saved(jobFor({1}, "cada 1 días a las 22:00"));
        db::execScript(c(), "DROP TABLE tareas_grupos;\nALTER TABLE tareas DROP COLUMN filtro_grupo;\n");
        schema::upgrade(c());
        QCOMPARE(readJob(c(), old)->subscribers, QList<qint32>{1});
        QVERIFY(readJob(c(), old)->groups.isEmpty());
        db::exec(c(), "DELETE FROM abonados");
        db::execScript(c(), "DROP TABLE tareas_grupos;\nDROP TABLE tareas_resultados;\nDROP TABLE tareas_cola;\nDROP TABLE tareas_abonados;\n"
                            "DROP TABLE tareas;\nALTER TABLE configuracion DROP COLUMN tareas_estacion;\n"
                            "ALTER TABLE configuracion DROP COLUMN dias_atencion;\n"
                            "ALTER TABLE configuracion_estaciones DROP COLUMN tareas_estacion;\n");
        schema::upgrade(c());
        schema::upgrade(c());
        addSubscriber(1, "0001");
        saved(jobFor({1}));
        DatabaseJobQueue queue(c());
        const auto item = queue.claimNext(T);
        QVERIFY(item);
        queue.record(*item, outcome(Outcome::Done));
        QCOMPARE(settings::read(c())->dias_atencion, 7);
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados WHERE resultado = 'hecha'"), 1);
    }

    void schedulesAndWindows()
    {
        const auto every = Schedule::parse(" Cada 2 días a las 22:30 ");
        QVERIFY(every);
        QCOMPARE(every->text(), "cada 2 días a las 22:30");
        QCOMPARE(every->firstRun(T), QDateTime(T.date(), QTime(22, 30)));
        QCOMPARE(every->firstRun(QDateTime(T.date(), QTime(23, 0))), QDateTime(T.date().addDays(1), QTime(22, 30)));
        // A station off for a week makes up no missed run.
        QCOMPARE(*every->following(QDateTime(T.date(), QTime(22, 30)), T.addDays(7)),
                 QDateTime(T.date().addDays(8), QTime(22, 30)));
        QVERIFY(!Schedule::parse("una vez 2030-02-30 10:00"));
        const auto night = HoursWindow::parse("22:00-06:00");
        QVERIFY(night);
        QVERIFY(night->contains(QTime(23, 0)) && night->contains(QTime(5, 59)) && night->contains(QTime(22, 0)));
        QVERIFY(!night->contains(QTime(6, 0)) && !night->contains(QTime(12, 0)));
        QCOMPARE(night->nextOpen(T), QDateTime(T.date(), QTime(22, 0)));
        const auto day = HoursWindow::parse("8:00-18:00");
        QVERIFY(day && day->contains(QTime(8, 0)) && !day->contains(QTime(18, 0)) && !day->contains(QTime(7, 0)));
        QCOMPARE(day->nextOpen(QDateTime(T.date(), QTime(19, 0))), QDateTime(T.date().addDays(1), QTime(8, 0)));
        QVERIFY(!HoursWindow::parse("06:00-06:00"));
    }

    // Two tries at once, then six ten minutes apart; held elsewhere waits
    // without counting; done and refused close the item.
    void retryRule()
    {
        TestStation st;
        addSubscriber(1, "0001");
        addSubscriber(2, "0002");
        addSubscriber(3, "0003");
        saved(jobFor({1, 2, 3}));
        DatabaseJobQueue queue(c());
        QDateTime now = T;

        // Subscriber 1: busy twice, then a wait, then done at the third try.
        auto item = queue.claimNext(now);
        QVERIFY(item);
        QCOMPARE(item->subscriber, 1);
        QCOMPARE(item->attempt, 1);
        QCOMPARE(item->actions, QList<Action>{Action::DownloadEvents});
        queue.record(*item, outcome(Outcome::Busy, now));
        item = queue.claimNext(now);
        QCOMPARE(item->subscriber, 1); // at once
        QCOMPARE(item->attempt, 2);
        queue.record(*item, outcome(Outcome::Busy, now));
        // The other two meanwhile: 2 held by a console, 3 refused.
        item = queue.claimNext(now);
        QCOMPARE(item->subscriber, 2);
        queue.record(*item, {Outcome::HeldElsewhere, "En uso por ANA en TALLER desde 09:55", now, now});
        item = queue.claimNext(now);
        QCOMPARE(item->subscriber, 3);
        queue.record(*item, {Outcome::Refused, "La verificación de subidas está desactivada.", now, now});
        QCOMPARE(state(item->item), "cerrada");
        QVERIFY(!queue.claimNext(now));
        QCOMPARE(*queue.nextDue(), T.addSecs(600));

        now = T.addSecs(600);
        item = queue.claimNext(now);
        QCOMPARE(item->subscriber, 1);
        QCOMPARE(item->attempt, 3);
        queue.record(*item, outcome(Outcome::Done, now));
        QCOMPARE(state(item->item), "hecha");
        item = queue.claimNext(now);
        QCOMPARE(item->subscriber, 2);
        QCOMPARE(item->attempt, 1); // the hold was no try
        // Released (the operator took the line first): no try either.
        queue.release(*item, now.addSecs(60));
        QVERIFY(!queue.claimNext(now));
        item = queue.claimNext(now.addSecs(60));
        QCOMPARE(item->attempt, 1);

        // Then no answer to the end: eight tries and "fallida".
        for (int attempt = 1;; ++attempt) {
            QCOMPARE(item->attempt, attempt);
            now = now.addSecs(attempt < 2 ? 0 : 600);
            queue.record(*item, outcome(Outcome::NoAnswer, now));
            if (attempt == 8)
                break;
            QVERIFY(!queue.claimNext(now.addSecs(attempt < 2 ? -1 : 599)));
            item = queue.claimNext(now.addSecs(attempt < 2 ? 0 : 600));
            QVERIFY2(item, qPrintable(QString::number(attempt)));
        }
        QCOMPARE(state(item->item), "fallida");
        QVERIFY(!queue.claimNext(now.addDays(1)));
        QVERIFY(!queue.nextDue());
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados WHERE id_abonado = 2 AND resultado = 'no contesta'"), 8);
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados WHERE resultado = 'en uso'"), 1);
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados WHERE descarga = 1 AND id_abonado = 1"), 1);
    }

    // A run starts when due, no call starts outside the hours window, a
    // filter is read when the run starts, a deleted subscriber is recorded.
    void runsWindowsAndFilters()
    {
        TestStation st;
        addSubscriber(1, "0001", 1);
        addSubscriber(2, "0002", 2);
        addSubscriber(3, "0005", 1);
        addSubscriber(4, "0009", 1);
        DatabaseJobQueue queue(c());

        // Every day at 23:00, calls only between 22:00 and 06:00, panel model
        // 1 with codes 0001 to 0005.
        Job nightly = jobFor({}, "cada 1 días a las 23:00");
        nightly.byFilter = true;
        nightly.filter.panel = 1;
        nightly.filter.codeFrom = "0001";
        nightly.filter.codeTo = "0005";
        nightly.window = "22:00-06:00";
        saved(nightly);
        QVERIFY(!queue.claimNext(T));
        QCOMPARE(*queue.nextDue(), QDateTime(T.date(), QTime(23, 0)));
        db::exec(c(), "DELETE FROM abonados WHERE id_abonado = 3"); // deleted before the run: not selected
        addSubscriber(5, "0003", 1);                                 // added before the run: selected
        const QDateTime night(T.date(), QTime(23, 0));
        QList<qint32> called;
        while (auto item = queue.claimNext(night)) {
            called << item->subscriber;
            queue.record(*item, outcome(Outcome::Done, night));
        }
        QCOMPARE(called, (QList<qint32>{1, 5}));
        QCOMPARE(*queue.nextDue(), night.addDays(1));

        // A try due at 07:00 waits for the window to open again.
        const qint64 once = saved(jobFor({4, 2}, "una vez 2030-03-02 05:00"), T);
        db::exec(c(), "UPDATE tareas SET ventana = '22:00-06:00' WHERE id_tarea = ?", {once});
        const QDateTime early(T.date().addDays(1), QTime(5, 0));
        auto item = queue.claimNext(early);
        QCOMPARE(item->subscriber, 2);
        queue.record(*item, outcome(Outcome::NoAnswer, early));
        item = queue.claimNext(early);
        QCOMPARE(item->subscriber, 2);
        queue.record(*item, outcome(Outcome::NoAnswer, early.addSecs(3600 + 1800)));
        QVERIFY(!queue.claimNext(early.addSecs(7200))); // 07:00, outside
        QCOMPARE(db::scalar(c(), "SELECT proximo FROM tareas_cola WHERE id_abonado = 2 AND estado = 'pendiente'").toString(),
                 "2030-03-02 22:00:00");
        QVERIFY(queue.claimNext(QDateTime(early.date(), QTime(22, 0))));

        // Subscriber 4 is deleted after its item was made.
        db::exec(c(), "DELETE FROM abonados WHERE id_abonado = 4");
        QVERIFY(!queue.claimNext(QDateTime(early.date(), QTime(22, 0))));
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados WHERE id_abonado = 4 AND resultado = 'abonado borrado'"), 1);
        QCOMPARE(count("SELECT count(*) FROM tareas_cola WHERE id_abonado = 4 AND estado = 'cerrada'"), 1);

        // "sin descarga de eventos hace 2 días": 1 and 5 downloaded last
        // night, 2 never did; a filter matching nobody records one result.
        Job stale = jobFor({});
        stale.byFilter = true;
        stale.filter.daysWithoutDownload = 2;
        QCOMPARE(expandFilter(c(), stale.filter, night.addDays(1)), QList<qint32>{2});
        QCOMPARE(expandFilter(c(), stale.filter, night.addDays(3)), (QList<qint32>{1, 2, 5}));
        stale.filter.panel = 3;
        const qint64 none = saved(stale, night);
        QVERIFY(!queue.claimNext(night));
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados WHERE id_tarea = ? AND resultado = 'sin abonados'", {none}), 1);
        QCOMPARE(count("SELECT count(*) FROM tareas_cola WHERE id_tarea = ?", {none}), 0);
    }

    // A filter may name a group; a job keeps its maker's groups when saved
    // and reaches no one outside them, by filter or by list, whatever
    // becomes of the maker's groups later; an operator limited to groups
    // sees and changes only the jobs that stay within them.
    void jobsByGroup()
    {
        TestStation st;
        db::exec(c(), "INSERT INTO grupos (id_grupo, codigo, descripcion) VALUES (1, 'N', 'Norte'), (2, 'S', 'Sur')");
        for (int id = 1; id <= 4; ++id)
            addSubscriber(id, QString("000%1").arg(id));
        db::exec(c(), "UPDATE abonados SET id_grupo = 1 WHERE id_abonado IN (1, 4)");
        db::exec(c(), "UPDATE abonados SET id_grupo = 2 WHERE id_abonado = 2");
        const int north = 7, south = 8; // operators limited to one group each
        permissions::setOperatorGroups(c(), north, {1});
        permissions::setOperatorGroups(c(), south, {2});

        Job byGroup = jobFor({});
        byGroup.name = "A";
        byGroup.byFilter = true;
        byGroup.filter.group = 2;
        const qint64 adminsSouth = saved(byGroup);
        QCOMPARE(expandFilter(c(), byGroup.filter, T), QList<qint32>{2});
        Job all = byGroup;
        all.name = "B";
        all.filter.group = 0;
        QVERIFY(saveJob(c(), all, T, north).isEmpty());
        QCOMPARE(all.groups, QList<int>{1});
        Job list = jobFor({1, 2, 3});
        list.name = "C";
        QVERIFY(saveJob(c(), list, T, north).isEmpty());
        const qint64 adminsList = saved(jobFor({2, 4}));
        permissions::setOperatorGroups(c(), north, {1, 2}); // later: the jobs keep {1}
        QCOMPARE(readJob(c(), all.id)->groups, QList<int>{1});

        DatabaseJobQueue queue(c());
        QMap<qint64, QList<qint32>> queued;
        while (auto item = queue.claimNext(T)) {
            queued[item->job] << item->subscriber;
            queue.record(*item, outcome(Outcome::Done));
        }
        QCOMPARE(queued.value(adminsSouth), QList<qint32>{2});
        QCOMPARE(queued.value(all.id), (QList<qint32>{1, 4}));
        QCOMPARE(queued.value(list.id), QList<qint32>{1});
        QCOMPARE(queued.value(adminsList), (QList<qint32>{2, 4}));

        auto names = [](int op) {
            QStringList n;
            for (const Job& j : listJobs(c(), op))
                n << j.name;
            return n;
        };
        QCOMPARE(names(0).size(), 4);
        QCOMPARE(names(south), QStringList{"A"});
        QCOMPARE(names(north), (QStringList{"A", "B", "C"}));
        Job other = *readJob(c(), adminsList);
        QCOMPARE(saveJob(c(), other, T, south), "La tarea alcanza abonados de otros grupos: usted no puede cambiarla.");
        QVERIFY(readJob(c(), adminsList)->groups.isEmpty());
    }

    // An item in progress when its runner died is tried again; one whose
    // runner lives is not.
    void itemOfADeadRunnerIsTakenAgain()
    {
        if (testOnServer())
            QSKIP("the server's claims are tested with two connections");
        TestStation st;
        addSubscriber(1, "0001");
        addSubscriber(2, "0002");
        addSubscriber(3, "0003");
        saved(jobFor({1, 2, 3}));
        qint64 first;
        {
            DatabaseJobQueue crashed(c());
            const auto claimed = crashed.claimNext(T);
            QVERIFY(claimed);
            first = claimed->item;
        } // the process goes on without giving it back, as after a crash
        const QString host = QSysInfo::machineHostName();
        db::exec(c(), "UPDATE tareas_cola SET estado = 'en curso', reclamo = ? WHERE id_abonado = 2", {host + ":" + QString::number(getppid())});
        db::exec(c(), "UPDATE tareas_cola SET estado = 'en curso', reclamo = ? WHERE id_abonado = 3", {host + ":999999999"});
        DatabaseJobQueue queue(c());
        QList<qint32> called;
        while (auto item = queue.claimNext(T)) {
            called << item->subscriber;
            QCOMPARE(item->attempt, 1);
            queue.record(*item, outcome(Outcome::Done));
        }
        // 2 is held by a process that still runs.
        QCOMPARE(called, (QList<qint32>{1, 3}));
        QCOMPARE(state(first), "hecha");
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados"), 2);
    }

    // Two runners on two connections to one server: every item is run by
    // exactly one of them; a runner whose session ends loses its claim.
    void twoRunnersOnOneServer()
    {
        if (!testOnServer())
            QSKIP("one station works on a file");
        TestStation st;
        for (int i = 1; i <= 40; ++i)
            addSubscriber(i, QStringLiteral("%1").arg(i, 4, 10, QChar('0')));
        QList<qint32> all;
        for (int i = 1; i <= 40; ++i)
            all << i;
        saved(jobFor(all));
        DatabaseJobQueue(c()).startDueRuns(T);
        const db::Server server{{}, qEnvironmentVariable("PGHOST"), {}, st.serverDb(), {}, {}};
        QList<qint32> ran[2];
        QStringList failures[2];
        const auto runner = [&](int n) {
            const QString name = QStringLiteral("corredor-%1").arg(n);
            try {
                DatabaseJobQueue queue(db::openServer(name, server));
                while (auto item = queue.claimNext(T)) {
                    ran[n] << item->subscriber;
                    queue.record(*item, outcome(Outcome::Done));
                }
            } catch (const db::Error& e) {
                failures[n] << e.text();
            }
            db::close(name);
        };
        std::thread a(runner, 0), b(runner, 1);
        a.join();
        b.join();
        QVERIFY2(failures[0].isEmpty() && failures[1].isEmpty(), qPrintable((failures[0] + failures[1]).join("; ")));
        QList<qint32> both = ran[0] + ran[1];
        std::sort(both.begin(), both.end());
        QCOMPARE(both, all);
        QCOMPARE(count("SELECT count(*) FROM tareas_resultados"), 40);
        QCOMPARE(count("SELECT count(*) FROM tareas_cola WHERE estado = 'hecha'"), 40);

        // A claim stands while its runner's session lives, and dies with it.
        addSubscriber(41, "0041");
        saved(jobFor({41}));
        QSqlDatabase other = db::openAnother("otra-estacion", c());
        std::optional<JobItem> held;
        {
            DatabaseJobQueue dying(other);
            held = dying.claimNext(T);
            QVERIFY(held);
        }
        DatabaseJobQueue queue(c());
        QVERIFY(!queue.claimNext(T));
        QVERIFY(!queue.nextDue());
        db::exec(c(), "SELECT pg_terminate_backend(?)", {db::scalar(other, "SELECT pg_backend_pid()")});
        QVERIFY(waitFor([&] { return queue.nextDue().has_value(); }));
        const auto again = queue.claimNext(T);
        QVERIFY(again);
        QCOMPARE(again->item, held->item);
        queue.record(*again, outcome(Outcome::Done));
        QCOMPARE(state(held->item), "hecha");
        other = QSqlDatabase();
        db::close("otra-estacion");
    }

    // The results tab pages newest first under its filters; the CSV; the
    // health view; the settings.
    void resultsHealthAndSettings()
    {
        TestStation st;
        addSubscriber(1, "0001");
        addSubscriber(2, "0002");
        addSubscriber(3, "0003");
        saved(jobFor({1, 2}));
        DatabaseJobQueue queue(c());
        auto item = queue.claimNext(T);
        queue.record(*item, {Outcome::Done, "x;\"y\"", T, T.addSecs(30), 12, 0, 0});
        item = queue.claimNext(T);
        for (int i = 0; i < 8; ++i) {
            queue.record(*item, outcome(Outcome::Busy, T.addSecs(i * 600)));
            item = queue.claimNext(T.addSecs((i + 1) * 600));
        }
        QVERIFY(!item);
        QCOMPARE(countResults(c(), {}), 9);
        QCOMPARE(countResults(c(), {0, {}, {}, "ocupado"}), 8);
        QCOMPARE(countResults(c(), {0, T.date().addDays(1), {}, {}}), 0);
        const QList<ResultRow> first = resultPage(c(), {}, 0, 5);
        QCOMPARE(first.size(), 5);
        const QList<ResultRow> rest = resultPage(c(), {}, first.last().id, 5);
        QCOMPARE(rest.size(), 4);
        QCOMPARE(rest.last().outcome, "hecha");
        QCOMPARE(rest.last().events, 12);
        const QByteArray raw = resultsCsv({rest.last()});
        QVERIFY(raw.startsWith("\xEF\xBB\xBFTarea;Abonado;Nombre;Inicio;Fin;"));
        const QStringList csv = QString::fromUtf8(raw.mid(3)).split("\r\n");
        QCOMPARE(csv.at(1), "NOCHE;1;A B;2030-03-01T10:00:00;2030-03-01T10:00:30;" + db::stationName(c())
                                + ";hecha;\"x;\"\"y\"\"\";1;12;0;0");

        QList<AttentionRow> rows = attention(c(), 7, T.addDays(1));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).subscriber, 2);
        QCOMPARE(rows.at(0).reason, "última tarea fallida");
        QCOMPARE(rows.at(1).subscriber, 3);
        QCOMPARE(rows.at(1).reason, "nunca contactado");
        rows = attention(c(), 7, T.addDays(8));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0).reason, "sin descarga");

        // An operator limited to a group sees only its subscribers' results
        // and health; a subscriber of no group is not in it.
        db::exec(c(), "INSERT INTO grupos (id_grupo, codigo, descripcion) VALUES (1, 'N', 'Norte')");
        db::exec(c(), "UPDATE abonados SET id_grupo = 1 WHERE id_abonado IN (1, 3)");
        permissions::setOperatorGroups(c(), 1, {1});
        ResultFilter mine;
        mine.operatorId = 1;
        QCOMPARE(countResults(c(), mine), 1);
        QCOMPARE(resultPage(c(), mine, 0, 5).first().subscriber, 1);
        rows = attention(c(), 7, T.addDays(8), 1);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(1).subscriber, 3);
        QCOMPARE(countResults(c(), {}), 9);

        QVERIFY(!settings::read(c())->tareas_estacion);
        QCOMPARE(settings::read(c())->dias_atencion, 7);
        settings::writeJobs(c(), true, 3);
        QVERIFY(settings::read(c())->tareas_estacion);
        QCOMPARE(settings::read(c())->dias_atencion, 3);
    }
};

QTEST_GUILESS_MAIN(tst_jobs)
#include "tst_jobs.moc"
