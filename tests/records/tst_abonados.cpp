// The subscriber record: checks, saving with seeding, editing, deleting,
// access levels, what a failed save leaves behind, and what the record asks
// before a code is repeated or typing is lost.

#include "session/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "ui/ui_keyboard.h"
#include "ui/ui_text_input.h"
#include "ui/ui_unsaved.h"
#include "app/w_main.h"
#include "common/fault_injector.h"
#include "common/testsupport.h"
#include "data/db.h"
#include "data/permissions.h"
#include "records/search_context.h"
#include "records/w_abonados.h"
#include "records/w_buscar.h"
#include "reports/w_reporte.h"

#include <QAction>
#include <memory>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QToolTip>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTabWidget>
#include <QtTest>

namespace {

QVariant one(const QString& sql, const QVariantList& values = {})
{
    return db::scalar(stationDb(), sql, values);
}

void choose(QComboBox* c, int key)
{
    c->setCurrentIndex(c->findData(key));
}

// Value rows as "section/item/value/mark" of a subscriber (table abonados_valores)
// or of a template for a model (configuraciones_valores).
QStringList values(const QString& table, const QString& where, const QVariantList& keys)
{
    QStringList out;
    QSqlQuery q = db::exec(stationDb(),
                           QString("SELECT id_seccion || '/' || id_item || '/' || valor || '/' || id_estado FROM %1 "
                                   "WHERE %2 ORDER BY id_seccion, id_item").arg(table, where), keys);
    while (q.next())
        out << q.value(0).toString();
    return out;
}
QStringList subscriberValues(int id) { return values("abonados_valores", "id_abonado = ?", {id}); }
QStringList templateValues(int panel) { return values("configuraciones_valores", "id_configuracion = 1 AND id_panel = ?", {panel}); }

// The required fields as an operator types them: lower case, model 2.
void fillForm(w_abonados& w)
{
    for (auto [i, t] : {std::pair{1, "c-10"}, {0, "núñez"}, {2, "maría"}, {3, "rivadavia"}, {4, "0042"}, {7, "salta"}, {10, "4310"}})
        w.setCampo(i, t);
    choose(w.cbx_campo[4], 2);
    choose(w.cbx_campo[5], 1);
    choose(w.cbx_campo[0], 17);
}

bool editing(const w_abonados& w)
{
    return w.frm_1->isEnabled() && w.cb_aceptar->isEnabled() && !w.cb_buscar->isEnabled();
}

} // namespace

class tst_abonados : public QObject {
    Q_OBJECT
private slots:

    void opensFromTheMainToolbarByLevel();
    void checksInOrderThenFirstSubscriberIsSeeded();
    void editingKeepsModelTemplateAndValues();
    void deleteCascadesAndTheNumberIsReused();
    void failedSaveChangesNothingCancelRestores();
    void enteringABoxSelectsItsText();
    void pastesKeepWhatFitsWithoutControls();
    void repeatedCodeIsADecision();
    void inTheMainWindow();
};

void tst_abonados::opensFromTheMainToolbarByLevel()
{
    TestStation st(true, true);
    w_main m(st.ctx, st.trans);
    registerWindows(m, st);
    m.action("cb_abonados")->trigger();
    auto* w = qobject_cast<w_abonados*>(m.child("cb_abonados"));
    QVERIFY(w);
    // Nothing current: look up or create only.
    QVERIFY(!w->frm_1->isEnabled() && w->cb_buscar->isEnabled() && w->cb_alta->isEnabled());
    QVERIFY(!w->cb_baja->isEnabled() && !w->cb_modificar->isEnabled() && !w->cb_aceptar->isEnabled());
    // Spanish order (CÓRDOBA before CORRIENTES), keys as item data.
    QCOMPARE(w->cbx_campo[0]->itemText(5) + w->cbx_campo[0]->itemText(6), QString("CÓRDOBACORRIENTES"));
    QCOMPARE(w->cbx_campo[4]->itemData(w->cbx_campo[4]->findText("NX-16 2.3")).toInt(), 2);

    // The search button picks into this window, at every level.
    w->cb_buscar->trigger();
    auto* list = qobject_cast<w_buscar*>(QApplication::activeModalWidget());
    QVERIFY(list && list->mode() == SearchMode::abonado);
    list->tx_buscar->setText("0002");
    QTest::keyClick(list->tx_buscar, Qt::Key_Return);
    list->cb_aceptar->trigger();
    QCOMPARE(w->m_subscriber, 2);
    QCOMPARE(w->campo(3), QString("SAN MARTÍN"));

    st.main.logIn(st.main.currentUser(), 3);
    w->showData(1);
    QVERIFY(w->cb_buscar->isEnabled() && !w->cb_alta->isEnabled() && !w->cb_baja->isEnabled() && !w->cb_modificar->isEnabled());
    // Printing is allowed at every level: the subscriber list, beside the record.
    w->cb_imprimir->trigger();
    QVERIFY(qobject_cast<w_reporte*>(m.child("dr_abonados")));
    QCOMPARE(m.child("cb_abonados"), w);
}

