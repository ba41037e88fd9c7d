// The subscriber record: checks, saving with seeding, editing, deleting,
// access levels, and what a failed save leaves behind.

#include "app/mdl_main.h"
#include "app/ui_startup_hooks.h"
#include "app/w_main.h"
#include "common/testsupport.h"
#include "data/db.h"
#include "records/search_context.h"
#include "records/w_abonados.h"
#include "records/w_buscar.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QtTest>

namespace {

QSqlDatabase conn()
{
    return mdl_main::instance().db();
}

int count(const QString& sql, const QVariantList& values = {})
{
    return db::scalar(conn(), sql, values).toInt();
}

void choose(QComboBox* c, int key)
{
    c->setCurrentIndex(c->findData(key));
    QVERIFY(c->currentIndex() >= 0);
}

// The template's rows for a model, as "section/item/value/mark" lines.
QStringList templateRows(int config, int panel)
{
    QStringList out;
    QSqlQuery q = db::exec(conn(),
                           "SELECT id_seccion, id_item, valor, id_estado FROM configuraciones_valores "
                           "WHERE id_configuracion = ? AND id_panel = ? ORDER BY 1, 2",
                           {config, panel});
    while (q.next())
        out << QString("%1/%2/%3/%4").arg(q.value(0).toInt()).arg(q.value(1).toInt()).arg(q.value(2).toString())
                   .arg(q.value(3).toInt());
    return out;
}

QStringList subscriberRows(int id)
{
    QStringList out;
    QSqlQuery q = db::exec(conn(),
                           "SELECT id_seccion, id_item, valor, id_estado FROM abonados_valores "
                           "WHERE id_abonado = ? ORDER BY 1, 2",
                           {id});
    while (q.next())
        out << QString("%1/%2/%3/%4").arg(q.value(0).toInt()).arg(q.value(1).toInt()).arg(q.value(2).toString())
                   .arg(q.value(3).toInt());
    return out;
}

// The form filled as an operator would, in lower case, model 2, template 1.
void fillForm(w_abonados& w)
{
    w.setCampo(1, "c-10");
    choose(w.cbx_campo[4], 2);
    choose(w.cbx_campo[5], 1);
    w.setCampo(0, "núñez");
    w.setCampo(2, "maría");
    w.setCampo(3, "rivadavia");
    w.setCampo(4, "0042");
    w.setCampo(7, "salta");
    choose(w.cbx_campo[0], 17);
    w.setCampo(10, "4310000");
}

bool editing(const w_abonados& w)
{
    return w.frm_1->isEnabled() && w.cb_aceptar->isEnabled() && w.cb_cancelar->isEnabled() &&
           !w.cb_buscar->isEnabled();
}

} // namespace

class TstAbonados : public QObject {
    Q_OBJECT
private slots:
    void init() { SearchContext::instance().reset(); }

    void opensFromTheMainToolbar();
    void onlyTheFirstFailedCheckIsReported();
    void newSubscriberIsNumberedSeededAndUpperCased();
    void awkwardTextIsStoredAndShownExactly();
    void editingKeepsModelTemplateAndValues();
    void deleteCascadesAndTheNumberIsReused();
    void levelThreeOnlyLooksUp();
    void cancelShowsThePreviousSubscriber();
    void failedSaveChangesNothingAndKeepsEditing();
    void enteringABoxSelectsItsText();
    void searchButtonShowsThePick();
};

void TstAbonados::opensFromTheMainToolbar()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 1;
    w_main m;
    registerWindows(m);
    m.action("cb_abonados")->trigger();
    auto* w = qobject_cast<w_abonados*>(m.child("cb_abonados"));
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QString("Abonados"));
    QCOMPARE(w->SSTab_abm->count(), 3);
    QCOMPARE(w->SSTab_abm->tabText(2), QString("Contactos"));

    // Empty form, nothing current: look up or create only.
    QCOMPARE(w->il_abonado, 0);
    QVERIFY(!w->frm_1->isEnabled());
    QVERIFY(w->cb_buscar->isEnabled() && w->cb_alta->isEnabled());
    QVERIFY(!w->cb_baja->isEnabled() && !w->cb_modificar->isEnabled());
    QVERIFY(!w->cb_aceptar->isEnabled() && !w->cb_cancelar->isEnabled());
    // Reports are wired by their own module; until then the button is inert.
    QCOMPARE(w->cb_imprimir->isEnabled(), bool(w_abonados::imprimir));

    // Combos in Spanish order, with their keys.
    QCOMPARE(w->cbx_campo[0]->count(), count("SELECT count(*) FROM provincias"));
    QCOMPARE(w->cbx_campo[0]->itemText(5), QString("CÓRDOBA"));
    QCOMPARE(w->cbx_campo[0]->itemText(6), QString("CORRIENTES"));
    QCOMPARE(w->cbx_campo[4]->itemText(0), QString("NX-16 2.3"));
    QCOMPARE(w->cbx_campo[4]->itemData(0).toInt(), 2);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(w->cbx_campo[i]->currentIndex(), -1);

    // Opening it again brings the same window forward.
    m.action("cb_abonados")->trigger();
    QCOMPARE(m.child("cb_abonados"), w);
}

