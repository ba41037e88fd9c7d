// The templates window and its name dialog: automatic choices, the catalogue
// template kept read-only, marks, filters, editing through the editor
// context, copy, rename and delete.

#include "app/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "app/w_main.h"
#include "common/testsupport.h"
#include "data/db.h"
#include "records/editor_context.h"
#include "records/search_context.h"
#include "records/w_buscar.h"
#include "records/w_configuracion.h"
#include "records/w_configuracion_abm.h"
#include "records/w_seccion.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>

namespace {

QVariant one(const QString& sql, const QVariantList& values = {})
{
    return db::scalar(mdl_main::instance().db(), sql, values);
}

// A template's rows as "panel/section/item/value/mark", every model.
QStringList templateRows(int id)
{
    QStringList out;
    QSqlQuery q = db::exec(mdl_main::instance().db(),
                           "SELECT id_panel || '/' || id_seccion || '/' || id_item || '/' || valor || '/' || id_estado "
                           "FROM configuraciones_valores WHERE id_configuracion = ? ORDER BY id_panel, id_seccion, id_item",
                           {id});
    while (q.next())
        out << q.value(0).toString();
    return out;
}

QString sectionMarks(int configuracion, int seccion)
{
    return one("SELECT group_concat(DISTINCT id_estado) FROM configuraciones_valores "
               "WHERE id_configuracion = ? AND id_panel = 1 AND id_seccion = ?", {configuracion, seccion}).toString();
}

void makeTemplate2()
{
    one("INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (2, 'PRUEBA')");
    one("INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
        "SELECT 2, id_panel, id_seccion, id_item, valor, id_estado FROM configuraciones_valores WHERE id_configuracion = 1");
}

int rowOf(QTableWidget* g, int seccion)
{
    for (int r = 0; r < g->rowCount(); ++r)
        if (g->item(r, w_configuracion::ColSeccion)->text().toInt() == seccion)
            return r;
    return -1;
}

void clickMark(w_configuracion& w, int row)
{
    QTableWidget* g = w.fg_secciones;
    g->scrollToItem(g->item(row, 0));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(row, 0)).center());
}

template <class T> T* modal()
{
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

bool writable(const w_configuracion& w)
{
    return w.fg_secciones->isEnabled() && w.cb_baja->isEnabled() && w.cb_modificar->isEnabled()
           && w.cb_subir->isEnabled() && w.cb_bajar->isEnabled();
}

} // namespace

class TstConfiguracion : public QObject {
    Q_OBJECT
private slots:
    void init() { SearchContext::instance().reset(); mdl_main::instance().currentLevel = 1; }

    void pickedFromTheMainToolbarAndPrinted();
    void oneModelAndTheCatalogueTemplateReadOnly();
    void marksFiltersAndEditing();
    void copyRenameAndDelete();
};

void TstConfiguracion::pickedFromTheMainToolbarAndPrinted()
{
    Station st(true, true);
    w_main m;
    m.endProgram = [](int) {};
    m.resize(1200, 900);
    m.show();
    registerWindows(m);
    m.action("cb_configuracion")->trigger();
    auto* w = qobject_cast<w_configuracion*>(m.child("cb_configuracion"));
    QVERIFY(w);
    // Two models: nothing is chosen and only "Panel" works.
    QVERIFY(w->st_panel->text().isEmpty() && w->st_configuracion->text().isEmpty());
    QVERIFY(w->cb_panel->isEnabled() && !w->cb_configuracion->isEnabled() && !w->cb_copiar->isEnabled());
    QVERIFY(!w->cb_imprimir->isEnabled() && !w->cb_desmarcar->isEnabled());
    QCOMPARE(w->fg_secciones->rowCount(), 0);

    // The model from the pick list; its only template follows.
    w->cb_panel->trigger();
    auto* list = modal<w_buscar>();
    QVERIFY(list && list->mode() == SearchMode::panel);
    list->tx_buscar->setText("nx");
    QTest::keyClick(list->tx_buscar, Qt::Key_Return);
    list->cb_aceptar->trigger();
    QCOMPARE(w->il_panel, 2);
    QCOMPARE(w->st_panel->text(), QString("NX-16 2.3"));
    QCOMPARE(w->il_configuracion, 1);
    QCOMPARE(w->fg_secciones->rowCount(), one("SELECT count(*) FROM secciones WHERE id_panel = 2").toInt());

    // A second template, picked by name.
    makeTemplate2();
    w->cb_configuracion->trigger();
    list = modal<w_buscar>();
    QVERIFY(list && list->mode() == SearchMode::configuracion);
    list->tx_buscar->setText("prueba");
    QTest::keyClick(list->tx_buscar, Qt::Key_Return);
    list->cb_aceptar->trigger();
    QCOMPARE(w->il_configuracion, 2);
    QCOMPARE(w->st_configuracion->text(), QString("PRUEBA"));
    QVERIFY(writable(*w));

    w->cb_imprimir->trigger();
    QVERIFY(m.child("dr_configuracion"));
}

