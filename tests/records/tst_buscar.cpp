// The pick list: rows read once, the Enter-only filter over them, ordering by
// a clicked heading, columns wide enough for their texts, and the hand-over of
// the picked number (by button, double click or Enter) to the window
// registered for the mode.

#include "session/mdl_main.h"
#include "common/testsupport.h"
#include "data/db.h"
#include "records/search_context.h"
#include "records/search_model.h"
#include "records/w_abonados.h"
#include "records/w_buscar.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QTableView>
#include <QtTest>

namespace {

void addSubscriber(int id, const QString& codigo, const QString& apellido, const QString& nombre = "JUAN",
                   const QString& numero = "1")
{
    db::exec(stationDb(),
             "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
             "localidad, id_provincia, tel_1) VALUES (?, ?, 1, 1, ?, ?, 'MITRE', ?, 'SALTA', 17, '555')",
             {id, codigo, apellido, nombre, numero});
}

void clickHeading(w_buscar* w, int c)
{
    QHeaderView* h = w->dgr_buscar->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
}

// One column of the list as shown, top to bottom.
QStringList column(w_buscar* w, int c)
{
    QStringList out;
    for (int r = 0; r < w->dgr_buscar->model()->rowCount(); ++r)
        out << w->dgr_buscar->model()->index(r, c).data().toString();
    return out;
}

// Enter in the search box with `text` typed; returns the surnames shown.
QStringList search(w_buscar* w, const QString& text)
{
    w->tx_buscar->setText(text); // keyClicks takes Latin-1 only
    QTest::keyClick(w->tx_buscar, Qt::Key_Return);
    return column(w, 2);
}

// The widget overload of mouseDClick sends no press first, which a view needs.
void doubleClick(QTableView* view, QPoint pos)
{
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, pos);
}

} // namespace

class tst_buscar : public QObject {
    Q_OBJECT
private slots:

    void readsEveryRowInSpanishOrder();
    void filterIsEnterOnlyContainsAndIgnoresCaseAndAccents();
    void modesListTheirTables();
    void emptyTablePicksNothing();
    void pickGoesToTheModesWindowOnly();
    void unregisteredModeIsReportedNotDropped();
    void headingsOrderTheListEnterPicks();
};

void tst_buscar::readsEveryRowInSpanishOrder()
{
    TestStation st(true, false);
    db::Transaction t(st.main.db());
    for (int i = 1; i <= 600; ++i)
        addSubscriber(i, QString::number(i), QString("APELLIDO %1").arg(i, 4, 10, QChar('0')));
    for (auto [id, name] : {std::pair{601, "ZAPATA"}, {602, "BENÍTEZ"}, {603, "ÁLVAREZ"}})
        addSubscriber(id, "X", name);
    t.commit();
    SearchRowsModel rows;
    checkModel(&rows);
    rows.load(st.main.db(), SearchMode::abonado);
    QCOMPARE(rows.rowCount(), 603); // far beyond a lazily fetched first batch
    // Accented capitals sort beside their letter, not after Z.
    QCOMPARE(rows.idAt(0), 603);
    QCOMPARE(rows.idAt(601), 602);
    QCOMPARE(rows.idAt(602), 601);
    // Texts and numbers read as shown, wherever the list was ordered from.
    QCOMPARE((QStringList{rows.cell(0, 0), rows.cell(0, 2), rows.cell(601, 2)}), (QStringList{"603", "ÁLVAREZ", "BENÍTEZ"}));
    QCOMPARE(rows.rowOf(602), 601);
}

