// The section value editor: input by section type, padding and checks on
// saving, marks handed back through the editor context, what a failed save
// leaves in the store and tells the user, and closing with changes.

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_keyboard.h"
#include "ui/ui_messagebox.h"
#include "ui/ui_unsaved.h"
#include "common/testsupport.h"
#include "data/db.h"
#include "data/lock_store.h"
#include "data/permissions.h"
#include "records/editor_context.h"
#include "records/section_format.h"
#include "records/w_seccion.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

namespace {

QVariant one(const QString& sql, const QVariantList& values = {})
{
    return db::scalar(stationDb(), sql, values);
}

// Template 2: a copy of the catalogue template, which the editor may change.
void makeTemplate2()
{
    one("INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (2, 'PRUEBA')");
    one("INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
        "SELECT 2, id_panel, id_seccion, id_item, valor, id_estado FROM configuraciones_valores WHERE id_configuracion = 1");
}

// A section of model 1 with `items` items, all valued `valor` in templates 1 and 2.
void addSection(int id, int tipo, int caracteres, const QVariant& filler, const QString& valor, int items = 1)
{
    one("INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler) "
        "VALUES (1, ?, ?, ?, ?, 4000, ?, ?)",
        {id, tipo, caracteres, caracteres, QString("Prueba %1").arg(id), filler});
    for (int i = 1; i <= items; ++i) {
        one("INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) VALUES (1, ?, ?, ?)",
            {id, i, QString("Item %1").arg(i)});
        for (int t : {1, 2})
            one("INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
                "VALUES (?, 1, ?, ?, ?, 0)", {t, id, i, valor});
    }
}

QString templateValue(int seccion, int item = 1)
{
    return one("SELECT valor FROM configuraciones_valores WHERE id_configuracion = 2 AND id_panel = 1 "
               "AND id_seccion = ? AND id_item = ?", {seccion, item}).toString();
}

// The first column of a query's rows.
QStringList column(const QString& sql, const QVariantList& values = {})
{
    QStringList out;
    QSqlQuery q = db::exec(stationDb(), sql, values);
    while (q.next())
        out << q.value(0).toString();
    return out;
}

QStringList subscriberSection(int abonado, int seccion)
{
    return column("SELECT id_item || '=' || valor || '/' || id_estado FROM abonados_valores "
                  "WHERE id_abonado = ? AND id_seccion = ? ORDER BY id_item", {abonado, seccion});
}

QLineEdit* box(w_seccion& w, int k) { return w.findChild<QLineEdit*>(QString("sle_valor_%1").arg(k)); }
QComboBox* list(w_seccion& w, int k) { return w.findChild<QComboBox*>(QString("cbx_valor_%1").arg(k)); }

void openTemplate(TestStation& st, int seccion)
{
    st.editor = EditorContext::forTemplate(1, 2, seccion, 0);
}

} // namespace

class tst_seccion : public QObject {
    Q_OBJECT
private slots:
    void textValues_data();
    void textValues();
    void fillIsOnlyThePadding_data();
    void fillIsOnlyThePadding();
    void catalogueSurvivesUnchangedSaves();
    void listRowsRowCountAndUnchangedSaves();
    void subscriberMarksAndRestore();
    void heldByAnotherStationWhileEditing();
    void messageKeepsClearOfTheRow();
    void closingWithChangesAsks();
    void sizeFromADamagedCatalogue();
    void secretSectionsHiddenWithoutTheRight();
};

