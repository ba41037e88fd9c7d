// The jobs window: what each level sees, a job refused with the reason and
// then saved with subscribers picked from the search list, the results
// listed a page at a time, filtered, printed and exported, and the health
// view making a job of its rows.

#include "testsupport.h"

#include "admin/job_results_model.h"
#include "admin/w_tareas.h"
#include "admin/w_tareas_atencion.h"
#include "admin/w_tareas_programadas.h"
#include "admin/w_tareas_resultados.h"
#include "data/db.h"
#include "data/job_store.h"
#include "data/permissions.h"
#include "records/search_context.h"
#include "reports/w_reporte.h"
#include "session/mdl_main.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

namespace {

QStringList tabs(const w_tareas& w)
{
    QStringList t;
    for (int i = 0; i < w.tab_tareas->count(); ++i)
        t << w.tab_tareas->tabText(i);
    return t;
}

void addSubscriber(int id)
{
    db::exec(stationDb(),
             "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, "
             "numero, localidad, id_provincia, tel_1) VALUES (?, ?, 1, 1, 'PEREZ', 'ANA', 'C', '1', 'D', 1, '1')",
             {id, QStringLiteral("%1").arg(id, 4, 10, QChar('0'))});
}

} // namespace

class tst_tareas : public QObject {
    Q_OBJECT
private slots:
    void levelsSeeTheirTabs()
    {
        TestStation st;
        using permissions::Right;
        // The right decides, whatever the level: without it, results only.
        for (const auto& [level, rights] : {std::pair{3, permissions::levelRights(3)},
                                            std::pair{2, permissions::levelRights(2) & ~permissions::bit(Right::Tareas)}}) {
            st.main.logIn(st.main.currentUser(), level, rights);
            w_tareas w(st.ctx);
            QCOMPARE(tabs(w), QStringList{"&Resultados"});
            QVERIFY(!w.programadas && !w.atencion);
            QVERIFY(w.resultados->cb_imprimir->isEnabled() && w.resultados->cb_exportar->isEnabled());
        }
        // Without "Imprimir y exportar" the results are only looked at.
        st.main.logIn(st.main.currentUser(), 2, permissions::levelRights(2) & ~permissions::bit(Right::Imprimir));
        {
            w_tareas w(st.ctx);
            QVERIFY(!w.resultados->cb_imprimir->isEnabled() && !w.resultados->cb_exportar->isEnabled());
        }
        st.main.logIn(st.main.currentUser(), 3, permissions::levelRights(3) | permissions::bit(Right::Tareas));
        {
            w_tareas w(st.ctx);
            QCOMPARE(tabs(w), (QStringList{"&Programadas", "&Resultados", "A&tención"}));
        }
        st.main.logIn(st.main.currentUser(), 0);
        {
            w_tareas w(st.ctx);
            QVERIFY(!w.resultados);
        }
        st.main.logIn(st.main.currentUser(), 1);
        w_tareas w(st.ctx);
        QCOMPARE(tabs(w), (QStringList{"&Programadas", "&Resultados", "A&tención"}));
    }