void tst_abonados::checksInOrderThenFirstSubscriberIsSeeded()
{
    TestStation st(true, false);
    w_abonados w(st.ctx);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.cb_alta->trigger();
    QVERIFY(editing(w) && w.cbx_campo[4]->isEnabled());
    QCOMPARE(w.focusWidget(), w.sle_campo[1]);

    // Each save names only the first missing field, in this order, with the
    // focus on it; filling it moves the complaint to the next one.
    const QList<std::tuple<int, QWidget*, std::function<void()>>> steps = {
        {309, w.sle_campo[1], [&] { w.setCampo(1, "c-1"); }},   {301, w.cbx_campo[4], [&] { choose(w.cbx_campo[4], 2); }},
        {312, w.cbx_campo[5], [&] { choose(w.cbx_campo[5], 1); }}, {304, w.sle_campo[0], [&] { w.setCampo(0, "peña"); }},
        {305, w.sle_campo[2], [&] { w.setCampo(2, "x"); }},      {306, w.sle_campo[3], [&] { w.setCampo(3, "x"); }},
        {307, w.sle_campo[4], [&] { w.setCampo(4, "x"); }},      {308, w.sle_campo[7], [&] { w.setCampo(7, "x"); }},
        {302, w.cbx_campo[0], [&] { choose(w.cbx_campo[0], 1); }}, {310, w.sle_campo[10], [&] { w.setCampo(10, "1"); }},
    };
    for (const auto& [message, focus, fill] : steps) {
        st.messages.clear();
        w.SSTab_abm->setCurrentIndex(2);
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.shown.size(), 1);
        QCOMPARE(st.messages.lastTitle(), QString("Error %1").arg(message));
        QCOMPARE(w.SSTab_abm->currentIndex(), 0);
        QCOMPARE(w.focusWidget(), focus);
        QVERIFY(editing(w));
        QCOMPARE(one("SELECT count(*) FROM abonados").toInt(), 0);
        fill();
    }
    st.messages.clear();
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.shown.size(), 0);

    // Number 1 in an empty table, capitals, nulls for what was left empty,
    // and the template's values and marks for its model.
    QCOMPARE(w.m_subscriber, 1);
    QCOMPARE(one("SELECT codigo || apellido FROM abonados WHERE id_abonado = 1").toString(), QString("C-1PEÑA"));
    QCOMPARE(one("SELECT count(*) FROM abonados WHERE piso IS NULL AND depto IS NULL AND cp IS NULL AND tel_2 IS NULL "
                 "AND ref_contacto1 IS NULL AND id_contacto1 IS NULL AND tel_contacto1 IS NULL AND id_contacto2 IS NULL "
                 "AND id_contacto3 IS NULL AND observaciones IS NULL").toInt(), 1);
    QVERIFY(!templateValues(2).isEmpty());
    QCOMPARE(subscriberValues(1), templateValues(2));
    QVERIFY(!editing(w) && w.cb_baja->isEnabled());
    QCOMPARE(w.campo(0), QString("PEÑA"));
    QCOMPARE(w.cbx_campo[2]->currentText(), QString());

    // Each box its own awkward text, as long as it takes: a mixed-up column shows.
    w.cb_modificar->trigger();
    const QString awkward = "o'brien \"ñandú\" áéíóú ü; DROP TABLE abonados;-- %_ ";
    QStringList typed;
    // The panel's own numbers (10, 11) are dialled: dial characters only.
    const QString dialled = "(011) 4555-0001,W*#";
    for (int i = 0; i < 18; ++i) {
        auto* line = qobject_cast<QLineEdit*>(w.sle_campo[i]);
        const int max = line ? line->maxLength() : 2000;
        QVERIFY(max >= 10);
        const QString text = i == 10 || i == 11 ? dialled : QString::number(i) + awkward;
        typed << text.repeated(max / text.size() + 1).left(max);
        w.setCampo(i, typed.last());
    }
    choose(w.cbx_campo[2], 3);
    w.cb_aceptar->trigger();
    for (int i = 0; i < 18; ++i) // shown as read back from the store
        QCOMPARE(w.campo(i), typed.at(i).toUpper());
    QCOMPARE(one("SELECT apellido || id_contacto2 FROM abonados").toString(), typed.at(0).toUpper() + "3");

    // A number that would carry modem commands is refused, naming why.
    for (const auto& [i, bad, named] : {std::tuple{10, "5550001\rATH", "retorno de carro"}, std::tuple{11, "555 0001 int. 2", "«I»"}}) {
        w.cb_modificar->trigger();
        w.setCampo(i, bad);
        st.messages.clear();
        w.cb_aceptar->trigger();
        QVERIFY(editing(w));
        QCOMPARE(w.focusWidget(), w.sle_campo[i]);
        QVERIFY(st.messages.lastText().startsWith(QString("El teléfono tiene un carácter que no se puede marcar: %1").arg(named)));
        QCOMPARE(one(QString("SELECT tel_%1 FROM abonados").arg(i - 9)).toString(), typed.at(i).toUpper());
        w.cb_cancelar->trigger();
    }

    // A stored text longer than a box allows is shown and saved back whole.
    const QString longer = QString("X").repeated(300);
    one("UPDATE abonados SET calle = ?", {longer});
    w.showData(1);
    w.cb_modificar->trigger();
    w.cb_aceptar->trigger();
    QCOMPARE(one("SELECT calle FROM abonados").toString(), longer);
}