void tst_seccion::textValues_data()
{
    QTest::addColumn<int>("tipo");
    QTest::addColumn<int>("caracteres");
    QTest::addColumn<QVariant>("filler");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("saved"); // "!why": refused, and why the user is told
    const QVariant none;
    // Type 3 with a fill hides it and pads what is typed.
    QTest::newRow("3 fill") << 3 << 8 << QVariant("F") << "1FFFFFFF" << "1" << "12" << "12FFFFFF";
    QTest::newRow("3 fill, above a byte") << 3 << 8 << QVariant("F") << "1FFFFFFF" << "1" << "256"
                                          << "!valor de 0 a 255";
    // A digit fill goes in front, where it keeps the number.
    QTest::newRow("3 fill 0") << 3 << 3 << QVariant("0") << "100" << "100" << "25" << "025";
    QTest::newRow("3 seven of eight") << 3 << 8 << none << "00000001" << "00000001" << "0000012"
                                      << "!debe tener 8 caracteres";
    // Type 2 text: exactly its length, one hexadecimal byte, as typed.
    QTest::newRow("2 fifteen of sixteen") << 2 << 16 << none << "0000000000000001" << "0000000000000001"
                                          << "00000000000000A" << "!debe tener 16 caracteres";
    QTest::newRow("2 quote") << 2 << 16 << none << "0000000000000001" << "0000000000000001" << "O'BRIEN;DROP--00"
                             << "!solo dígitos hexadecimales 0-9 A-F";
    QTest::newRow("2 above a byte") << 2 << 16 << none << "0000000000000001" << "0000000000000001"
                                    << "0000000000000100" << "!valor de 0 a 255";
    QTest::newRow("2 sixteen") << 2 << 16 << none << "0000000000000001" << "0000000000000001" << "00000000000000a5"
                               << "00000000000000a5";
    QTest::newRow("4 not hexadecimal") << 4 << 4 << QVariant("F") << "FFFF" << "" << "1G"
                                       << "!solo dígitos hexadecimales 0-9 A-F";
    QTest::newRow("4 fill") << 4 << 4 << QVariant("F") << "FFFF" << "" << "12" << "12FF";
    // Type 5 shows its fill; saved unchanged by "Subir sección".
    QTest::newRow("5 unchanged") << 5 << 8 << QVariant("F") << "12FFFFFF" << "12FFFFFF" << "12FFFFFF" << "12FFFFFF";
}

void tst_seccion::textValues()
{
    QFETCH(int, tipo);
    QFETCH(int, caracteres);
    QFETCH(QVariant, filler);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, typed);
    QFETCH(QString, saved);
    TestStation st(true, false);
    makeTemplate2();
    addSection(60, tipo, caracteres, filler, stored);
    openTemplate(st, 60);
    w_seccion w(st.ctx);
    w.show();
    ui::polishWindow(&w); // its labels get Alt-letters, which no message shows
    QVERIFY(w.findChild<QLabel*>("st_titulo_1")->text().contains('&'));
    QCOMPARE(w.windowTitle(), QString("[060] Prueba 60"));
    QVERIFY(!list(w, 1) && box(w, 1)->maxLength() == caracteres);
    QCOMPARE(box(w, 1)->text(), shown);
    QVERIFY(!w.cb_aceptar->isEnabled() && !w.cb_restaurar->isEnabled() && !w.cb_bajar->isEnabled());
    // Changes enable "Aceptar"; an unchanged section is saved by "Subir sección".
    box(w, 1)->setText(typed);
    QCOMPARE(w.cb_aceptar->isEnabled(), typed != shown);
    (typed != shown ? w.cb_aceptar : w.cb_subir)->trigger();
    if (saved.startsWith('!')) {
        // The catalogue's text first, then the row and the reason; what was
        // typed stays.
        QVERIFY(w.isVisible());
        QCOMPARE(st.messages.lastTitle(), QString("Error 502"));
        QCOMPARE(st.messages.lastText(), "Verifique los datos\nItem 1: " + saved.mid(1));
        QCOMPARE(box(w, 1)->text(), typed);
        QCOMPARE(templateValue(60), stored);
        return;
    }
    QVERIFY(!w.isVisible() && st.messages.shown.isEmpty());
    QCOMPARE(templateValue(60), saved);
    QCOMPARE(one("SELECT max(id_estado) FROM configuraciones_valores WHERE id_seccion = 60 AND id_configuracion = 2").toInt(),
             typed == shown ? 1 : 0);
    QCOMPARE(st.editor.marca, typed == shown ? 1 : 0);
    // Shown again as typed; a number padded in front shows its zeros.
    w_seccion again(st.ctx);
    QCOMPARE(box(again, 1)->text(), saved.startsWith('0') && saved != typed ? saved : typed);
}