void TstConfiguracion::oneModelAndTheCatalogueTemplateReadOnly()
{
    Station st(true, false);
    for (const char* table : {"configuraciones_valores", "secciones_valores", "secciones_items", "secciones", "eventos",
                              "paneles"})
        one(QString("DELETE FROM %1 WHERE id_panel = 2").arg(table));
    w_configuracion w;
    QCOMPARE(w.il_panel, 1);
    QCOMPARE(w.st_panel->text(), QString("PX-16 1.0"));
    QCOMPARE(w.il_configuracion, 1);
    QCOMPARE(w.st_configuracion->text(), one("SELECT descripcion FROM configuraciones WHERE id_configuracion = 1").toString());
    QCOMPARE(w.fg_secciones->rowCount(), 41);
    QCOMPARE(w.fg_secciones->item(0, w_configuracion::ColDescripcion)->text(), QString("Tipos de Zona 01 a 08"));
    // Viewed, copied and printed only.
    QVERIFY(!writable(w) && !w.fg_secciones->isEnabled());
    QVERIFY(w.cb_copiar->isEnabled() && w.cb_imprimir->isEnabled() && w.cb_configuracion->isEnabled());
    const QStringList before = templateRows(1);
    w.show();
    clickMark(w, 0);
    QTest::mouseClick(w.img_cbconfiguracion, Qt::LeftButton);
    QCOMPARE(st.messages.lastText(), QString("No puede modificar esta descripción"));
    QCOMPARE(st.messages.lastTitle(), QString("Error"));
    QVERIFY(!modal<QDialog>());
    w.dispatch("cb_baja");
    w.dispatch("cb_subir");
    QVERIFY(st.messages.asked.isEmpty());
    QCOMPARE(templateRows(1), before);
}

