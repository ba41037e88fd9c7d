// The value history: every source of change writes exactly the rows of the
// values it changed, in the change's own transaction; uploads leave their
// trace; the window's filters, the purge, and history outliving its owner.

#include "testsupport.h"
#include "common/fault_injector.h"

#include "session/mdl_main.h"
#include "data/catalogue_merge_store.h"
#include "data/db.h"
#include "data/history_store.h"
#include "data/link_store.h"
#include "data/shared_ops.h"
#include "data/subscriber_store.h"
#include "data/template_store.h"
#include "data/value_store.h"

#include <QtTest>

class tst_history : public QObject {
    Q_OBJECT

    static QSqlDatabase c() { return stationDb(); }
    static int count(const QString& where = QStringLiteral("1 = 1"), const QVariantList& v = {})
    {
        return db::scalar(c(), QStringLiteral("SELECT count(*) FROM valores_historial WHERE ") + where, v).toInt();
    }

    // Section 900 of panel 1: twenty decimal items, "000" in template 1.
    static void addWideSection()
    {
        db::exec(c(), "INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, "
                      "filler) VALUES (1, 900, 3, 0, 3, 4000, 'Tiempos', NULL)");
        for (int i = 1; i <= 20; ++i) {
            db::exec(c(), "INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) VALUES (1, 900, ?, ?)",
                     {i, QStringLiteral("Tiempo %1").arg(i)});
            db::exec(c(), "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, "
                          "id_estado) VALUES (1, 1, 900, ?, '000', 0)",
                     {i});
        }
    }

    // A new subscriber of panel 1 seeded from template 1 by operator 1.
    static int addSubscriber()
    {
        QVariantList f(24);
        f[0] = QStringLiteral("0077");
        f[1] = 1;
        f[2] = 1;
        for (int i : {3, 4, 5, 6, 9, 12})
            f[i] = QStringLiteral("X");
        f[10] = 1;
        return subscribers::insert(c(), f, 1);
    }

    static QString value(int abonado, int seccion, int item)
    {
        return values::itemValue(c(), values::Owner::subscriber(abonado, 1), seccion, item).value_or(QStringLiteral("?"));
    }

    static history::Filter lastMonth(const values::Owner& o)
    {
        return {o, QDate::currentDate().addMonths(-1), QDate::currentDate()};
    }

private slots:
    // Seeding writes every initial value at once; restoring a section writes
    // only what the restore changes back, and what it drops.
    void seedingAndRestore()
    {
        TestStation st;
        addWideSection();
        const int templateValues =
            db::scalar(c(), "SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 1 AND id_panel = 1")
                .toInt();
        const int a = addSubscriber();
        QCOMPARE(count("id_abonado = ? AND origen = 'plantilla' AND valor_anterior IS NULL", {a}), templateValues);
        QCOMPARE(db::scalar(c(), "SELECT count(DISTINCT fecha) FROM valores_historial WHERE id_abonado = ?", {a}).toInt(), 1);
        QCOMPARE(count("id_abonado = ? AND id_usuario = 1", {a}), templateValues);

        db::exec(c(), "UPDATE abonados_valores SET valor = '123' WHERE id_abonado = ? AND id_seccion = 900 AND id_item = 4", {a});
        db::exec(c(), "INSERT INTO abonados_valores (id_abonado, id_seccion, id_item, valor) VALUES (?, 900, 21, '9')", {a});
        // An item the template gained since, empty: new to the subscriber all the same.
        db::exec(c(), "INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) VALUES (1, 900, 22, 'Nuevo')");
        db::exec(c(), "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, "
                      "id_estado) VALUES (1, 1, 900, 22, '', 0)");
        const int before = count();
        {
            db::Transaction t(c());
            QVERIFY(copyValues(c(), a, 1, 900, 1, 2));
            t.commit();
        }
        QCOMPARE(count(), before + 3);
        QCOMPARE(count("id_item = 4 AND valor_anterior = '123' AND valor_nuevo = '000' AND id_usuario = 2"), 1);
        QCOMPARE(count("id_item = 21 AND valor_anterior = '9' AND valor_nuevo IS NULL"), 1);
        QCOMPARE(count("id_item = 22 AND valor_anterior IS NULL AND valor_nuevo = ''"), 1);
    }