void tst_seccion::fillIsOnlyThePadding_data()
{
    QTest::addColumn<int>("tipo");
    QTest::addColumn<int>("caracteres");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown"); // in the text box
    QTest::addColumn<QString>("byDefault"); // in the default column
    // Fill characters inside a value are part of it; only those padding its
    // end are hidden, and saving puts exactly those back.
    QTest::newRow("4 0 inside") << 4 << 5 << "0" << "10203" << "10203" << "10203";
    QTest::newRow("4 0 inside and after") << 4 << 5 << "0" << "A0100" << "A01" << "A01";
    QTest::newRow("4 F inside and after") << 4 << 6 << "F" << "1F2FFF" << "1F2" << "1F2";
    QTest::newRow("4 blank") << 4 << 4 << " " << "1234" << "1234" << "1234";
    // A decimal digit filling a decimal byte is part of the number.
    QTest::newRow("3 0") << 3 << 3 << "0" << "100" << "100" << "100";
    QTest::newRow("3 F") << 3 << 4 << "F" << "25FF" << "25" << "25";
    QTest::newRow("3 blank") << 3 << 4 << " " << "7   " << "7" << "7";
    // Type 5 shows its fill; the default column hides the padding alone.
    QTest::newRow("5 0") << 5 << 8 << "0" << "43010000" << "43010000" << "4301";
    QTest::newRow("5 F") << 5 << 8 << "F" << "4F3FFFFF" << "4F3FFFFF" << "4F3";
    QTest::newRow("5 blank") << 5 << 4 << " " << "0A0B" << "0A0B" << "0A0B";
    // Bytes in hexadecimal are never padded, so nothing is hidden.
    QTest::newRow("2 0") << 2 << 2 << "0" << "10" << "10" << "10";
    QTest::newRow("2 F") << 2 << 2 << "F" << "F0" << "F0" << "F0";
    QTest::newRow("2 blank") << 2 << 2 << " " << "0A" << "0A" << "0A";
}

void tst_seccion::fillIsOnlyThePadding()
{
    QFETCH(int, tipo);
    QFETCH(int, caracteres);
    QFETCH(QString, fill);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, byDefault);
    const SectionFormat f{tipo, caracteres, fill};
    QCOMPARE(f.shown(stored), shown);
    QCOMPARE(f.defaultShown(stored), byDefault);
    QCOMPARE(f.saved(f.shown(stored)), std::optional<QString>(stored));
    // Without a fixed length nothing is padded on saving, so nothing is hidden.
    const SectionFormat free{tipo, 0, fill};
    QCOMPARE(free.shown(stored), stored);
}

void tst_seccion::catalogueSurvivesUnchangedSaves()
{
    // Every section of the demo subscriber, whatever its type (lists too),
    // saved by "Subir sección" without a change keeps every stored value,
    // with each fill character the catalogue may use.
    TestStation st(true, true);
    const QStringList before = column("SELECT valor FROM abonados_valores WHERE id_abonado = 1 ORDER BY id_seccion, id_item");
    for (const QString fill : {"0", "F", " "}) {
        one("UPDATE secciones SET filler = ? WHERE id_panel = 1", {fill});
        for (const QString& seccion : column("SELECT id_seccion FROM secciones WHERE id_panel = 1")) {
            st.editor = EditorContext::forSubscriber(1, 1, seccion.toInt(), 1, 0);
            w_seccion w(st.ctx);
            w.cb_subir->trigger();
            QVERIFY2(w.result() == QDialog::Accepted, qPrintable(seccion + " '" + fill + "': " + st.messages.lastText()));
        }
        QCOMPARE(column("SELECT valor FROM abonados_valores WHERE id_abonado = 1 ORDER BY id_seccion, id_item"), before);
    }
}