void tst_abonados::editingKeepsModelTemplateAndValues()
{
    TestStation st(true, true);
    one("UPDATE abonados_valores SET valor = 'ZZ', id_estado = -1 WHERE id_abonado = 1 AND id_seccion = 1");
    const QStringList before = subscriberValues(1);
    w_abonados w(st.ctx);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.showData(1);
    // Contact 1 is of kind 1; 2 and 3 have none and show no selection.
    QCOMPARE(w.cbx_campo[1]->currentData().toInt(), 1);
    QVERIFY(w.cbx_campo[2]->currentIndex() == -1 && w.cbx_campo[3]->currentIndex() == -1);

    w.SSTab_abm->setCurrentIndex(2);
    w.cb_modificar->trigger();
    QVERIFY(editing(w));
    QCOMPARE(w.focusWidget(), w.sle_campo[12]);
    QVERIFY(!w.cbx_campo[4]->isEnabled() && !w.cbx_campo[5]->isEnabled());
    w.setCampo(2, "editado");
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.shown.size(), 0);
    QCOMPARE(one("SELECT nombre || id_panel || id_configuracion || id_contacto1 || coalesce(CAST(id_contacto2 AS TEXT), CAST(id_contacto3 AS TEXT), '-') "
                 "FROM abonados WHERE id_abonado = 1").toString(), QString("EDITADO111-"));
    QCOMPARE(subscriberValues(1), before);

    // Saving over a subscriber removed behind the window's back fails.
    w.cb_modificar->trigger();
    one("DELETE FROM abonados WHERE id_abonado = 1");
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error"));
    QVERIFY(st.messages.lastText().startsWith("Otra estación eliminó este registro"));
    QCOMPARE(one("SELECT count(*) FROM abonados").toInt(), 1);
    QVERIFY(editing(w));
}

void tst_abonados::deleteCascadesAndTheNumberIsReused()
{
    TestStation st(true, true);
    one("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) VALUES (2, 2, 5, 1, 0)");
    w_abonados w(st.ctx);
    w.showData(2);
    w.cb_baja->trigger(); // answered No
    QCOMPARE(st.messages.asked, QStringList{"¿Está seguro de borrar este item?"});
    addTrigger(stationDb(), "no_baja", "BEFORE DELETE", "abonados");
    st.messages.answers.enqueue(true);
    w.cb_baja->trigger();
    QVERIFY(st.messages.lastText().startsWith("No se pudo eliminar el item\n"));
    QCOMPARE(w.campo(1), QString("0002"));
    QCOMPARE(one("SELECT count(*) FROM abonados").toInt(), 2);

    dropTrigger(stationDb(), "no_baja", "abonados");
    st.messages.answers.enqueue(true);
    w.cb_baja->trigger();
    QCOMPARE(one("SELECT (SELECT count(*) FROM abonados WHERE id_abonado = 2) + (SELECT count(*) FROM abonados_valores "
                 "WHERE id_abonado = 2) + (SELECT count(*) FROM abonados_eventos)").toInt(), 0);
    QCOMPARE(w.m_subscriber, 0);
    QVERIFY(w.campo(1).isEmpty() && !w.cb_baja->isEnabled() && !w.cb_modificar->isEnabled());

    // The highest number is free again and comes back clean, on model 1.
    w.cb_alta->trigger();
    fillForm(w);
    choose(w.cbx_campo[4], 1);
    w.cb_aceptar->trigger();
    QCOMPARE(w.m_subscriber, 2);
    QCOMPARE(subscriberValues(2), templateValues(1));
    QCOMPARE(one("SELECT count(*) FROM abonados_eventos").toInt(), 0);
}