void TstAbonados::onlyTheFirstFailedCheckIsReported()
{
    Station st(true, false);
    mdl_main::instance().currentLevel = 1;
    w_abonados w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.cb_alta->trigger();
    QVERIFY(editing(w));
    QCOMPARE(w.focusWidget(), w.sle_campo[1]);

    // Each step fills the field the previous save complained about; the save
    // then names the next one, in this order, and nothing is written.
    struct Step {
        std::function<void()> fill;
        int message;
        QWidget* focus;
    };
    const QList<Step> steps = {
        {[] {}, 309, w.sle_campo[1]},
        {[&] { w.setCampo(1, "x"); }, 301, w.cbx_campo[4]},
        {[&] { choose(w.cbx_campo[4], 1); }, 312, w.cbx_campo[5]},
        {[&] { choose(w.cbx_campo[5], 1); }, 304, w.sle_campo[0]},
        {[&] { w.setCampo(0, "x"); }, 305, w.sle_campo[2]},
        {[&] { w.setCampo(2, "x"); }, 306, w.sle_campo[3]},
        {[&] { w.setCampo(3, "x"); }, 307, w.sle_campo[4]},
        {[&] { w.setCampo(4, "x"); }, 308, w.sle_campo[7]},
        {[&] { w.setCampo(7, "x"); }, 302, w.cbx_campo[0]},
        {[&] { choose(w.cbx_campo[0], 1); }, 310, w.sle_campo[10]},
    };
    for (const Step& s : steps) {
        s.fill();
        st.messages.clear();
        w.SSTab_abm->setCurrentIndex(2);
        w.cb_aceptar->trigger();
        QCOMPARE(st.messages.shown.size(), 1);
        QCOMPARE(st.messages.lastTitle(), QString("Error %1").arg(s.message));
        QCOMPARE(st.messages.lastText(), catalogueText(s.message));
        QCOMPARE(w.SSTab_abm->currentIndex(), 0);
        QCOMPARE(w.focusWidget(), s.focus);
        QVERIFY(editing(w));
    }
    QCOMPARE(count("SELECT count(*) FROM abonados"), 0);
    w.setCampo(10, "1");
    w.cb_aceptar->trigger();
    QCOMPARE(count("SELECT count(*) FROM abonados"), 1);
}

void TstAbonados::newSubscriberIsNumberedSeededAndUpperCased()
{
    Station st(true, false);
    mdl_main::instance().currentLevel = 1;
    w_abonados w;
    w.cb_alta->trigger();
    fillForm(w);
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.shown.size(), 0);

    // The first subscriber of an empty table is number 1.
    QCOMPARE(w.il_abonado, 1);
    QSqlQuery q = db::exec(conn(), "SELECT * FROM abonados WHERE id_abonado = 1");
    QVERIFY(q.next());
    QCOMPARE(q.value("codigo").toString(), QString("C-10"));
    QCOMPARE(q.value("apellido").toString(), QString("NÚÑEZ"));
    QCOMPARE(q.value("nombre").toString(), QString("MARÍA"));
    QCOMPARE(q.value("numero").toString(), QString("0042"));
    QCOMPARE(q.value("id_panel").toInt(), 2);
    // Empty optional fields and unchosen contact kinds are nulls.
    for (const char* col : {"piso", "depto", "cp", "tel_2", "ref_contacto1", "id_contacto1", "tel_contacto3",
                            "id_contacto3", "observaciones"})
        QVERIFY2(q.value(col).isNull(), col);

    // Seeded from its template for its own model, values and marks alike.
    QVERIFY(!templateRows(1, 2).isEmpty());
    QCOMPARE(subscriberRows(1), templateRows(1, 2));

    // Shown back in capitals, viewing again, on the first tab.
    QCOMPARE(w.campo(0), QString("NÚÑEZ"));
    QVERIFY(!editing(w) && w.cb_baja->isEnabled() && w.cb_modificar->isEnabled());
    QCOMPARE(w.SSTab_abm->currentIndex(), 0);
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(w.cbx_campo[i]->currentText(), QString());

    // The next one is number 2.
    w.cb_alta->trigger();
    fillForm(w);
    w.cb_aceptar->trigger();
    QCOMPARE(w.il_abonado, 2);
}