    // Twenty items saved with two of them changed write two rows; a save
    // rolled back writes none and changes nothing.
    void editorSaveAndRollback()
    {
        TestStation st;
        addWideSection();
        const int a = addSubscriber();
        const values::Owner o = values::Owner::subscriber(a, 1);
        const int before = count();
        const history::Stamp stamp{history::origin::editor(), 1};
        {
            db::Transaction t(c());
            for (int i = 1; i <= 20; ++i)
                QVERIFY(values::writeItemValue(c(), o, 900, i, i == 3 || i == 17 ? QStringLiteral("042") : QStringLiteral("000"), stamp));
            t.commit();
        }
        QCOMPARE(count(), before + 2);
        QCOMPARE(count("origen = 'editor' AND valor_anterior = '000' AND valor_nuevo = '042' AND id_item IN (3, 17)"), 2);

        {
            db::Transaction t(c());
            QVERIFY(values::writeItemValue(c(), o, 900, 5, QStringLiteral("555"), stamp));
            QVERIFY(!values::writeItemValue(c(), o, 900, 99, QStringLiteral("555"), stamp));
            // The caller gives up: nothing of the change stays.
        }
        QCOMPARE(count(), before + 2);
        QCOMPARE(value(a, 900, 5), QStringLiteral("000"));

        // A template's values are kept the same way.
        const values::Owner tpl = values::Owner::templ(1, 1);
        {
            db::Transaction t(c());
            QVERIFY(values::writeItemValue(c(), tpl, 900, 1, QStringLiteral("007"), stamp));
            t.commit();
        }
        QCOMPARE(count("id_configuracion = 1 AND id_panel = 1 AND id_abonado IS NULL AND valor_nuevo = '007'"), 1);
    }

    // A download writes only the values that differ and clears every mark;
    // an upload leaves one row per value acknowledged; "Tomar del panel" is
    // a change from the panel.
    void downloadUploadAndTakeFromPanel()
    {
        TestStation st;
        addWideSection();
        const int a = addSubscriber();
        values::setMarks(c(), values::Owner::subscriber(a, 1), -1, 900);
        SqlLinkStore link(c(), 3);
        const int before = count();
        QList<QPair<int, QString>> read;
        for (int i = 1; i <= 20; ++i)
            read.append({i, i <= 5 ? QStringLiteral("%1").arg(i * 11, 3, 10, QLatin1Char('0')) : QStringLiteral("000")});
        const qint64 lastKey = db::scalar(c(), "SELECT max(id_historial) FROM valores_historial").toLongLong();
        QVERIFY(link.storeSection(a, 900, read));
        QCOMPARE(count(), before + 5);
        QCOMPARE(count("origen = 'panel' AND id_usuario = 3 AND id_item = 2 AND valor_anterior = '000' AND valor_nuevo = '022'"), 1);
        // Numbered on from the highest, in item order.
        QCOMPARE(count("id_historial > ? AND id_historial = ? + id_item", {lastKey, lastKey}), 5);
        QCOMPARE(value(a, 900, 2), QStringLiteral("022"));
        QCOMPARE(db::scalar(c(), "SELECT count(*) FROM abonados_valores WHERE id_abonado = ? AND id_seccion = 900 "
                                 "AND id_estado <> 0", {a}).toInt(), 0);
        // The same answer again changes nothing.
        QVERIFY(link.storeSection(a, 900, read));
        QCOMPARE(count(), before + 5);
        // One value for the whole section (item 0): every item that differs.
        QVERIFY(link.storeSection(a, 900, {{0, QStringLiteral("000")}}));
        QCOMPARE(count(), before + 10);
        QCOMPARE(value(a, 900, 5), QStringLiteral("000"));
        // A null stored value and an empty one read alike: no row, the null
        // kept, only the mark cleared.
        db::exec(c(), "UPDATE abonados_valores SET valor = NULL, id_estado = -1 WHERE id_abonado = ? AND id_seccion = 900 "
                      "AND id_item = 3", {a});
        QVERIFY(link.storeSection(a, 900, {{3, QString("")}, {4, QStringLiteral("044")}}));
        QCOMPARE(count(), before + 11);
        QCOMPARE(db::scalar(c(), "SELECT count(*) FROM abonados_valores WHERE id_abonado = ? AND id_seccion = 900 "
                                 "AND id_item = 3 AND valor IS NULL AND id_estado = 0", {a}).toInt(), 1);
        QCOMPARE(value(a, 900, 4), QStringLiteral("044"));
        QVERIFY(link.storeSection(a, 900, {{3, QStringLiteral("000")}, {4, QStringLiteral("000")}}));

        values::setMarks(c(), values::Owner::subscriber(a, 1), 1, 900);
        QVERIFY(link.sectionsWritten(a, {900}));
        QCOMPARE(count("origen = 'subida' AND id_seccion = 900 AND valor_nuevo = '000' AND valor_anterior IS NULL"), 20);
        // Only what was still marked "subir" went out.
        QVERIFY(link.sectionsWritten(a, {900}));
        QCOMPARE(count("origen = 'subida'"), 20);
        // A read-back proves every value of the section, marked or not.
        QVERIFY(link.sectionsVerified(a, {900}));
        QCOMPARE(count("origen = 'subida verificada' AND id_seccion = 900"), 20);

        {
            db::Transaction t(c());
            QVERIFY(values::takeFromPanel(c(), a, 1, 900, 7, QStringLiteral("077"), 4));
            t.commit();
        }
        QCOMPARE(count("origen = 'panel' AND id_usuario = 4 AND id_item = 7 AND valor_nuevo = '077'"), 1);

        // The sections one answer completes, stored together: numbered
        // section by section in the order read, and all or none.
        db::exec(c(), "INSERT INTO abonados_valores (id_abonado, id_seccion, id_item, valor, id_estado) "
                      "VALUES (?, 901, 1, '000', -1), (?, 901, 2, '000', -1)",
                 {a, a});
        const qint64 last = db::scalar(c(), "SELECT max(id_historial) FROM valores_historial").toLongLong();
        QVERIFY(link.storeSections(a, {{901, {{1, QStringLiteral("101")}, {2, QStringLiteral("102")}}},
                                       {900, {{1, QStringLiteral("901")}}}}));
        QCOMPARE(count("id_historial > ?", {last}), 3);
        QCOMPARE(count("id_historial = ? + 2 AND id_seccion = 901 AND id_item = 2 AND valor_nuevo = '102'", {last}), 1);
        QCOMPARE(count("id_historial = ? + 3 AND id_seccion = 900 AND id_item = 1 AND valor_nuevo = '901'", {last}), 1);
        {
            // The second value written fails: the first section stays as it
            // was, with no history row for either.
            FaultInjector full(c(), FaultInjector::Kind::DiskFull, 2, {"abonados_valores"});
            const int rows = count();
            QVERIFY(!link.storeSections(a, {{901, {{1, QStringLiteral("201")}}}, {900, {{1, QStringLiteral("902")}}}}));
            QCOMPARE(count(), rows);
            QCOMPARE(value(a, 901, 1), QStringLiteral("101"));
        }
    }