void tst_buscar::filterIsEnterOnlyContainsAndIgnoresCaseAndAccents()
{
    TestStation st(true, true); // the demo subscribers live in CÓRDOBA and ROSARIO
    addSubscriber(3, "X-77Q", "MUÑOZ", "ÁNGEL");
    addSubscriber(4, "0004", "O'BRIEN", "100%");
    addSubscriber(6, "0006", "SAN MARTÍN", "PEDRO");
    QPointer<w_buscar> w = w_buscar::abrir(st.ctx, SearchMode::abonado);
    checkModel(w->filter());
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 5);
    // The surname column fits the surnames, item margins included.
    const QTableView* view = w->dgr_buscar;
    QVERIFY(view->columnWidth(2) >= view->fontMetrics().horizontalAdvance(QStringLiteral("DEMOSTRACIÓN")) + 6);
    w->tx_buscar->setText("muñoz"); // typing alone filters nothing
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 5);
    QCOMPARE(search(w, "muñoz"), QStringList{"MUÑOZ"});
    QCOMPARE(w->dgr_buscar->currentIndex().row(), 0);
    QCOMPARE(search(w, "77q"), QStringList{"MUÑOZ"}); // only the code matches
    QCOMPARE(search(w, "rosario"), QStringList{}); // the town is not searched
    // Accents are ignored as case is, typed or stored; Ñ stays a letter of its own.
    QCOMPARE(search(w, "martin"), (QStringList{"DEMOSTRACIÓN", "SAN MARTÍN"})); // a street, a surname
    QCOMPARE(search(w, "demostracion").size(), 2);
    QCOMPARE(search(w, "Demostración").size(), 2);
    QCOMPARE(search(w, "ángel"), QStringList{"MUÑOZ"});
    QCOMPARE(search(w, "angel"), QStringList{"MUÑOZ"});
    QCOMPARE(search(w, "munoz"), QStringList{});
    QVERIFY(!w->dgr_buscar->currentIndex().isValid());
    QCOMPARE(search(w, "o'b"), QStringList{"O'BRIEN"}); // quotes and wildcards are plain text
    QCOMPARE(search(w, "0%"), QStringList{"O'BRIEN"});
    QCOMPARE(search(w, "_"), QStringList{});
    QCOMPARE(search(w, "").size(), 5);
    addSubscriber(5, "0005", "MUÑOZ"); // rows are read once, on opening
    QCOMPARE(search(w, "MUÑOZ").size(), 1);
    w->close();
}

void tst_buscar::modesListTheirTables()
{
    TestStation st(true, true);
    const QStringList subs{"", "ID", "APELLIDO", "NOMBRE", "CALLE", "NUMERO", "LOCALIDAD"};
    const QList<std::tuple<QString, QString, QStringList>> modes = {
        {"abonado", "abonados", subs},
        {"panel_abonado", "abonados", subs},
        {"usuario", "usuarios", {"ID", "USUARIO"}},
        {"log_usuario", "usuarios", {"ID", "USUARIO"}},
        {"panel", "paneles", {"ID", "CODIGO", "VERSION"}},
        {"configuracion", "configuraciones", {"ID", "CONFIGURACION"}}};
    for (const auto& [name, table, captions] : modes) {
        const auto mode = searchModeFromText(name);
        QVERIFY(mode);
        QPointer<w_buscar> w = w_buscar::abrir(st.ctx, *mode);
        QStringList heads;
        for (int c = 0; c < w->dgr_buscar->model()->columnCount(); ++c)
            heads << w->dgr_buscar->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(heads, captions);
        // Subscribers hide their number and get the wide window.
        QCOMPARE(w->dgr_buscar->isColumnHidden(0), table == "abonados");
        QCOMPARE(w->width() > w->height() * 3 / 2, table == "abonados");
        QCOMPARE(w->dgr_buscar->model()->rowCount(), db::scalar(st.main.db(), "SELECT count(*) FROM " + table).toInt());
        w->close();
    }
}

void tst_buscar::emptyTablePicksNothing()
{
    TestStation st(true, false);
    int calls = 0;
    QObject owner;
    st.search.registerDisplay(SearchMode::abonado, &owner, [&](int) { ++calls; });
    QPointer<w_buscar> w = w_buscar::abrir(st.ctx, SearchMode::abonado);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->cb_aceptar->trigger();
    doubleClick(w->dgr_buscar, QPoint(20, 10));
    QVERIFY(w->isVisible());
    w->cb_cancelar->trigger();
    QVERIFY(!w || !w->isVisible());
    QCOMPARE(calls, 0);
    QCOMPARE(st.messages.shown.size(), 0);
}