void TstAbonados::awkwardTextIsStoredAndShownExactly()
{
    Station st(true, false);
    mdl_main::instance().currentLevel = 1;
    w_abonados w;
    w.cb_alta->trigger();
    fillForm(w);
    // Quotes, SQL-looking text, accents and Ñ in every box, as long as it takes.
    const QString awkward = QString("o'brien \"ñandú\" áéíóú ü; DROP TABLE abonados;-- %_ ");
    QStringList typed;
    for (int i = 0; i < 18; ++i) {
        const int max = i == 8 ? 2000 : qobject_cast<QLineEdit*>(w.sle_campo[i])->maxLength();
        QVERIFY2(max >= 10, qPrintable(QString::number(i)));
        const QString t = awkward.repeated(max / awkward.size() + 1).left(max);
        w.setCampo(i, t);
        QCOMPARE(w.campo(i), t);
        typed << t;
    }
    choose(w.cbx_campo[2], 3);
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.shown.size(), 0);
    QCOMPARE(w.il_abonado, 1);
    const char* columns[18] = {"apellido", "codigo", "nombre", "calle", "numero", "piso",
                               "depto", "localidad", "observaciones", "cp", "tel_1", "tel_2",
                               "ref_contacto1", "ref_contacto2", "ref_contacto3", "tel_contacto1", "tel_contacto2", "tel_contacto3"};
    QSqlQuery q = db::exec(conn(), "SELECT * FROM abonados WHERE id_abonado = 1");
    QVERIFY(q.next());
    for (int i = 0; i < 18; ++i) {
        QCOMPARE(q.value(columns[i]).toString(), typed.at(i).toUpper());
        QCOMPARE(w.campo(i), typed.at(i).toUpper());
    }
    QCOMPARE(q.value("id_contacto2").toInt(), 3);

    // A stored text longer than a box allows is shown and saved back whole.
    const QString longer = QString("X").repeated(300);
    db::exec(conn(), "UPDATE abonados SET calle = ? WHERE id_abonado = 1", {longer});
    w.wf_muestradatos(1);
    w.cb_modificar->trigger();
    w.cb_aceptar->trigger();
    QCOMPARE(db::scalar(conn(), "SELECT calle FROM abonados WHERE id_abonado = 1").toString(), longer);
}

void TstAbonados::editingKeepsModelTemplateAndValues()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 2;
    db::exec(conn(), "INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (2, 'OTRA')");
    // The subscriber's own values differ from its template's.
    db::exec(conn(), "UPDATE abonados_valores SET valor = 'ZZ', id_estado = -1 WHERE id_abonado = 1 AND id_seccion = 1");
    const QStringList before = subscriberRows(1);

    w_abonados w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.wf_muestradatos(1);
    // Demo subscriber 1 has contact 1 of kind 1 and no kinds for 2 and 3.
    QCOMPARE(w.cbx_campo[1]->currentData().toInt(), 1);
    QCOMPARE(w.cbx_campo[2]->currentIndex(), -1);
    QCOMPARE(w.cbx_campo[3]->currentIndex(), -1);

    w.SSTab_abm->setCurrentIndex(2);
    w.cb_modificar->trigger();
    QVERIFY(editing(w));
    QCOMPARE(w.focusWidget(), w.sle_campo[12]);
    QVERIFY(!w.cbx_campo[4]->isEnabled() && !w.cbx_campo[5]->isEnabled());
    w.setCampo(2, "panel px editado");
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.shown.size(), 0);

    QSqlQuery q = db::exec(conn(), "SELECT * FROM abonados WHERE id_abonado = 1");
    QVERIFY(q.next());
    QCOMPARE(q.value("nombre").toString(), QString("PANEL PX EDITADO"));
    QCOMPARE(q.value("id_panel").toInt(), 1);
    QCOMPARE(q.value("id_configuracion").toInt(), 1);
    QVERIFY(q.value("id_contacto2").isNull() && q.value("id_contacto3").isNull());
    QCOMPARE(q.value("id_contacto1").toInt(), 1);
    QCOMPARE(subscriberRows(1), before);
    QCOMPARE(count("SELECT count(*) FROM abonados"), 2);

    // A subscriber removed behind the window's back is not "saved".
    w.cb_modificar->trigger();
    db::exec(conn(), "DELETE FROM abonados WHERE id_abonado = 1");
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error 399"));
    QCOMPARE(count("SELECT count(*) FROM abonados"), 1);
    QVERIFY(editing(w));
}

