// The templates window and its name dialog: automatic choices, the catalogue
// template kept read-only, marks, filters, editing through the editor
// context, copy, rename and delete.

#include "session/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "ui/ui_unsaved.h"
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
    return db::scalar(stationDb(), sql, values);
}

// A template's rows as "panel/section/item/value/mark", every model.
QString templateRows(int id)
{
    QStringList rows;
    QSqlQuery q = db::exec(stationDb(), "SELECT id_panel || '/' || id_seccion || '/' || id_item || '/' || valor || '/' || id_estado "
                                        "FROM configuraciones_valores WHERE id_configuracion = ? ORDER BY id_panel, id_seccion, id_item",
                           {id});
    while (q.next())
        rows << q.value(0).toString();
    return rows.join(QLatin1Char(' '));
}

// How many of template 2's rows for model 1 (for `panel`) have a mark other than `marca`.
int otherMarks(int marca, int panel = 1)
{
    return one("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 2 AND id_panel = ? AND id_estado <> ?",
               {panel, marca}).toInt();
}

void makeTemplate2()
{
    one("INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (2, 'PRUEBA')");
    one("INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
        "SELECT 2, id_panel, id_seccion, id_item, valor, id_estado FROM configuraciones_valores WHERE id_configuracion = 1");
}

int rowOf(QTableWidget* g, int seccion)
{
    return g->findItems(QString::number(seccion), Qt::MatchExactly).value(0)->row();
}

void clickMark(QTableWidget* g, int row)
{
    g->scrollToItem(g->item(row, 0));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(g->model()->index(row, 0)).center());
}