void tst_abonados::failedSaveChangesNothingCancelRestores()
{
    TestStation st(true, true);
    w_abonados w(st.ctx);
    w.showData(1);
    // The seeding fails after the row went in: the row must go too.
    auto refused = std::make_unique<FaultInjector>(stationDb(), FaultInjector::Kind::Constraint, 1,
                                                   QStringList{"abonados_valores"});
    w.cb_alta->trigger();
    fillForm(w);
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error 399"));
    QVERIFY(st.messages.lastText().startsWith("Se produjo un error al crear los valores del panel\n"));
    QCOMPARE(one("SELECT count(*) FROM abonados").toInt(), 2);
    QCOMPARE(one("SELECT count(*) FROM abonados_valores WHERE id_abonado = 3").toInt(), 0);
    QVERIFY(editing(w));
    QCOMPARE(w.campo(0), QString("núñez"));
    // "Cancelar" goes back to the subscriber shown before "Alta".
    w.cb_cancelar->trigger();
    QVERIFY(!editing(w) && w.cb_baja->isEnabled());
    QCOMPARE(w.m_subscriber, 1);
    QCOMPARE(w.campo(1), QString("0001"));
    QCOMPARE(w.cbx_campo[4]->currentData().toInt(), 1);
    refused.reset();
    // A full disk is said first, not under the form's own message.
    auto full = std::make_unique<FaultInjector>(stationDb(), FaultInjector::Kind::DiskFull, 1, QStringList{"abonados"});
    w.cb_alta->trigger();
    fillForm(w);
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error"));
    QVERIFY(st.messages.lastText().startsWith("No hay espacio en el disco de la base de datos (carpeta "));
    QVERIFY(editing(w));
    full.reset();
    w.cb_aceptar->trigger();
    QCOMPARE(w.m_subscriber, 3);
    QCOMPARE(subscriberValues(3), templateValues(2));
}

void tst_abonados::enteringABoxSelectsItsText()
{
    TestStation st(true, true);
    w_abonados w(st.ctx);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.showData(1);
    w.cb_modificar->trigger();
    // Entered with the mouse: the click must not undo the selection.
    auto* calle = qobject_cast<QLineEdit*>(w.sle_campo[3]);
    QTest::mouseClick(calle, Qt::LeftButton, {}, QPoint(5, calle->height() / 2));
    QTRY_COMPARE(calle->selectedText(), QString("AV. SIEMPRE VIVA"));
}

