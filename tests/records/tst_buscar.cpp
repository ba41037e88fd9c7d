// The pick list: rows read once, the Enter-only filter over them, and the
// hand-over of the picked number to the window registered for the mode.

#include "app/mdl_main.h"
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

QSqlDatabase conn()
{
    return mdl_main::instance().db();
}

void addSubscriber(int id, const QString& codigo, const QString& apellido, const QString& nombre = "JUAN",
                   const QString& calle = "MITRE", const QString& localidad = "SALTA")
{
    db::exec(conn(),
             "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
             "localidad, id_provincia, tel_1) VALUES (?, ?, 1, 1, ?, ?, ?, '1', ?, 17, '555')",
             {id, codigo, apellido, nombre, calle, localidad});
}

// Column `col` of every row the grid shows, top to bottom.
QStringList shown(w_buscar* w, int col)
{
    QStringList out;
    QAbstractItemModel* m = w->dgr_buscar->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, col).data().toString();
    return out;
}

void typeAndEnter(w_buscar* w, const QString& text, bool enter = true)
{
    // keyClicks takes Latin-1 only; the box's own text change is what typing does.
    w->tx_buscar->setText(text);
    if (enter)
        QTest::keyClick(w->tx_buscar, Qt::Key_Return);
}

// A user's double click: the widget overload of mouseDClick sends only the
// double-click event, which an item view ignores without the press before it.
void doubleClick(QTableView* view, QPoint pos)
{
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, pos);
}

} // namespace

class TstBuscar : public QObject {
    Q_OBJECT
private slots:
    void init() { SearchContext::instance().reset(); }

    void readsEveryRowInSpanishOrder();
    void filterIsEnterOnlyContainsAndIgnoresCase();
    void modesListTheirTables_data();
    void modesListTheirTables();
    void emptyTablePicksNothing();
    void pickHandsTheNumberToTheModesWindow();
    void unregisteredModeIsReportedNotDropped();
};

void TstBuscar::readsEveryRowInSpanishOrder()
{
    Station st(true, false);
    {
        db::Transaction t(conn());
        for (int i = 1; i <= 600; ++i)
            addSubscriber(i, QString::number(i), QString("APELLIDO %1").arg(i, 4, 10, QChar('0')));
        addSubscriber(601, "A1", "ÁLVAREZ");
        addSubscriber(602, "B1", "BENÍTEZ");
        addSubscriber(603, "Z1", "ZAPATA");
        t.commit();
    }
    SearchRowsModel rows;
    rows.load(conn(), SearchMode::abonado);
    // Far more rows than a lazily fetched first batch.
    QCOMPARE(rows.rowCount(), 603);
    QStringList surnames;
    for (int r = 0; r < rows.rowCount(); ++r)
        surnames << rows.index(r, 2).data().toString();
    // The accented surname sits with the A's, not after Z.
    QCOMPARE(surnames.first(), QString("ÁLVAREZ"));
    QVERIFY(surnames.indexOf("BENÍTEZ") < surnames.indexOf("ZAPATA"));
    QCOMPARE(rows.idAt(0), 601);

    SearchFilterProxy proxy;
    proxy.setSourceModel(&rows);
    proxy.setContains("0599");
    QCOMPARE(proxy.rowCount(), 1);
    QCOMPARE(rows.idAt(proxy.mapToSource(proxy.index(0, 0)).row()), 599);
}

void TstBuscar::filterIsEnterOnlyContainsAndIgnoresCase()
{
    Station st(true, true); // demo subscribers live in CÓRDOBA and ROSARIO
    addSubscriber(3, "X-77Q", "MUÑOZ", "ÁNGEL", "BELGRANO");
    addSubscriber(4, "0004", "O'BRIEN", "ANA", "100% NORTE");
    addSubscriber(5, "0005", "PÉREZ", "LUIS", "ITUZAIGÓ");
    auto* w = w_buscar::abrir(SearchMode::abonado);
    QPointer<w_buscar> guard(w);
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 5);

    // Typing alone filters nothing; Enter does.
    typeAndEnter(w, "muñoz", false);
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 5);
    QTest::keyClick(w->tx_buscar, Qt::Key_Return);
    QCOMPARE(shown(w, 2), QStringList{"MUÑOZ"});
    // The first row of the narrowed list is current.
    QCOMPARE(w->dgr_buscar->currentIndex().row(), 0);

    typeAndEnter(w, "ángel"); // first name, accented lower case
    QCOMPARE(shown(w, 2), QStringList{"MUÑOZ"});
    typeAndEnter(w, "77q"); // only the code matches
    QCOMPARE(shown(w, 2), QStringList{"MUÑOZ"});
    typeAndEnter(w, "belgr"); // street
    QCOMPARE(shown(w, 2), QStringList{"MUÑOZ"});
    typeAndEnter(w, "rosario"); // the town is not searched
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 0);
    QVERIFY(!w->dgr_buscar->currentIndex().isValid());

    // Quotes and wildcard characters are plain text.
    typeAndEnter(w, "o'b");
    QCOMPARE(shown(w, 2), QStringList{"O'BRIEN"});
    typeAndEnter(w, "0%");
    QCOMPARE(shown(w, 2), QStringList{"O'BRIEN"});
    typeAndEnter(w, "_");
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 0);

    // Enter in an empty box shows every row again.
    typeAndEnter(w, "");
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 5);

    // Rows added after opening are not read again.
    addSubscriber(6, "0006", "MUÑOZ");
    typeAndEnter(w, "MUÑOZ");
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 1);
    w->close();
    QVERIFY(guard.isNull() || !guard->isVisible());
}