    // The catalogue merge records template 1's new and changed values.
    void catalogueMerge()
    {
        TestStation st;
        const merge_store::MergeTable& t = merge_store::mergeTables().back();
        QVERIFY(t.templateOne);
        const QString old = values::itemValue(c(), values::Owner::templ(1, 1), 0, 1).value();
        merge_store::RowWriter w(c(), t);
        w.apply({1, 0, 1, QStringLiteral("7"), 0});
        w.apply({1, 0, 2, values::itemValue(c(), values::Owner::templ(1, 1), 0, 2).value(), 0}); // unchanged
        db::exec(c(), "INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) VALUES (1, 0, 99, 'X')");
        QVERIFY(w.apply({1, 0, 99, QStringLiteral("1"), 0}));
        QCOMPARE(count("origen = 'migración'"), 0); // kept for the batch's one write
        w.flush();
        QCOMPARE(count("origen = 'migración'"), 2);
        QCOMPARE(count("origen = 'migración' AND id_configuracion = 1 AND id_item = 1 AND valor_anterior = ? "
                       "AND valor_nuevo = '7' AND id_usuario IS NULL", {old}), 1);
        QCOMPARE(count("origen = 'migración' AND id_item = 99 AND valor_anterior IS NULL"), 1);

        // The same rule when a batch is written in one go: a changed value
        // and a new one get their rows, an unchanged one none.
        const QVariantList changed{1, 0, 1, QStringLiteral("8"), 0}, same{1, 0, 2, QStringLiteral("7"), 0},
            added{1, 0, 98, QVariant(QMetaType::fromType<QString>()), 0}, unchanged{1, 0, 99, QStringLiteral("1"), 0};
        db::exec(c(), "INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) VALUES (1, 0, 98, 'Y')");
        db::exec(c(), "UPDATE configuraciones_valores SET valor = '7' WHERE id_configuracion = 1 AND id_panel = 1 "
                      "AND id_seccion = 0 AND id_item = 2");
        // A key twice in one batch is left to the row-by-row way.
        QVERIFY(!w.applyAll({&changed, &same, &changed}));
        QCOMPARE(w.applyAll({&changed, &same, &added, &unchanged}), std::optional<qint64>(1));
        QCOMPARE(count("origen = 'migración'"), 4);
        QCOMPARE(count("origen = 'migración' AND id_item = 1 AND valor_anterior = '7' AND valor_nuevo = '8'"), 1);
        QCOMPARE(count("origen = 'migración' AND id_item = 98 AND valor_anterior IS NULL AND valor_nuevo IS NULL"), 1);
        QCOMPARE(values::itemValue(c(), values::Owner::templ(1, 1), 0, 1).value(), QStringLiteral("8"));
    }