void tst_abonados::pastesKeepWhatFitsWithoutControls()
{
    TestStation st(true, true);
    w_abonados w(st.ctx);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    ui::polishWindow(&w);
    w.showData(1);
    w.cb_modificar->trigger();
    auto* apellido = qobject_cast<QLineEdit*>(w.sle_campo[0]);
    apellido->clear();
    apellido->setFocus();
    // A long paste keeps what fits, and says so beside the field.
    QGuiApplication::clipboard()->setText(QString(300, 'A'));
    QTest::keyClick(apellido, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(apellido->text(), QString(50, 'A'));
    QTRY_COMPARE(QToolTip::text(), ui::cutNote(50));
    QCOMPARE(ui::cutNote(50), QString("El texto se recortó a 50 caracteres"));
    // Controls and the marks that reorder a line never get in, pasted or typed.
    apellido->clear();
    QGuiApplication::clipboard()->setText(QString("SAN\tMAR") + QChar(0x202E) + "TÍN" + QChar(0x2066) + "\n");
    QTest::keyClick(apellido, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(apellido->text(), QString("SANMARTÍN"));
    apellido->setCursorPosition(3);
    QInputMethodEvent composed; // what an input method hands over is cleaned too
    composed.setCommitString(QString(QChar(0x202E)) + " ");
    QCoreApplication::sendEvent(apellido, &composed);
    QCOMPARE(apellido->text(), QString("SAN MARTÍN"));
    QCOMPARE(apellido->cursorPosition(), 4);
    // The notes keep their lines, one break however it came.
    auto* notas = qobject_cast<QPlainTextEdit*>(w.sle_campo[8]);
    notas->clear();
    notas->setFocus();
    QGuiApplication::clipboard()->setText(QString("UNO\r\nDOS\x07\rTRES") + QString(3300, 'X'));
    QTest::keyClick(notas, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(notas->toPlainText(), ("UNO\nDOS\nTRES" + QString(3300, 'X')).left(2000));
    QTRY_COMPARE(QToolTip::text(), ui::cutNote(2000));
    w.cb_aceptar->trigger();
    QCOMPARE(one("SELECT apellido FROM abonados WHERE id_abonado = 1").toString(), QString("SAN MARTÍN"));
    QCOMPARE(one("SELECT length(observaciones) FROM abonados WHERE id_abonado = 1").toInt(), 2000);
}

void tst_abonados::repeatedCodeIsADecision()
{
    TestStation st(true, true);
    w_abonados w(st.ctx);
    w.showData(1);
    // Its own code, or a new one, asks nothing.
    w.cb_modificar->trigger();
    w.cb_aceptar->trigger();
    w.cb_alta->trigger();
    fillForm(w);
    w.cb_aceptar->trigger();
    QVERIFY(st.messages.asked.isEmpty() && !editing(w));

    w.showData(1);
    w.cb_modificar->trigger();
    w.setCampo(1, "0002"); // subscriber 2's code
    w.cb_aceptar->trigger(); // answered No
    QCOMPARE(st.messages.asked, QStringList{"El código ya existe en el abonado 0002 - DEMOSTRACIÓN. ¿Guarda de todos modos?"});
    QVERIFY(editing(w) && w.focusWidget() == w.sle_campo[1]);
    QCOMPARE(one("SELECT codigo FROM abonados WHERE id_abonado = 1").toString(), QString("0001"));
    st.messages.answers.enqueue(true);
    w.cb_aceptar->trigger();
    QVERIFY(!editing(w));
    QCOMPARE(one("SELECT count(*) FROM abonados WHERE codigo = '0002'").toInt(), 2);

    // Whose code it is stays unsaid to an operator limited to other groups.
    const int north = permissions::saveGroup(stationDb(), {0, "NORTE", "Zona norte"});
    one("UPDATE abonados SET id_grupo = ? WHERE id_abonado = 1", {north});
    permissions::setOperatorGroups(stationDb(), 1, {north});
    st.main.logIn(1, 1);
    w_abonados limited(st.ctx);
    limited.showData(1);
    limited.cb_modificar->trigger();
    limited.setCampo(1, "0002");
    limited.cb_aceptar->trigger();
    QCOMPARE(st.messages.asked.last(), QString("El código ya existe en un abonado de otro grupo. ¿Guarda de todos modos?"));
}

void tst_abonados::inTheMainWindow()
{
    TestStation st(true, true);
    one("UPDATE abonados SET calle = ? WHERE id_abonado = 1", {QString("AVENIDA ") + QString("X").repeated(70)});
    w_main m(st.ctx, st.trans);
    int ended = -1;
    m.endProgram = [&](int c) { ended = c; };
    registerWindows(m, st);
    m.show();
    m.action("cb_abonados")->trigger();
    auto* w = qobject_cast<w_abonados*>(m.child("cb_abonados"));
    auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget());
    // A long text shows its start when viewed.
    w->showData(1);
    QCOMPARE(qobject_cast<QLineEdit*>(w->sle_campo[3])->cursorPosition(), 0);

    // Rows added meanwhile in other windows are there when the record comes
    // back to the front, with what was chosen still chosen.
    w->cb_modificar->trigger();
    QVERIFY(!w->hasUnsavedChanges());
    one("INSERT INTO provincias (id_provincia, descripcion) VALUES (99, 'AAA NUEVA')");
    one("INSERT INTO contactos (id_contacto, descripcion) VALUES (99, 'VECINO')");
    m.action("cb_configuracion")->trigger();
    m.mdi->setActiveSubWindow(sub);
    QCOMPARE(w->cbx_campo[0]->itemText(0), QString("AAA NUEVA"));
    QCOMPARE(w->cbx_campo[0]->currentText(), QString("CÓRDOBA"));
    QVERIFY(w->cbx_campo[2]->findData(99) > 0 && w->cbx_campo[2]->currentIndex() == -1);
    QVERIFY(!w->hasUnsavedChanges());

    // Typing is not lost by closing the record, nor by "Salir" (answered No).
    w->setCampo(2, "otro");
    QVERIFY(!sub->close());
    m.action("cb_salir")->trigger();
    QCOMPARE(st.messages.asked, QStringList(2, ui::DiscardQuestion));
    QVERIFY(m.child("cb_abonados") == w && w->campo(2) == "otro" && ended == -1);
    st.messages.answers.enqueue(true);
    m.action("cb_salir")->trigger();
    QCOMPARE(ended, 0);
}

QTEST_MAIN(tst_abonados)
#include "tst_abonados.moc"