void TstBuscar::modesListTheirTables_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<bool>("numberShown");
    const QStringList subs{"", "ID", "APELLIDO", "NOMBRE", "CALLE", "NUMERO", "LOCALIDAD"};
    QTest::newRow("abonado") << "abonado" << "abonados" << subs << false;
    QTest::newRow("panel_abonado") << "panel_abonado" << "abonados" << subs << false;
    QTest::newRow("usuario") << "usuario" << "usuarios" << QStringList{"ID", "USUARIO"} << true;
    QTest::newRow("log_usuario") << "log_usuario" << "usuarios" << QStringList{"ID", "USUARIO"} << true;
    QTest::newRow("panel") << "panel" << "paneles" << QStringList{"ID", "CODIGO", "VERSION"} << true;
    QTest::newRow("configuracion") << "configuracion" << "configuraciones" << QStringList{"ID", "CONFIGURACION"}
                                   << true;
}

void TstBuscar::modesListTheirTables()
{
    QFETCH(QString, mode);
    QFETCH(QString, table);
    QFETCH(QStringList, captions);
    QFETCH(bool, numberShown);
    Station st(true, true);
    const auto m = searchModeFromText(mode);
    QVERIFY(m);
    QCOMPARE(searchModeText(*m), mode);
    auto* w = w_buscar::abrir(*m);
    QStringList heads;
    for (int c = 0; c < w->dgr_buscar->model()->columnCount(); ++c)
        heads << w->dgr_buscar->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(heads, captions);
    QCOMPARE(!w->dgr_buscar->isColumnHidden(0), numberShown);
    QCOMPARE(w->dgr_buscar->model()->rowCount(),
             db::scalar(conn(), QString("SELECT count(*) FROM %1").arg(table)).toInt());
    // The subscriber list is the wide one.
    QCOMPARE(w->width() > w->height() * 3 / 2, table == "abonados");
    w->close();
}

void TstBuscar::emptyTablePicksNothing()
{
    Station st(true, false);
    int calls = 0;
    QObject owner;
    SearchContext::instance().registerDisplay(SearchMode::abonado, &owner, [&](int) { ++calls; });
    auto* w = w_buscar::abrir(SearchMode::abonado);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->dgr_buscar->model()->rowCount(), 0);
    w->cb_aceptar->trigger();
    doubleClick(w->dgr_buscar, QPoint(20, 10));
    QCOMPARE(calls, 0);
    QVERIFY(w->isVisible());
    QCOMPARE(st.messages.shown.size(), 0);
    w->cb_cancelar->trigger();
    QVERIFY(!w->isVisible());
    QCOMPARE(calls, 0);
}

void TstBuscar::pickHandsTheNumberToTheModesWindow()
{
    Station st(true, true);
    mdl_main::instance().currentLevel = 1;
    w_abonados record; // registers itself for "abonado"
    QList<int> console;
    QObject consoleWindow;
    SearchContext::instance().registerDisplay(SearchMode::panel_abonado, &consoleWindow,
                                              [&](int id) { console << id; });

    // The console's list hands the pick to the console, not to the record.
    QPointer<w_buscar> w = w_buscar::abrir(SearchMode::panel_abonado);
    QCOMPARE(SearchContext::instance().mode(), SearchMode::panel_abonado);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    typeAndEnter(w, "san martín");
    const QModelIndex row = w->dgr_buscar->model()->index(0, 1);
    doubleClick(w->dgr_buscar, w->dgr_buscar->visualRect(row).center());
    QCOMPARE(console, QList<int>{2});
    QCOMPARE(record.il_abonado, 0);
    QTRY_VERIFY(w.isNull());

    // The record's own list shows the pick in the record.
    w = w_buscar::abrir(SearchMode::abonado, &record);
    typeAndEnter(w, "siempre viva");
    w->cb_aceptar->trigger();
    QCOMPARE(record.il_abonado, 1);
    QCOMPARE(record.campo(0), QString("DEMOSTRACIÓN"));
    QCOMPARE(console.size(), 1);
    QTRY_VERIFY(w.isNull());
}

void TstBuscar::unregisteredModeIsReportedNotDropped()
{
    Station st(true, true);
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("usuario"));
    QPointer<w_buscar> w = w_buscar::abrir(SearchMode::usuario);
    w->cb_aceptar->trigger();
    QCOMPARE(st.messages.shown.size(), 1);
    QVERIFY(st.messages.lastText().contains("usuario"));

    // A registration ends with its window.
    int calls = 0;
    {
        QObject log;
        SearchContext::instance().registerDisplay(SearchMode::log_usuario, &log, [&](int) { ++calls; });
        QVERIFY(SearchContext::instance().dispatch(SearchMode::log_usuario, 1));
    }
    QCOMPARE(calls, 1);
    QVERIFY(!SearchContext::instance().isRegistered(SearchMode::log_usuario));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("log_usuario"));
    QVERIFY(!SearchContext::instance().dispatch(SearchMode::log_usuario, 1));
    QCOMPARE(calls, 1);
}

QTEST_MAIN(TstBuscar)
#include "tst_buscar.moc"