void filter(w_configuracion& w, const QString& text)
{
    w.sle_filtroseccion->setText(text);
    QTest::keyClick(w.sle_filtroseccion, Qt::Key_Return);
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

class tst_configuracion : public QObject {
    Q_OBJECT
private slots:

    void pickedFromTheMainToolbarAndPrinted();
    void oneModelAndTheCatalogueTemplateReadOnly();
    void marksFiltersAndEditing();
    void copyRenameAndDelete();
};

void tst_configuracion::pickedFromTheMainToolbarAndPrinted()
{
    TestStation st(true, true);
    w_main m(st.ctx, st.trans);
    m.endProgram = [](int) {};
    registerWindows(m, st);
    m.action("cb_configuracion")->trigger();
    auto* w = qobject_cast<w_configuracion*>(m.child("cb_configuracion"));
    QVERIFY(w);
    // Two models: nothing is chosen and only "Panel" works.
    QVERIFY(w->st_panel->text().isEmpty() && w->st_configuracion->text().isEmpty() && w->fg_secciones->rowCount() == 0);
    QVERIFY(w->cb_panel->isEnabled() && !w->cb_configuracion->isEnabled() && !w->cb_copiar->isEnabled());

    // The model from the pick list; its only template follows.
    w->cb_panel->trigger();
    auto* list = modal<w_buscar>();
    QVERIFY(list && list->mode() == SearchMode::panel);
    list->tx_buscar->setText("nx");
    QTest::keyClick(list->tx_buscar, Qt::Key_Return);
    list->cb_aceptar->trigger();
    QCOMPARE(w->st_panel->text(), QString("NX-16 2.3"));
    QVERIFY(w->m_panel == 2 && w->m_template == 1);
    QCOMPARE(w->fg_secciones->rowCount(), one("SELECT count(*) FROM secciones WHERE id_panel = 2").toInt());

    // A second template, picked by name.
    makeTemplate2();
    w->cb_configuracion->trigger();
    list = modal<w_buscar>();
    QVERIFY(list && list->mode() == SearchMode::configuracion);
    list->tx_buscar->setText("prueba");
    QTest::keyClick(list->tx_buscar, Qt::Key_Return);
    list->cb_aceptar->trigger();
    QCOMPARE(w->st_configuracion->text(), QString("PRUEBA"));
    QVERIFY(w->m_template == 2 && writable(*w));

    w->cb_imprimir->trigger();
    QVERIFY(m.child("dr_configuracion"));
}

void tst_configuracion::oneModelAndTheCatalogueTemplateReadOnly()
{
    TestStation st(true, false);
    for (const char* table : {"configuraciones_valores", "secciones_valores", "secciones_items", "secciones", "eventos",
                              "paneles"})
        one(QString("DELETE FROM %1 WHERE id_panel = 2").arg(table));
    w_configuracion w(st.ctx);
    QCOMPARE(w.st_panel->text(), QString("PX-16 1.0"));
    QCOMPARE(w.st_configuracion->text(), one("SELECT descripcion FROM configuraciones WHERE id_configuracion = 1").toString());
    QVERIFY(w.m_panel == 1 && w.m_template == 1 && w.fg_secciones->rowCount() == 41);
    // Viewed, copied and printed only.
    QVERIFY(!writable(w) && w.cb_copiar->isEnabled() && w.cb_imprimir->isEnabled() && w.cb_configuracion->isEnabled());
    const QString before = templateRows(1);
    w.show();
    clickMark(w.fg_secciones, 0);
    QTest::mouseClick(w.img_cbconfiguracion, Qt::LeftButton);
    QCOMPARE(st.messages.lastTitle() + ": " + st.messages.lastText(), QString("Error: No puede modificar esta descripción"));
    QVERIFY(!modal<QDialog>());
    // Its marks seed new subscribers: even with marks listed nothing clears
    // them, not "Desmarcar" nor its key, nor a button left enabled.
    QVERIFY(one("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 1 AND id_panel = 1 AND id_estado <> 0")
                .toInt() > 0);
    QVERIFY(!w.cb_desmarcar->isEnabled());
    for (int i = 0; i < 3; ++i)
        st.messages.answers.enqueue(true);
    QTest::keyClick(w.fg_secciones, Qt::Key_D, Qt::AltModifier);
    for (QAction* a : {w.cb_desmarcar, w.cb_subir, w.cb_bajar}) {
        a->setEnabled(true);
        a->trigger();
    }
    QVERIFY(st.messages.asked.isEmpty());
    QCOMPARE(templateRows(1), before);
}

void tst_configuracion::marksFiltersAndEditing()
{
    TestStation st(true, false);
    makeTemplate2();
    w_configuracion w(st.ctx);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.showPanel(1);
    w.showTemplate(2);
    QVERIFY(writable(w) && w.cb_desmarcar->isEnabled());
    QTableWidget* g = w.fg_secciones;

    // The three questions, for this model only; No changes nothing.
    const std::tuple<QAction*, const char*, int> all[] = {{w.cb_desmarcar, "¿Está seguro de desmarcar todo?", 0},
                                                          {w.cb_bajar, "¿Está seguro de marcar todo para bajar?", -1},
                                                          {w.cb_subir, "¿Está seguro de marcar todo para subir?", 1}};
    for (const auto& [button, question, marca] : all) {
        button->trigger();
        QCOMPARE(st.messages.asked.last(), QString(question));
        QVERIFY(otherMarks(marca) > 0);
        st.messages.answers.enqueue(true);
        button->trigger();
        QCOMPARE(otherMarks(marca), 0);
        QVERIFY(otherMarks(marca, 2) > 0);
        QCOMPARE(w.cb_desmarcar->isEnabled(), marca != 0);
        QCOMPARE(g->item(0, 0)->icon().isNull(), marca == 0);
    }

    // Clicking the mark column, or Space on the row, cycles subir -> bajar -> none -> subir.
    const int r5 = rowOf(g, 5);
    for (const char* expected : {"-1", "0", "1", "-1"}) {
        if (QString(expected) == "1") {
            clickMark(g, r5);
        } else {
            g->setCurrentCell(r5, w_configuracion::ColDescripcion);
            g->setFocus();
            QTest::keyClick(g, Qt::Key_Space);
        }
        QCOMPARE(one("SELECT min(id_estado) || ',' || max(id_estado) FROM configuraciones_valores WHERE id_configuracion = 2 "
                     "AND id_panel = 1 AND id_seccion = 5").toString(), QString(expected) + ',' + expected);
        QCOMPARE(g->item(r5, w_configuracion::ColEstado)->text(), QString(expected));
    }

    // Digits scroll to the last section not above them; other text filters
    // by description, whatever the case; "Desmarcar" goes by what is listed.
    filter(w, "25");
    QCOMPARE(g->rowCount(), 41);
    QCOMPARE(g->item(g->rowAt(0), w_configuracion::ColSeccion)->text(), QString("25"));
    // The section found is the one F2 opens, not a row left off screen.
    w.cb_modificar->trigger();
    QVERIFY(modal<w_seccion>() && st.editor.seccion == 25);
    modal<w_seccion>()->reject();
    QTRY_VERIFY(!modal<w_seccion>());
    st.messages.answers.enqueue(true);
    w.cb_desmarcar->trigger();
    filter(w, "TELÉFONO");
    QVERIFY(g->rowCount() == 3 && !w.cb_desmarcar->isEnabled());
    clickMark(g, 1);
    QVERIFY(w.cb_desmarcar->isEnabled());
    filter(w, "zona");
    QCOMPARE(g->rowCount(), one("SELECT count(*) FROM secciones WHERE id_panel = 1 AND lower(descripcion) LIKE '%zona%'").toInt());
    for (int r = 0; r < g->rowCount(); ++r)
        QVERIFY(g->item(r, w_configuracion::ColDescripcion)->text().contains("Zona"));
    QVERIFY(!w.cb_desmarcar->isEnabled());

    // Editing a section goes through the editor context; its mark comes back.
    filter(w, "");
    g->setCurrentCell(rowOf(g, 20), 1);
    w.cb_modificar->trigger();
    auto* editor = modal<w_seccion>();
    const EditorContext& ctx = st.editor;
    QVERIFY(editor && ctx.mode == EditorMode::configuracion && ctx.panel == 1 && ctx.configuracion == 2 && ctx.seccion == 20);
    editor->cb_subir->trigger();
    QTRY_VERIFY(!modal<w_seccion>());
    QCOMPARE(ctx.marca, 1);
    QCOMPARE(g->item(rowOf(g, 20), w_configuracion::ColEstado)->text(), QString("1"));
    // Enter in the list opens the current section too; the list comes back to it.
    QCOMPARE(g->currentRow(), rowOf(g, 20));
    QTest::keyClick(g, Qt::Key_Return);
    editor = modal<w_seccion>();
    QVERIFY(editor && ctx.seccion == 20);
    editor->reject();
    QTRY_VERIFY(!modal<w_seccion>());
    QCOMPARE(g->currentRow(), rowOf(g, 20));
}

void tst_configuracion::copyRenameAndDelete()
{
    TestStation st(true, true);
    w_configuracion w(st.ctx);
    w.showPanel(1);
    // Template 1 can be copied: a name is needed.
    w.cb_copiar->trigger();
    auto* abm = modal<w_configuracion_abm>();
    QVERIFY(abm && abm->copying() && abm->sle_configuracion->text().isEmpty());
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
    QCOMPARE(w.st_configuracion->text(), QString("CAÑERÍA NUEVA"));
    QVERIFY(w.m_template == 2 && writable(w));
    QCOMPARE(templateRows(2), templateRows(1));

    // A copy that fails half-way leaves no template behind.
    addTrigger(stationDb(), "refuse", "BEFORE INSERT", "configuraciones_valores", "NEW.id_configuracion = 3");
    st.messages.clear();
    w.cb_copiar->trigger();
    abm = modal<w_configuracion_abm>();
    abm->sle_configuracion->setText("otra");
    abm->cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error 701"));
    QCOMPARE(one("SELECT count(*) FROM configuraciones").toInt(), 2);
    // Escape with a typed name asks (answered No); "Cancelar" does not.
    QTest::keyClick(abm->sle_configuracion, Qt::Key_Escape);
    QCOMPARE(st.messages.asked, QStringList{ui::DiscardQuestion});
    QCOMPARE(modal<w_configuracion_abm>(), abm);
    abm->cb_cancelar->trigger();
    QTRY_VERIFY(!modal<w_configuracion_abm>());
    QCOMPARE(st.messages.asked.size(), 1);

    // Renaming starts from the current name.
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
    QCOMPARE(w.m_template, 2);
    QCOMPARE(templateRows(2), templateRows(1));

    // Unused, it goes with its values; the model's only template is shown.
    one("UPDATE abonados SET id_configuracion = 1 WHERE id_abonado = 1");
    st.messages.answers.enqueue(true);
    w.cb_baja->trigger();
    QVERIFY(one("SELECT count(*) FROM configuraciones WHERE id_configuracion = 2").toInt() == 0 && templateRows(2).isEmpty());
    QVERIFY(w.m_template == 1 && !writable(w));
}

QTEST_MAIN(tst_configuracion)
#include "tst_configuracion.moc"
