// The operations log viewer: the pickers' defaults, which rows a printout
// covers, the operator filter and the purge.

#include "testsupport.h"

#include "admin/operations_log.h"
#include "admin/w_log.h"
#include "app/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "app/w_main.h"
#include "data/db.h"
#include "records/search_context.h"
#include "records/w_buscar.h"
#include "reports/w_reporte.h"

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>

namespace {

QSqlDatabase conn()
{
    return mdl_main::instance().db();
}

void addRow(int user, int operation, const QString& fecha, const QString& parametro = QString())
{
    db::exec(conn(), "INSERT INTO usuarios_operaciones (id_usuario, id_operacion, parametro, fecha) VALUES (?, ?, ?, ?)",
             {user, operation, db::nullIfEmpty(parametro), fecha});
}

// The stamps left in the log, in time order.
QStringList remaining()
{
    QStringList out;
    QSqlQuery q = db::exec(conn(), "SELECT fecha FROM usuarios_operaciones ORDER BY fecha");
    while (q.next())
        out << q.value(0).toString();
    return out;
}

// What "Imprimir" hands to the report, as "fecha usuario parametro" lines.
struct Printer {
    oplog::Statement last;
    int calls = 0;
    decltype(w_log::imprimir) report = w_log::imprimir;
    Printer()
    {
        w_log::imprimir = [this](const QString& sql, const QVariantList& values) {
            last = {sql, values};
            ++calls;
        };
    }
    ~Printer() { w_log::imprimir = report; }
    QStringList print(w_log& w)
    {
        w.cb_imprimir->trigger();
        QStringList out;
        for (const oplog::Row& r : oplog::rows(conn(), last))
            out << QString("%1 %2 %3").arg(r.fecha, r.usuario, r.parametro).trimmed();
        return out;
    }
};

} // namespace

class tst_log : public QObject {
    Q_OBJECT
private slots:
    void init() { SearchContext::instance().reset(); }
    void cleanup() { w_log::hoy = [] { return QDate::currentDate(); }; }