void TstConfiguracion::marksFiltersAndEditing()
{
    Station st(true, false);
    makeTemplate2();
    w_configuracion w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.wf_muestrapanel(1);
    w.wf_muestraconfiguracion(2);
    QVERIFY(writable(w) && w.cb_desmarcar->isEnabled());
    QTableWidget* g = w.fg_secciones;

    // The three questions; No changes nothing.
    w.cb_desmarcar->trigger();
    QCOMPARE(st.messages.asked.last(), QString("¿Está seguro de desmarcar todo?"));
    QVERIFY(w.cb_desmarcar->isEnabled());
    st.messages.answers.enqueue(true);
    w.cb_desmarcar->trigger();
    QVERIFY(!w.cb_desmarcar->isEnabled());
    QCOMPARE(one("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 2 AND id_panel = 1 AND id_estado <> 0").toInt(), 0);
    // Model 2's marks are not this list's.
    QVERIFY(one("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 2 AND id_panel = 2 AND id_estado <> 0").toInt() > 0);

    // Clicking the mark column cycles none -> subir -> bajar -> none.
    const int r5 = rowOf(g, 5);
    for (const char* expected : {"1", "-1", "0"}) {
        clickMark(w, r5);
        QCOMPARE(sectionMarks(2, 5), QString(expected));
        QCOMPARE(g->item(r5, w_configuracion::ColEstado)->text(), QString(expected));
        QCOMPARE(w.cb_desmarcar->isEnabled(), QString(expected) != "0");
    }
    QVERIFY(g->item(r5, 0)->icon().isNull());

    st.messages.answers.enqueue(true);
    w.cb_bajar->trigger();
    QCOMPARE(st.messages.asked.last(), QString("¿Está seguro de marcar todo para bajar?"));
    QCOMPARE(sectionMarks(2, 30), QString("-1"));
    QVERIFY(!g->item(0, 0)->icon().isNull());
    st.messages.answers.enqueue(true);
    w.cb_subir->trigger();
    QCOMPARE(st.messages.asked.last(), QString("¿Está seguro de marcar todo para subir?"));
    QCOMPARE(one("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 2 AND id_panel = 1 AND id_estado <> 1").toInt(), 0);

    // Digits scroll to the last section not above them; other text filters
    // by description, whatever the case.
    w.sle_filtroseccion->setText("25");
    QTest::keyClick(w.sle_filtroseccion, Qt::Key_Return);
    QCOMPARE(g->rowCount(), 41);
    QCOMPARE(g->item(g->rowAt(0), w_configuracion::ColSeccion)->text(), QString("25"));
    st.messages.answers.enqueue(true);
    w.cb_desmarcar->trigger();
    QVERIFY(!w.cb_desmarcar->isEnabled());
    w.sle_filtroseccion->setText("TELÉFONO");
    QTest::keyClick(w.sle_filtroseccion, Qt::Key_Return);
    QCOMPARE(g->rowCount(), 3);
    QVERIFY(!w.cb_desmarcar->isEnabled());
    clickMark(w, 1);
    QVERIFY(w.cb_desmarcar->isEnabled());
    // "Desmarcar" goes by the listed sections only.
    w.sle_filtroseccion->setText("zona");
    QTest::keyClick(w.sle_filtroseccion, Qt::Key_Return);
    QCOMPARE(g->rowCount(), one("SELECT count(*) FROM secciones WHERE id_panel = 1 AND descripcion LIKE '%zona%'").toInt());
    for (int r = 0; r < g->rowCount(); ++r)
        QVERIFY(g->item(r, w_configuracion::ColDescripcion)->text().contains("Zona"));
    QVERIFY(!w.cb_desmarcar->isEnabled());

    // Editing a section goes through the editor context; its mark comes back.
    w.sle_filtroseccion->clear();
    QTest::keyClick(w.sle_filtroseccion, Qt::Key_Return);
    g->setCurrentCell(rowOf(g, 20), 1);
    w.cb_modificar->trigger();
    auto* editor = modal<w_seccion>();
    QVERIFY(editor);
    const EditorContext& ctx = EditorContext::instance();
    QVERIFY(ctx.mode == EditorMode::configuracion && ctx.panel == 1 && ctx.configuracion == 2 && ctx.seccion == 20);
    QVERIFY(!editor->cb_restaurar->isEnabled() && !editor->cb_bajar->isEnabled());
    editor->cb_subir->trigger();
    QTRY_VERIFY(!modal<w_seccion>());
    QCOMPARE(ctx.marca, 1);
    QCOMPARE(g->item(rowOf(g, 20), w_configuracion::ColEstado)->text(), QString("1"));
    QVERIFY(!g->item(rowOf(g, 20), 0)->icon().isNull());

    // Enter in the grid opens the editor too.
    g->setFocus();
    QTest::keyClick(g, Qt::Key_Return);
    editor = modal<w_seccion>();
    QVERIFY(editor && ctx.seccion == 20);
    editor->cb_cancelar->trigger();
    QTRY_VERIFY(!modal<w_seccion>());
}

