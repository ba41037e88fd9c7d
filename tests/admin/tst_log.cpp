// The operations log viewer: the pickers' defaults, which rows a printout
// covers, the operator filter and the purge.

#include "testsupport.h"

#include "data/oplog_store.h"
#include "data/permissions.h"
#include "admin/w_log.h"
#include "records/w_historial.h"
#include "session/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "app/w_main.h"
#include "data/db.h"
#include "records/search_context.h"
#include "records/w_buscar.h"
#include "reports/w_reporte.h"

#include <QAction>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>

namespace {

void sql(const QString& text, const QVariantList& values = {})
{
    db::exec(stationDb(), text, values);
}

void addRow(int user, int operation, const QString& fecha)
{
    sql("INSERT INTO usuarios_operaciones (id_usuario, id_operacion, parametro, fecha) VALUES (?, ?, 'p', ?)",
        {user, operation, fecha});
}

// The stamps left in the log, in time order.
QStringList remaining()
{
    QStringList out;
    QSqlQuery q = db::exec(stationDb(), "SELECT fecha FROM usuarios_operaciones ORDER BY fecha");
    while (q.next())
        out << q.value(0).toString();
    return out;
}

} // namespace

class tst_log : public QObject {
    Q_OBJECT
private slots:

    void defaultsFollowToday_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QDate>("from");
        QTest::newRow("15 March") << QDate(2024, 3, 15) << QDate(2024, 2, 15);
        QTest::newRow("10 January") << QDate(2024, 1, 10) << QDate(2023, 12, 10);
        QTest::newRow("31 March, leap year") << QDate(2024, 3, 31) << QDate(2024, 2, 29);
        QTest::newRow("31 March") << QDate(2023, 3, 31) << QDate(2023, 2, 28);
    }
    void defaultsFollowToday()
    {
        QFETCH(QDate, today);
        QFETCH(QDate, from);
        TestStation st;
        st.main.setClock([today] { return QDateTime(today, QTime(12, 0)); });
        w_log w(st.ctx);
        QCOMPARE(w.dp_hasta->date(), today);
        QCOMPARE(w.dp_desde->date(), from);
        QCOMPARE(w.dp_borrar->date(), from);
        QCOMPARE(w.st_usuario->text(), QString("TODOS"));
    }

    void printoutCoversWholeDaysOfOneOrAllOperators()
    {
        TestStation st;
        sql("INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (1000, 'ANA', 'ABCD', 2)");
        sql("DELETE FROM usuarios_operaciones");
        for (const char* f : {"2024-05-19 23:59:59", "2024-05-20 00:00:00", "2024-05-20 23:59:59", "2024-05-21 00:00:00"})
            addRow(1, 1, f);
        addRow(1000, 3, "2024-05-20 12:30:00");
        addRow(1, 99, "2024-05-20 13:00:00"); // not in operaciones
        addRow(7, 1, "2024-05-20 14:00:00");  // account gone
        st.main.logIn(st.main.currentUser(), 1);
        w_main m(st.ctx, st.trans);
        registerWindows(m, st);
        m.action("cb_log")->trigger();
        auto* w = qobject_cast<w_log*>(m.child("cb_log"));
        QVERIFY(w);

        oplog::Filter last;
        st.ctx.printLog = [&](StationContext&, const oplog::Filter& f) { last = f; };
        auto print = [&] {
            w->cb_imprimir->trigger();
            QStringList out;
            for (const oplog::Row& r : oplog::rows(st.main.db(), last))
                out << r.fecha + " " + r.usuario;
            return out;
        };
        w->dp_desde->setDate(QDate(2024, 5, 20));
        w->dp_hasta->setDate(QDate(2024, 5, 20));
        QCOMPARE(print(), (QStringList{"2024-05-20 00:00:00 ADMINISTRADOR", "2024-05-20 12:30:00 ANA",
                                       "2024-05-20 23:59:59 ADMINISTRADOR"}));
        QVERIFY(!oplog::query(last).sql.contains("2024")); // days are bound values

        w->cb_usuario->trigger();
        auto* list = w->findChild<w_buscar*>();
        QVERIFY(list && list->isVisible());
        QCOMPARE(list->mode(), SearchMode::log_usuario);
        list->tx_buscar->setText("ana");
        QTest::keyClick(list->tx_buscar, Qt::Key_Return);
        list->cb_aceptar->trigger();
        QCOMPARE(w->st_usuario->text(), QString("ANA"));
        w->dp_desde->setDate(QDate(2024, 5, 1));
        w->dp_hasta->setDate(QDate(2024, 5, 31));
        QCOMPARE(print(), QStringList{"2024-05-20 12:30:00 ANA"});

        QTest::mouseClick(w->img_todos, Qt::LeftButton);
        QCOMPARE(w->st_usuario->text(), QString("TODOS"));
        QCOMPARE(print().size(), 5);

        // The station's own hook opens the log report beside the viewer.
        st.ctx.printLog = nullptr;
        w->cb_imprimir->trigger();
        QVERIFY(qobject_cast<w_reporte*>(m.child("dr_log")));

        // An operator limited to groups prints its own lines, whatever it picks.
        permissions::setOperatorGroups(stationDb(), 1000, {permissions::saveGroup(stationDb(), {0, "NORTE", "Zona norte"})});
        st.main.logIn(1000, 1);
        st.ctx.printLog = [&](StationContext&, const oplog::Filter& f) { last = f; };
        w_log own(st.ctx);
        QVERIFY(!own.cb_usuario->isEnabled() && !own.img_todos->isEnabled());
        own.showUser(0);
        QCOMPARE(own.st_usuario->text(), QString("ANA"));
        own.dp_desde->setDate(QDate(2024, 5, 1));
        own.dp_hasta->setDate(QDate(2024, 5, 31));
        own.cb_imprimir->trigger();
        QCOMPARE(last.id_usuario, 1000);
    }

    void purgeRemovesTheWholeChosenDayAndEarlier()
    {
        TestStation st;
        sql("DELETE FROM usuarios_operaciones");
        addRow(7, 99, "2024-05-19 10:00:00"); // unknown operator and operation: purged too
        for (const char* f : {"2024-05-20 00:00:00", "2024-05-20 23:59:59", "2024-05-21 00:00:00", "2024-05-22 09:00:00"})
            addRow(1, 1, f);
        w_log w(st.ctx);
        w.dp_borrar->setDate(QDate(2024, 5, 20));
        const QStringList all = remaining();
        w.cb_baja->trigger(); // answered "No", and so the history's own question
        QCOMPARE(st.messages.asked, (QStringList{"Se borrará el Log hasta el 21/05/2024\n¿Continúa?",
                                                 "Se borrará el historial de valores hasta el 21/05/2024\n¿Continúa?"}));
        QCOMPARE(remaining(), all);

        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        const QStringList kept{"2024-05-21 00:00:00", "2024-05-22 09:00:00"};
        QCOMPARE(remaining(), kept);

        // A purge failing half-way leaves the log as it was.
        addTrigger(stationDb(), "guarda", "AFTER DELETE", "usuarios_operaciones", "OLD.fecha > '2024-05-21 12:00:00'");
        w.dp_borrar->setDate(QDate(2024, 5, 31));
        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(remaining(), kept);
        QVERIFY(st.messages.shown.isEmpty());
    }

    // The value history is purged through the same day, on a question of its
    // own, and only by level 1.
    void historyPurgeHasItsOwnQuestion()
    {
        TestStation st;
        for (const char* f : {"2024-05-20 23:59:59", "2024-05-21 00:00:01"})
            sql("INSERT INTO valores_historial (id_historial, fecha, id_abonado, id_panel, id_seccion, id_item, "
                "valor_nuevo, origen) VALUES ((SELECT COALESCE(max(id_historial), 0) + 1 FROM valores_historial), "
                "?, 1, 1, 0, 1, '1', 'editor')",
                {QString::fromLatin1(f)});
        auto left = [&st] { return db::scalar(st.main.db(), "SELECT count(*) FROM valores_historial").toInt(); };
        const int before = left();
        w_log w(st.ctx);
        w.dp_borrar->setDate(QDate(2024, 5, 20));
        st.main.logIn(st.main.currentUser(), 2);
        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(st.messages.asked.size(), 1);
        QCOMPARE(left(), before);

        st.main.logIn(st.main.currentUser(), 1);
        st.messages.asked.clear();
        const QStringList log = remaining();
        // A history window open meanwhile follows the purge.
        w_historial h(st.ctx);
        h.showOwner(values::Owner::subscriber(1, 1), "Abonado 1");
        h.dp_desde->setDate(QDate(2024, 5, 1));
        h.dp_hasta->setDate(QDate(2024, 5, 31));
        QCOMPARE(h.lineas().size(), 2);
        st.messages.answers.enqueue(false); // keep the log
        st.messages.answers.enqueue(true);  // purge the history
        w.cb_baja->trigger();
        QCOMPARE(st.messages.asked.last(), QString("Se borrará el historial de valores hasta el 21/05/2024\n¿Continúa?"));
        QCOMPARE(left(), before - 1);
        QCOMPARE(db::scalar(st.main.db(),
                            "SELECT count(*) FROM valores_historial WHERE fecha = '2024-05-21 00:00:01'").toInt(), 1);
        QCOMPARE(remaining(), log);
        QCOMPARE(h.lineas().size(), 1);
        st.main.logIn(st.main.currentUser(), 0);
    }
};

QTEST_MAIN(tst_log)
#include "tst_log.moc"