    void defaultsFollowToday_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QDate>("from");
        QTest::newRow("15 March") << QDate(2024, 3, 15) << QDate(2024, 2, 15);
        QTest::newRow("10 January") << QDate(2024, 1, 10) << QDate(2023, 12, 10);
        QTest::newRow("31 March, leap year") << QDate(2024, 3, 31) << QDate(2024, 2, 29);
        QTest::newRow("31 March") << QDate(2023, 3, 31) << QDate(2023, 2, 28);
        QTest::newRow("31 May") << QDate(2023, 5, 31) << QDate(2023, 4, 30);
    }
    void defaultsFollowToday()
    {
        QFETCH(QDate, today);
        QFETCH(QDate, from);
        Station st;
        w_log::hoy = [today] { return today; };
        w_log w;
        QCOMPARE(w.dp_hasta->date(), today);
        QCOMPARE(w.dp_desde->date(), from);
        QCOMPARE(w.dp_borrar->date(), from);
        QCOMPARE(w.st_usuario->text(), QString("TODOS"));
        QCOMPARE(w.il_usuario, 0);
    }

    void opensFromTheMainToolbar()
    {
        Station st;
        mdl_main::instance().currentLevel = 1;
        w_main m;
        registerWindows(m);
        m.action("cb_log")->trigger();
        auto* w = qobject_cast<w_log*>(m.child("cb_log"));
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QString("Log de operaciones"));
        QCOMPARE(w->img_todos->toolTip(), QString("Todos los Usuarios"));
        QCOMPARE(w->dp_desde->text(), w->dp_desde->date().toString("dd/MM/yyyy"));
        // The log report opens beside the viewer.
        w->cb_imprimir->trigger();
        QVERIFY(qobject_cast<w_reporte*>(m.child("dr_log")));
        QCOMPARE(m.child("cb_log"), w);
    }

    void printoutCoversWholeDaysOfOneOrAllOperators()
    {
        Station st;
        db::exec(conn(), "INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (1000, 'ANA', 'ABCD', 2)");
        addRow(1, 1, "2024-05-19 23:59:59", "antes");
        addRow(1, 1, "2024-05-20 00:00:00", "primera");
        addRow(1000, 3, "2024-05-20 12:30:00", "ana");
        addRow(1, 4, "2024-05-20 23:59:59", "ultima");
        addRow(1, 1, "2024-05-21 00:00:00", "despues");
        addRow(1, 99, "2024-05-20 13:00:00", "sin operacion"); // not in operaciones
        addRow(7, 1, "2024-05-20 14:00:00", "sin usuario");    // account gone
        Printer printer;
        w_log w;
        w.dp_desde->setDate(QDate(2024, 5, 20));
        w.dp_hasta->setDate(QDate(2024, 5, 20));
        QCOMPARE(printer.print(w), (QStringList{"2024-05-20 00:00:00 ADMINISTRADOR primera",
                                                "2024-05-20 12:30:00 ANA ana",
                                                "2024-05-20 23:59:59 ADMINISTRADOR ultima"}));
        // Dates reach the engine as stored-form values, not as text in the statement.
        QVERIFY(!printer.last.sql.contains("2024"));
        QCOMPARE(printer.last.values.first().toString(), QString("2024-05-20 00:00:00"));

        // One operator, picked from the list of accounts.
        w.cb_usuario->trigger();
        w_buscar* list = nullptr;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<w_buscar*>(t); b && b->isVisible())
                list = b;
        QVERIFY(list);
        QCOMPARE(list->mode(), SearchMode::log_usuario);
        list->tx_buscar->setText("ana");
        QTest::keyClick(list->tx_buscar, Qt::Key_Return);
        list->cb_aceptar->trigger();
        QCOMPARE(w.st_usuario->text(), QString("ANA"));
        QCOMPARE(w.il_usuario, 1000);
        w.dp_desde->setDate(QDate(2024, 5, 1));
        w.dp_hasta->setDate(QDate(2024, 5, 31));
        QCOMPARE(printer.print(w), QStringList{"2024-05-20 12:30:00 ANA ana"});

        // The picture brings every operator back.
        QTest::mouseClick(w.img_todos, Qt::LeftButton);
        QCOMPARE(w.st_usuario->text(), QString("TODOS"));
        QCOMPARE(printer.print(w).size(), 5);

        // A range that ends before it starts prints nothing.
        w.dp_desde->setDate(QDate(2024, 5, 21));
        w.dp_hasta->setDate(QDate(2024, 5, 20));
        QVERIFY(printer.print(w).isEmpty());
        QCOMPARE(printer.calls, 4);
    }

    void purgeRemovesTheWholeChosenDayAndEarlier()
    {
        Station st;
        db::exec(conn(), "DELETE FROM usuarios_operaciones");
        addRow(1, 1, "2023-12-31 08:00:00");
        addRow(7, 99, "2024-05-19 10:00:00"); // unknown operator and operation: purged too
        addRow(1, 1, "2024-05-20 00:00:00");
        addRow(1, 1, "2024-05-20 23:59:59");
        addRow(1, 1, "2024-05-21 00:00:00");
        addRow(1, 1, "2024-05-22 09:00:00");
        w_log w;
        w.dp_borrar->setDate(QDate(2024, 5, 20));
        const QStringList all = remaining();

        w.cb_baja->trigger(); // answered "No"
        QCOMPARE(st.messages.asked, QStringList{"Se borrará el Log hasta el 21/05/2024\n¿Continúa?"});
        QCOMPARE(remaining(), all);

        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(remaining(), (QStringList{"2024-05-21 00:00:00", "2024-05-22 09:00:00"}));
        QVERIFY(st.messages.shown.isEmpty());

        // A failing purge leaves the log as it was.
        db::exec(conn(), "CREATE TRIGGER guarda AFTER DELETE ON usuarios_operaciones "
                         "WHEN old.fecha > '2024-05-21 12:00:00' BEGIN SELECT RAISE(ABORT, 'no'); END");
        w.dp_borrar->setDate(QDate(2024, 5, 31));
        st.messages.answers.enqueue(true);
        w.cb_baja->trigger();
        QCOMPARE(remaining(), (QStringList{"2024-05-21 00:00:00", "2024-05-22 09:00:00"}));
    }
};

QTEST_MAIN(tst_log)
#include "tst_log.moc"