void TstAbonados::deleteCascadesAndTheNumberIsReused()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 1;
    for (int i = 0; i < 3; ++i)
        db::exec(conn(), "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) "
                         "VALUES (2, 2, 5, 1, 0)");
    w_abonados w;
    w.wf_muestradatos(2);

    // "No" keeps it; a refused delete keeps it and says so.
    w.cb_baja->trigger();
    QCOMPARE(st.messages.asked, QStringList{"¿Está seguro de borrar este item?"});
    db::exec(conn(), "CREATE TRIGGER no_baja BEFORE DELETE ON abonados BEGIN SELECT RAISE(ABORT, 'bloqueado'); END");
    st.messages.answers.enqueue(true);
    w.cb_baja->trigger();
    QCOMPARE(st.messages.lastText(), QString("No se pudo eliminar el item"));
    QCOMPARE(st.messages.lastTitle(), QString("Error"));
    QCOMPARE(w.il_abonado, 2);
    QCOMPARE(w.campo(1), QString("0002"));
    QCOMPARE(count("SELECT count(*) FROM abonados"), 2);
    db::exec(conn(), "DROP TRIGGER no_baja");

    st.messages.answers.enqueue(true);
    w.cb_baja->trigger();
    QCOMPARE(count("SELECT count(*) FROM abonados WHERE id_abonado = 2"), 0);
    QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 2"), 0);
    QCOMPARE(count("SELECT count(*) FROM abonados_eventos WHERE id_abonado = 2"), 0);
    QCOMPARE(w.il_abonado, 0);
    QCOMPARE(w.campo(1), QString());
    QVERIFY(!w.cb_baja->isEnabled() && !w.cb_modificar->isEnabled());

    // The highest number is free again and comes back clean, on model 1.
    w.cb_alta->trigger();
    fillForm(w);
    choose(w.cbx_campo[4], 1);
    w.cb_aceptar->trigger();
    QCOMPARE(w.il_abonado, 2);
    QCOMPARE(subscriberRows(2), templateRows(1, 1));
    QCOMPARE(count("SELECT count(*) FROM abonados_eventos WHERE id_abonado = 2"), 0);
    QCOMPARE(subscriberRows(1), templateRows(1, 1)); // the other one untouched
}

void TstAbonados::levelThreeOnlyLooksUp()
{
    Station st(true, true);
    for (int level : {3, 2}) {
        mdl_main::instance().currentLevel = level;
        w_abonados w;
        QVERIFY(w.cb_buscar->isEnabled());
        QCOMPARE(w.cb_alta->isEnabled(), level < 3);
        w.wf_muestradatos(1);
        QVERIFY(w.cb_buscar->isEnabled());
        QCOMPARE(w.cb_alta->isEnabled(), level < 3);
        QCOMPARE(w.cb_baja->isEnabled(), level < 3);
        QCOMPARE(w.cb_modificar->isEnabled(), level < 3);
        // A disabled button does nothing, even when clicked by other means.
        w.cb_modificar->trigger();
        QCOMPARE(editing(w), level < 3);
    }
}