void TstConfiguracion::copyRenameAndDelete()
{
    Station st(true, true);
    w_configuracion w;
    w.wf_muestrapanel(1);
    QCOMPARE(w.il_configuracion, 1);
    // Template 1 can be copied: a name is needed.
    w.cb_copiar->trigger();
    auto* abm = modal<w_configuracion_abm>();
    QVERIFY(abm && abm->copying() && abm->sle_configuracion->text().isEmpty());
    QCOMPARE(abm->windowTitle(), QString("Configuración"));
    abm->sle_configuracion->setText("  ");
    abm->cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error 701"));
    QCOMPARE(st.messages.lastText(), QString("No se pudo copiar la configuración. Verifique los datos ingresados."));
    QCOMPARE(modal<w_configuracion_abm>(), abm);

    // The next number, the name in capitals, every model's values and marks.
    one("UPDATE configuraciones_valores SET valor = 'X''1', id_estado = -1 WHERE id_panel = 2 AND id_seccion = 3");
    abm->sle_configuracion->setText("cañería nueva");
    abm->cb_aceptar->trigger();
    QTRY_VERIFY(!modal<w_configuracion_abm>());
    QCOMPARE(w.il_configuracion, 2);
    QCOMPARE(w.st_configuracion->text(), QString("CAÑERÍA NUEVA"));
    QVERIFY(writable(w));
    QVERIFY(templateRows(1).size() > 41 * 2);
    QCOMPARE(templateRows(2), templateRows(1));

    // A copy that fails half-way leaves no template behind.
    one("CREATE TEMP TRIGGER refuse BEFORE INSERT ON configuraciones_valores WHEN NEW.id_configuracion = 3 "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    st.messages.clear();
    w.cb_copiar->trigger();
    abm = modal<w_configuracion_abm>();
    abm->sle_configuracion->setText("otra");
    abm->cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error 701"));
    QCOMPARE(one("SELECT count(*) FROM configuraciones").toInt(), 2);
    abm->cb_cancelar->trigger();
    QTRY_VERIFY(!modal<w_configuracion_abm>());
    QCOMPARE(w.il_configuracion, 2);

    // Renaming shows the current name.
    QTest::mouseClick(w.img_cbconfiguracion, Qt::LeftButton);
    abm = modal<w_configuracion_abm>();
    QVERIFY(abm && !abm->copying());
    QCOMPARE(abm->sle_configuracion->text(), QString("CAÑERÍA NUEVA"));
    abm->sle_configuracion->setText("renombrada");
    QTest::keyClick(abm->sle_configuracion, Qt::Key_Return);
    QTRY_VERIFY(!modal<w_configuracion_abm>());
    QCOMPARE(one("SELECT descripcion FROM configuraciones WHERE id_configuracion = 2").toString(), QString("RENOMBRADA"));
    QCOMPARE(w.st_configuracion->text(), QString("RENOMBRADA"));

    // A template in use stays, with its values.
    one("UPDATE abonados SET id_configuracion = 2 WHERE id_abonado = 1");
    w.cb_baja->trigger(); // answered No
    QCOMPARE(st.messages.asked.last(), QString("¿Está seguro de dar de baja esta configuración?"));
    st.messages.answers.enqueue(true);
    w.cb_baja->trigger();
    QCOMPARE(st.messages.lastText(),
             QString("No fué posible eliminar esta configuración. Asegúrese de que no la está utiliando ningún abonado."));
    QCOMPARE(w.il_configuracion, 2);
    QCOMPARE(templateRows(2), templateRows(1));

    // Unused, it goes with its values; the model's only template is shown.
    one("UPDATE abonados SET id_configuracion = 1 WHERE id_abonado = 1");
    st.messages.answers.enqueue(true);
    w.cb_baja->trigger();
    QCOMPARE(one("SELECT count(*) FROM configuraciones WHERE id_configuracion = 2").toInt(), 0);
    QVERIFY(templateRows(2).isEmpty());
    QCOMPARE(w.il_configuracion, 1);
    QVERIFY(!writable(w));
}

QTEST_MAIN(TstConfiguracion)
#include "tst_configuracion.moc"