// A catalogue that slipped past the merge with an absurd length: the section
// opens without inputs instead of sizing one from it.
void tst_seccion::sizeFromADamagedCatalogue()
{
    TestStation st(true, false);
    makeTemplate2();
    addSection(61, 4, 2000000000, QVariant("F"), "12FF");
    openTemplate(st, 61);
    w_seccion w(st.ctx);
    w.show();
    QVERIFY(!box(w, 1) && !list(w, 1));
    w.cb_subir->trigger();
    QCOMPARE(templateValue(61), QString("12FF"));
}

void tst_seccion::listRowsRowCountAndUnchangedSaves()
{
    TestStation st(true, false);
    makeTemplate2();
    // A stored "0A" selects its own entry, not the first one read as zero.
    one("UPDATE configuraciones_valores SET valor = '0A' WHERE id_configuracion = 2 AND id_panel = 1 "
        "AND id_seccion = 0 AND id_item = 2");
    openTemplate(st, 0);
    {
        w_seccion w(st.ctx);
        w.show();
        QVERIFY(w.rows() == 8 && !box(w, 1) && list(w, 1)->count() == 12);
        QCOMPARE(list(w, 1)->currentText(), QString("01 - Demorada 1"));
        QCOMPARE(list(w, 2)->currentText(), QString("0A - 24 horas médica"));
        QCOMPARE(w.findChild<QLabel*>("st_defecto_2")->text(), QString("0A"));

        // A row left without a choice stops the whole save.
        list(w, 1)->setCurrentIndex(list(w, 1)->findText("04 - Interior"));
        list(w, 3)->setCurrentIndex(-1);
        w.cb_aceptar->trigger();
        QVERIFY(w.isVisible());
        QCOMPARE(st.messages.lastText(), QString("Verifique los datos\nZona 03: debe elegir un valor de la lista"));
        QCOMPARE(templateValue(0, 1), QString("01"));
        list(w, 3)->setCurrentIndex(0);
        w.cb_aceptar->trigger();
        QVERIFY(!w.isVisible());
    }
    QCOMPARE(templateValue(0, 1) + templateValue(0, 2) + templateValue(0, 3), QString("040A00"));

    // Items without a template value are not shown; at most 100 rows, and the
    // window grows with its rows.
    addSection(70, 3, 3, QVariant(), "001", 101);
    one("DELETE FROM configuraciones_valores WHERE id_configuracion = 2 AND id_seccion = 70 AND id_item = 1");
    openTemplate(st, 70);
    w_seccion big(st.ctx);
    QCOMPARE(big.rows(), 100);
    QCOMPARE(big.findChild<QLabel*>("st_titulo_1")->text(), QString("Item 2:"));
    QVERIFY(big.findChild<QLabel*>("st_titulo_100") && !big.findChild<QLabel*>("st_titulo_101"));
    openTemplate(st, 24);
    w_seccion small(st.ctx);
    QVERIFY(small.findChild<QFrame*>("frm_seccion")->height() < big.findChild<QFrame*>("frm_seccion")->height());
    QVERIFY(small.height() >= ui::twips(350 + 1700) - 1);
}