    void walkTheTabs()
    {
        TestStation st;
        st.main.logIn(st.main.currentUser(), 2);
        for (int id = 1; id <= 3; ++id)
            addSubscriber(id);
        w_tareas w(st.ctx);
        w_tareas_programadas& p = *w.programadas;

        // Nothing typed: refused with the reason, nothing saved.
        p.sle_nombre->setText("NOCHE");
        p.cb_guardar->trigger();
        QCOMPARE(st.messages.lastText(), "La tarea no tiene acciones: elija al menos una.");
        p.chk_accion[1]->setChecked(true);
        p.cb_guardar->trigger();
        QCOMPARE(st.messages.lastText(), "La tarea no tiene abonados: elíjalos de la lista o use un filtro.");
        // Subscribers from the search list; a pick twice counts once.
        for (int id : {2, 1, 2})
            QVERIFY(st.ctx.search.dispatch(SearchMode::tarea_abonado, id));
        QCOMPARE(p.lst_abonados->count(), 2);
        QCOMPARE(p.lst_abonados->item(0)->text(), "0002 PEREZ ANA");
        p.cbx_programa->setCurrentIndex(1);
        p.dp_fecha->setDateTime(st.main.now().addDays(-1));
        p.cb_guardar->trigger();
        QVERIFY(st.messages.lastText().endsWith("ya pasó."));
        QCOMPARE(db::scalar(stationDb(), "SELECT count(*) FROM tareas").toInt(), 0);
        QCOMPARE(p.sle_nombre->text(), "NOCHE"); // kept as typed
        p.cbx_programa->setCurrentIndex(0);
        st.messages.clear();
        p.cb_guardar->trigger();
        QVERIFY2(st.messages.shown.isEmpty(), qPrintable(st.messages.lastText()));
        QCOMPARE(p.dg_tareas->count(), 1);
        const jobs::Job saved = *jobs::readJob(stationDb(), jobs::listJobs(stationDb()).first().id);
        QCOMPARE(saved.actions, QList<jobs::Action>{jobs::Action::DownloadEvents});
        QCOMPARE(saved.subscribers, (QList<qint32>{1, 2}));
        QCOMPARE(saved.triesAtOnce + saved.moreTries, 8);

        // Results of a queue run: 2 done, 1 no answer to the end; plus many
        // rows for the paging.
        jobs::DatabaseJobQueue queue(stationDb());
        const QDateTime now = st.main.now();
        while (auto item = queue.claimNext(now.addDays(1)))
            queue.record(*item, {item->subscriber == 1 ? jobs::Outcome::NoAnswer : jobs::Outcome::Done, {}, now, now, 5, 0, 0});
        db::exec(stationDb(), "INSERT INTO tareas_resultados (id_tarea, id_abonado, intento, inicio, fin, estacion, resultado) "
                              "SELECT 1, 3, 1, inicio, fin, estacion, 'ocupado' FROM tareas_resultados");
        for (int i = 0; i < 6; ++i)
            db::exec(stationDb(), "INSERT INTO tareas_resultados (id_tarea, id_abonado, intento, inicio, fin, estacion, resultado) "
                                  "SELECT 1, 3, 1, inicio, fin, estacion, 'ocupado' FROM tareas_resultados");
        const int total = db::scalar(stationDb(), "SELECT count(*) FROM tareas_resultados").toInt();
        QVERIFY(total > JobResultsModel::PageRows);
        w.tab_tareas->setCurrentWidget(w.resultados);
        w_tareas_resultados& r = *w.resultados;
        JobResultsModel& m = *r.model();
        checkModel(&m);
        QCOMPARE(m.total(), total);
        QVERIFY(m.rowCount() < total); // the view reads pages as it needs them
        while (m.canFetchMore({}))
            m.fetchMore({});
        QCOMPARE(m.rowCount(), total);
        r.cbx_resultado->setCurrentIndex(r.cbx_resultado->findText("hecha"));
        QCOMPARE(m.total(), 1);
        QCOMPARE(r.st_total->text(), "1 resultado");
        QCOMPARE(m.data(m.index(0, JobResultsModel::Subscriber), Qt::DisplayRole).toString(), "2 PEREZ ANA");
        const QString file = st.path("resultados.csv");
        QVERIFY(r.exportTo(file));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 3); // header, one row, the last line's end
        QVERIFY(lines.at(1).startsWith("NOCHE;2;PEREZ ANA;" + now.toString(Qt::ISODate).toUtf8() + ";"));
        r.cb_imprimir->trigger();
        auto* report = qobject_cast<w_reporte*>(st.ctx.reportWindows.value("dr_tareas").data());
        QVERIFY(report);
        QCOMPARE(report->document().title, "Resultado de tareas");

        // The health view: 1 failed, 3 never downloaded (its tries were
        // busy); 2 downloaded just now.
        w.tab_tareas->setCurrentWidget(w.atencion);
        w_tareas_atencion& a = *w.atencion;
        QCOMPARE(a.dg_atencion->rowCount(), 2);
        a.dg_atencion->sortItems(0, Qt::DescendingOrder);
        QCOMPARE(a.shownSubscribers(), (QList<qint32>{3, 1}));
        a.cb_crear->trigger();
        QCOMPARE(w.tab_tareas->currentWidget(), w.programadas);
        QCOMPARE(p.lst_abonados->count(), 2);
        QVERIFY(p.sle_nombre->text().startsWith("ATENCIÓN "));
        QVERIFY(p.chk_accion[1]->isChecked());
    }

    // An operator limited to a group is offered only it in the filter,
    // sees only the jobs within it, in Programadas and in the results'
    // job list, and its jobs keep the group.
    void limitedOperatorsJobs()
    {
        TestStation st;
        const QSqlDatabase c = stationDb();
        db::exec(c, "INSERT INTO grupos (id_grupo, codigo, descripcion) VALUES (1, 'N', 'Norte'), (2, 'S', 'Sur')");
        jobs::Job others;
        others.name = "DE TODOS";
        others.actions = {jobs::Action::DownloadEvents};
        others.byFilter = true;
        QCOMPARE(jobs::saveJob(c, others, st.main.now()), QString());
        st.main.logIn(1, 2);
        permissions::setOperatorGroups(c, 1, {2});
        w_tareas w(st.ctx);
        w_tareas_programadas& p = *w.programadas;
        QCOMPARE(p.dg_tareas->count(), 0);
        QCOMPARE(w.resultados->cbx_tarea->count(), 1);
        QCOMPARE(p.cbx_filtro_grupo->count(), 2);
        QCOMPARE(p.cbx_filtro_grupo->itemText(0), "(todos)");
        QCOMPARE(p.cbx_filtro_grupo->itemText(1), "S - Sur");
        p.sle_nombre->setText("SUR");
        p.chk_accion[1]->setChecked(true);
        p.rb_filtro->setChecked(true);
        p.cbx_filtro_grupo->setCurrentIndex(1);
        p.cb_guardar->trigger();
        QCOMPARE(p.dg_tareas->count(), 1);
        const jobs::Job saved = jobs::listJobs(c, st.main.currentUser()).first();
        QCOMPARE(saved.filter.group, 2);
        QCOMPARE(saved.groups, QList<int>{2});
        p.dg_tareas->setCurrentRow(0);
        QCOMPARE(p.cbx_filtro_grupo->currentData().toInt(), 2);
    }
};

QTEST_MAIN(tst_tareas)
#include "tst_tareas.moc"