    // Filters of the window, deleted owners, and the purge.
    void filtersDeletionAndPurge()
    {
        TestStation st;
        addWideSection();
        const int a = addSubscriber();
        const values::Owner o = values::Owner::subscriber(a, 1);
        auto change = [&](int item, const QString& v, int usuario, const QString& fecha) {
            db::Transaction t(c());
            QVERIFY(values::writeItemValue(c(), o, 900, item, v, history::Stamp{history::origin::editor(), usuario, fecha}));
            t.commit();
        };
        db::exec(c(), "INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (2, 'TECNICO', 'X', 2)");
        const QDate today = QDate::currentDate();
        const QString old = db::dateTimeText(QDateTime(today.addDays(-40), QTime(10, 0)));
        change(1, QStringLiteral("001"), 2, old);
        change(2, QStringLiteral("002"), 3, db::dateTimeText(QDateTime(today.addDays(-1), QTime(9, 0))));
        change(3, QStringLiteral("003"), 2, db::dateTimeText(QDateTime(today, QTime(0, 0))));

        // The last month of section 900: its seeding (operator 1) and two changes.
        history::Filter f = lastMonth(o);
        f.seccion = 900;
        QList<history::Row> rows = history::rows(c(), f);
        QCOMPARE(rows.size(), 22);
        for (qsizetype i = 1; i < rows.size(); ++i)
            QVERIFY(rows.at(i - 1).fecha >= rows.at(i).fecha); // newest first
        QCOMPARE(rows.last().item, 2);
        f.usuario = 2;
        rows = history::rows(c(), f);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).item, 3);
        QCOMPARE(rows.at(0).itemDescripcion, QStringLiteral("Tiempo 3"));
        QCOMPARE(rows.at(0).seccionDescripcion, QStringLiteral("Tiempos"));
        QCOMPARE(rows.at(0).usuario, QStringLiteral("TECNICO"));
        QCOMPARE(rows.at(0).antes, std::optional<QString>(QStringLiteral("000")));
        QCOMPARE(rows.at(0).despues, std::optional<QString>(QStringLiteral("003")));
        f.usuario = 0;
        f.from = today.addDays(-40);
        f.to = today.addDays(-40);
        QCOMPARE(history::rows(c(), f).size(), 1);
        f.seccion = 0;
        QCOMPARE(history::rows(c(), f).size(), 0);

        // Deleting the subscriber keeps its rows, out of the window.
        const int rowsOfA = count("id_abonado = ?", {a});
        subscribers::remove(c(), a);
        QCOMPARE(count("id_abonado = ? AND borrado = 1", {a}), rowsOfA);
        QVERIFY(history::rows(c(), lastMonth(o)).isEmpty());
        // So does deleting a template; a new one starts with its values.
        const int copy = templates::copy(c(), 1, QStringLiteral("COPIA"), 1);
        const int copied =
            db::scalar(c(), "SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = ?", {copy}).toInt();
        QCOMPARE(count("id_configuracion = ? AND origen = 'plantilla copiada de 1' AND valor_anterior IS NULL", {copy}), copied);
        templates::remove(c(), copy);
        QCOMPARE(count("id_configuracion = ? AND borrado = 0", {copy}), 0);

        // Purging through 40 days ago takes that day whole, nothing after it.
        const int total = count();
        QCOMPARE(history::purge(c(), today.addDays(-41)), 0);
        QCOMPARE(history::purge(c(), today.addDays(-40)), 1);
        QCOMPARE(count(), total - 1);
    }
};

QTEST_MAIN(tst_history)
#include "tst_history.moc"