void tst_seccion::subscriberMarksAndRestore()
{
    TestStation st(true, true);
    const QStringList before = subscriberSection(1, 20);
    st.editor = EditorContext::forSubscriber(1, 1, 20, 1, 1);
    {
        // A save that fails at the fifth row leaves the first four as they were.
        addTrigger(stationDb(), "refuse", "BEFORE UPDATE OF valor", "abonados_valores", "NEW.id_item = 5");
        w_seccion w(st.ctx);
        w.show();
        for (int k = 1; k <= 6; ++k)
            box(w, k)->setText("007");
        w.cb_subir->trigger();
        QVERIFY(w.isVisible() && box(w, 6)->text() == "007");
        QCOMPARE(st.messages.lastText(), QString("Verifique los datos"));
        QCOMPARE(subscriberSection(1, 20), before);
        QCOMPARE(st.editor.marca, 1);
        dropTrigger(stationDb(), "refuse", "abonados_valores");
    }
    {
        // "Bajar sección" marks the section and drops what was typed.
        w_seccion w(st.ctx);
        w.show();
        QCOMPARE(w.mode(), EditorMode::abonado);
        QVERIFY(w.cb_restaurar->isEnabled() && w.cb_bajar->isEnabled());
        QCOMPARE(box(w, 1)->text(), QString("030"));
        box(w, 1)->setText("099");
        w.cb_bajar->trigger(); // answered No
        QVERIFY(w.isVisible());
        QCOMPARE(st.messages.asked.last(), QString("¿Realmente desea marcar la sección para bajar?"));
        st.messages.answers.enqueue(true);
        w.cb_bajar->trigger();
        QVERIFY(!w.isVisible());
    }
    QCOMPARE(st.editor.marca, -1);
    QStringList marked = before;
    marked.replaceInStrings(QRegularExpression("/.*$"), "/-1");
    QCOMPARE(subscriberSection(1, 20), marked);

    // A subscriber without a value for an item: the message, the frame and
    // "Aceptar" off, nothing saved; "Restaurar" re-seeds the section.
    one("DELETE FROM abonados_valores WHERE id_abonado = 1 AND id_seccion = 0 AND id_item = 3");
    const QStringList missing = subscriberSection(1, 0);
    st.editor = EditorContext::forSubscriber(1, 1, 0, 1, 0);
    st.messages.clear();
    {
        w_seccion w(st.ctx);
        w.show();
        QCOMPARE(st.messages.lastTitle(), QString("Error 501"));
        QCOMPARE(st.messages.lastText(), QString("El abonado no posee actualizada la configuración"));
        QVERIFY(!w.frm_seccion->isEnabled() && !w.cb_aceptar->isEnabled());
        w.cb_subir->trigger();
        QVERIFY(w.isVisible());
        QCOMPARE(st.messages.lastText(), QString("Verifique los datos"));
        QCOMPARE(subscriberSection(1, 0), missing);
        QCOMPARE(st.editor.marca, 0);

        w.cb_restaurar->trigger(); // answered No
        QCOMPARE(st.messages.asked.last(), QString("¿Reemplaza los valores actuales?"));
        QCOMPARE(subscriberSection(1, 0), missing);
        st.messages.answers.enqueue(true);
        w.cb_restaurar->trigger();
        QVERIFY(!w.isVisible());
    }
    QCOMPARE(st.editor.marca, 1);
    // Values and marks as the template has them.
    QCOMPARE(subscriberSection(1, 0).size(), 8);
    QCOMPARE(one("SELECT count(*) FROM abonados_valores av JOIN configuraciones_valores cv ON cv.id_configuracion = 1 "
                 "AND cv.id_panel = 1 AND cv.id_seccion = av.id_seccion AND cv.id_item = av.id_item "
                 "AND cv.valor = av.valor AND cv.id_estado = av.id_estado WHERE av.id_abonado = 1 AND av.id_seccion = 0")
                 .toInt(), 8);
}

// Another station takes the subscriber while one of its sections is being
// edited: the save is refused with who holds it, nothing is written and the
// editor stays open.
void tst_seccion::heldByAnotherStationWhileEditing()
{
    if (!testOnServer())
        QSKIP("one station works on a file: nobody else holds a subscriber");
    TestStation st(true, true);
    const QStringList before = subscriberSection(1, 20);
    st.editor = EditorContext::forSubscriber(1, 1, 20, 1, 0);
    QSqlDatabase other = db::openAnother("otra-estacion", stationDb());
    {
        w_seccion w(st.ctx);
        w.show();
        box(w, 1)->setText("007");
        QVERIFY(locks::acquire(other, 1, "ANA", "TALLER"));
        w.cb_subir->trigger();
        QVERIFY(w.isVisible());
        QVERIFY2(QRegularExpression("^No se guardaron los valores\\.\nEn uso por ANA en TALLER desde \\d\\d:\\d\\d$")
                     .match(st.messages.lastText()).hasMatch(),
                 qPrintable(st.messages.lastText()));
        QCOMPARE(subscriberSection(1, 20), before);
    }
    other = QSqlDatabase();
    db::close("otra-estacion");
}