void tst_buscar::pickGoesToTheModesWindowOnly()
{
    TestStation st(true, true);
    w_abonados record(st.ctx); // registers itself for "abonado"
    QList<int> console;
    QObject consoleWindow;
    st.search.registerDisplay(SearchMode::panel_abonado, &consoleWindow, [&](int id) { console << id; });
    QPointer<w_buscar> w = w_buscar::abrir(st.ctx, SearchMode::panel_abonado);
    QCOMPARE(st.search.mode(), SearchMode::panel_abonado);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    search(w, "san martín");
    doubleClick(w->dgr_buscar, w->dgr_buscar->visualRect(w->dgr_buscar->model()->index(0, 1)).center());
    QCOMPARE(console, QList<int>{2});
    QCOMPARE(record.m_subscriber, 0);
    QTRY_VERIFY(w.isNull());

    w = w_buscar::abrir(st.ctx, SearchMode::abonado, &record);
    search(w, "siempre viva");
    w->cb_aceptar->trigger();
    QCOMPARE(record.m_subscriber, 1);
    QCOMPARE(console.size(), 1);
    QTRY_VERIFY(w.isNull());
}

void tst_buscar::unregisteredModeIsReportedNotDropped()
{
    TestStation st(true, true);
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("\"usuario\""));
    w_buscar::abrir(st.ctx, SearchMode::usuario)->cb_aceptar->trigger();
    QCOMPARE(st.messages.shown.size(), 1);
    QVERIFY(st.messages.lastText().contains("usuario"));
    // A registration ends with its window.
    int calls = 0;
    {
        QObject log;
        st.search.registerDisplay(SearchMode::log_usuario, &log, [&](int) { ++calls; });
        QVERIFY(st.search.dispatch(SearchMode::log_usuario, 1));
    }
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("log_usuario"));
    QVERIFY(!st.search.dispatch(SearchMode::log_usuario, 1));
    QCOMPARE(calls, 1);
}

void tst_buscar::headingsOrderTheListEnterPicks()
{
    TestStation st(true, false);
    const QString longCode = "CODIGO-" + QString("9").repeated(40);
    addSubscriber(1, "10", "ÑANDÚ", "B", "742");
    addSubscriber(2, "9", "NUÑEZ", "A", "1050");
    addSubscriber(3, "0002", "ÁLVAREZ", "C", "S/N");
    addSubscriber(4, longCode, "DEMOSTRACIÓN", "D", "95");
    QList<int> picked;
    QObject owner;
    st.search.registerDisplay(SearchMode::abonado, &owner, [&](int id) { picked << id; });
    QPointer<w_buscar> w = w_buscar::abrir(st.ctx, SearchMode::abonado);
    checkModel(w->rows());
    checkModel(w->filter());
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // Surnames whole; a code wider than the limit is cut, and whole in its tip.
    QTableView* g = w->dgr_buscar;
    QVERIFY(g->columnWidth(2) > g->fontMetrics().horizontalAdvance("DEMOSTRACIÓN"));
    QVERIFY(g->columnWidth(1) > g->fontMetrics().horizontalAdvance("CODIGO-9999"));
    QVERIFY(g->columnWidth(1) + g->columnWidth(2) + g->columnWidth(3) < g->viewport()->width());
    QCOMPARE(g->model()->index(1, 1).data(Qt::ToolTipRole).toString(), longCode);

    // Codes and house numbers as numbers, letters after digits; a second
    // click turns the order round.
    clickHeading(w, 1);
    QCOMPARE(column(w, 1), (QStringList{"0002", "9", "10", longCode}));
    clickHeading(w, 1);
    QCOMPARE(column(w, 1), (QStringList{longCode, "10", "9", "0002"}));
    clickHeading(w, 5);
    QCOMPARE(column(w, 5), (QStringList{"95", "742", "1050", "S/N"}));
    // The filter narrows the ordered rows; Enter on a row picks it.
    QCOMPARE(search(w, "ez"), (QStringList{"NUÑEZ", "ÁLVAREZ"}));
    g->setFocus();
    QTest::keyClick(g, Qt::Key_Down);
    QTest::keyClick(g, Qt::Key_Return);
    QCOMPARE(picked, QList<int>{3});
    QTRY_VERIFY(w.isNull());
}

QTEST_MAIN(tst_buscar)
#include "tst_buscar.moc"