void TstAbonados::cancelShowsThePreviousSubscriber()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 1;
    w_abonados w;
    // None current: back to the empty form.
    w.cb_alta->trigger();
    w.setCampo(0, "a medias");
    w.cb_cancelar->trigger();
    QVERIFY(!editing(w));
    QCOMPARE(w.campo(0), QString());
    QVERIFY(!w.cb_baja->isEnabled());

    w.wf_muestradatos(2);
    w.cb_alta->trigger();
    QCOMPARE(w.campo(1), QString());
    fillForm(w);
    w.cb_cancelar->trigger();
    QCOMPARE(w.il_abonado, 2);
    QCOMPARE(w.campo(1), QString("0002"));
    QCOMPARE(w.cbx_campo[4]->currentData().toInt(), 2);
    QVERIFY(!editing(w) && w.cb_baja->isEnabled());
    QCOMPARE(count("SELECT count(*) FROM abonados"), 2);

    // Cancelling an edit discards the typed text.
    w.cb_modificar->trigger();
    w.setCampo(7, "otra");
    w.cb_cancelar->trigger();
    QCOMPARE(w.campo(7), QString("ROSARIO"));
}

void TstAbonados::failedSaveChangesNothingAndKeepsEditing()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 1;
    w_abonados w;
    w.wf_muestradatos(1);

    // The seeding fails after the row went in: the row must go too.
    db::exec(conn(), "CREATE TRIGGER falla BEFORE INSERT ON abonados_valores BEGIN SELECT RAISE(ABORT, 'x'); END");
    w.cb_alta->trigger();
    fillForm(w);
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error 399"));
    QCOMPARE(st.messages.lastText(), QString("Se produjo un error al crear los valores del panel"));
    QCOMPARE(count("SELECT count(*) FROM abonados"), 2);
    QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 3"), 0);
    QVERIFY(editing(w));
    QCOMPARE(w.campo(0), QString("núñez"));
    QCOMPARE(w.cbx_campo[4]->currentData().toInt(), 2);
    // Once the fault is gone the same form saves.
    db::exec(conn(), "DROP TRIGGER falla");
    w.cb_aceptar->trigger();
    QCOMPARE(w.il_abonado, 3);
    QCOMPARE(subscriberRows(3), templateRows(1, 2));

    // A failed update leaves the stored subscriber as it was.
    db::exec(conn(), "CREATE TRIGGER falla BEFORE UPDATE ON abonados BEGIN SELECT RAISE(ABORT, 'x'); END");
    w.wf_muestradatos(1);
    w.cb_modificar->trigger();
    w.setCampo(0, "cambiado");
    st.messages.clear();
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.lastTitle(), QString("Error 399"));
    QCOMPARE(db::scalar(conn(), "SELECT apellido FROM abonados WHERE id_abonado = 1").toString(),
             QString("DEMOSTRACIÓN"));
    QVERIFY(editing(w));
    QCOMPARE(w.campo(0), QString("cambiado"));
}

void TstAbonados::enteringABoxSelectsItsText()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 1;
    w_abonados w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.wf_muestradatos(1);
    w.cb_modificar->trigger();
    auto* calle = qobject_cast<QLineEdit*>(w.sle_campo[3]);
    // Entered with the mouse: the click must not undo the selection.
    QTest::mouseClick(calle, Qt::LeftButton, {}, QPoint(5, calle->height() / 2));
    QTRY_COMPARE(calle->selectedText(), QString("AV. SIEMPRE VIVA"));

    w.SSTab_abm->setCurrentIndex(1);
    auto* memo = qobject_cast<QPlainTextEdit*>(w.sle_campo[8]);
    memo->setFocus();
    QTRY_COMPARE(memo->textCursor().selectedText(), memo->toPlainText());
}

void TstAbonados::searchButtonShowsThePick()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 3; // looking up is allowed at every level
    w_abonados w;
    w.cb_buscar->trigger();
    w_buscar* list = nullptr;
    for (QWidget* t : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<w_buscar*>(t); b && b->isVisible())
            list = b;
    QVERIFY(list);
    QCOMPARE(list->mode(), SearchMode::abonado);
    QVERIFY(list->isModal());
    list->tx_buscar->setText("0002");
    QTest::keyClick(list->tx_buscar, Qt::Key_Return);
    list->cb_aceptar->trigger();
    QCOMPARE(w.il_abonado, 2);
    QCOMPARE(w.campo(3), QString("SAN MARTÍN"));
    QVERIFY(!list->isVisible());
}

QTEST_MAIN(TstAbonados)
#include "tst_abonados.moc"