void tst_seccion::messageKeepsClearOfTheRow()
{
    // The box is told where the row at fault is, scrolled into view ...
    TestStation st(true, false);
    makeTemplate2();
    addSection(70, 3, 3, QVariant(), "001", 60);
    openTemplate(st, 70);
    w_seccion w(st.ctx);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    box(w, 55)->setText("9");
    w.cb_aceptar->trigger();
    QCOMPARE(st.messages.lastText(), QString("Verifique los datos\nItem 55: debe tener 3 caracteres"));
    const QRect keep = st.messages.shown.last().keep;
    QVERIFY(keep.contains(QRect(box(w, 55)->mapToGlobal(QPoint(0, 0)), box(w, 55)->size())));
    QVERIFY(keep.intersects(QRect(w.mapToGlobal(QPoint(0, 0)), w.size())) && box(w, 55)->hasFocus());

    // ... and goes below it, above it, or beside it, inside the screen.
    const QRect screen(0, 0, 1600, 1000);
    const QSize size(400, 150);
    for (const QRect& row : {QRect(100, 100, 800, 30), QRect(100, 900, 800, 30), QRect(0, 0, 700, 1000),
                             QRect(900, 0, 700, 1000)}) {
        const QRect at(ui::placeClearOf(size, row, screen), size);
        QVERIFY2(!at.intersects(row) && screen.contains(at), qPrintable(QString("%1,%2").arg(row.x()).arg(row.y())));
    }
}

void tst_seccion::closingWithChangesAsks()
{
    TestStation st(true, false);
    makeTemplate2();
    openTemplate(st, 27);
    w_seccion w(st.ctx);
    w.show();
    box(w, 1)->setText("99");
    QVERIFY(!w.close()); // answered No: the typing stays
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(w.isVisible() && box(w, 1)->text() == "99");
    QCOMPARE(st.messages.asked, QStringList(2, ui::DiscardQuestion));
    // "Cancelar" is the user's own choice: no question.
    w.cb_cancelar->trigger();
    QVERIFY(!w.isVisible() && st.messages.asked.size() == 2);
    QCOMPARE(templateValue(27), QString("1234"));
}

void tst_seccion::secretSectionsHiddenWithoutTheRight()
{
    TestStation st(true, true);
    const QStringList stored = subscriberSection(1, 40);
    st.main.logIn(1000, 2, permissions::levelRights(2) & ~permissions::bit(permissions::Right::VerCodigos));
    // The access code section and a user code the catalogue marks.
    for (int seccion : {40, 30}) {
        st.editor = EditorContext::forSubscriber(1, 1, seccion, 1, 0);
        w_seccion w(st.ctx);
        QCOMPARE(box(w, 1)->text(), QString("••••"));
        QVERIFY(box(w, 1)->isReadOnly());
        QCOMPARE(w.findChild<QLabel*>("st_defecto_1")->text(), QString("••••"));
        QVERIFY(!w.cb_subir->isEnabled() && !w.cb_aceptar->isEnabled() && !w.cb_restaurar->isEnabled());
        w.cb_subir->trigger();
        QVERIFY(w.result() != QDialog::Accepted);
    }
    QCOMPARE(subscriberSection(1, 40), stored);
    // Any other section is as ever.
    st.editor = EditorContext::forSubscriber(1, 1, 27, 1, 0);
    w_seccion w(st.ctx);
    QVERIFY(box(w, 1)->text() != QString("••••") && !box(w, 1)->isReadOnly() && w.cb_subir->isEnabled());
}

QTEST_MAIN(tst_seccion)
#include "tst_seccion.moc"
