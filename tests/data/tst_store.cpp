// The database as the station relies on it: keys and cascades, new numbers,
// date order, the log, seeding from a template, and the demo catalogue.

#include "fault_injector.h"
#include "testsupport.h"

#include "session/mdl_main.h"
#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/history_store.h"
#include "data/lock_store.h"
#include "data/panel_image_store.h"
#include "data/shared_ops.h"
#include "data/station_db.h"
#include "data/subscriber_hold.h"
#include "data/subscriber_store.h"
#include "data/users_store.h"
#include "data/value_store.h"

#include <QtTest>
#include <thread>

class tst_store : public QObject {
    Q_OBJECT

    static QSqlDatabase c() { return stationDb(); }
    static int count(const QString& sql, const QVariantList& v = {}) { return db::scalar(c(), sql, v).toInt(); }

    static void addSubscriber(int id, int panel = 1, int conf = 1)
    {
        db::exec(c(),
                 "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, "
                 "numero, localidad, id_provincia, tel_1) VALUES (?, ?, ?, ?, 'A', 'B', 'C', '0012', 'D', 1, '1')",
                 {id, QStringLiteral("00%1").arg(id), panel, conf});
    }

private slots:
    // The integrity check: sound, damaged with what SQLite said, and given
    // up when its time is over.
    void quickCheckAndItsTimeLimit()
    {
        if (testOnServer())
            QSKIP("a server checks its own files");
        TestStation st;
        QCOMPARE(db::quickCheck(c(), 10000), db::Check::Sound);
        QCOMPARE(db::quickCheck(c(), -1), db::Check::Unfinished);
        QVERIFY(db::exec(c(), "SELECT count(*) FROM provincias").next()); // the connection goes on
        st.main.closeConnections();
        QVERIFY(damageTable(st.path(mdl_main::DbFile), "provincias"));
        db::open(mdl_main::DbConnection, st.path(mdl_main::DbFile));
        QString detail;
        QCOMPARE(db::quickCheck(c(), 10000, &detail), db::Check::Damaged);
        QVERIFY(!detail.isEmpty());
        // Read at work, the damage is said in Spanish first, the engine's
        // words last, and never as an empty list.
        try {
            QSqlQuery q = db::exec(c(), "SELECT * FROM provincias");
            while (db::next(q)) {
            }
            QFAIL("rows read from a damaged table");
        } catch (const db::Error& e) {
            QCOMPARE(e.fault(), db::Fault::Damaged);
            QVERIFY(e.text().startsWith("La base de datos está dañada"));
            QVERIFY(e.text().section('\n', -1).contains("malformed"));
        }
    }

    // A write the disk has no room for, and a record another station keeps
    // busy: each says what happened (the engine's own words last), changes
    // nothing, and nobody waits longer than the lock wait.
    void writeFailuresSayWhatHappened_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("disco lleno") << int(db::Fault::DiskFull);
        QTest::newRow("ocupado por otra estación") << int(db::Fault::Busy);
    }
    void writeFailuresSayWhatHappened()
    {
        QFETCH(int, fault);
        TestStation st;
        addSubscriber(1);
        QSqlDatabase other = db::openAnother("otra-estacion", c());
        QString expected;
        if (fault == int(db::Fault::DiskFull)) {
            if (testOnServer()) {
                addTrigger(c(), "lleno", "BEFORE UPDATE", "abonados", {},
                           "RAISE EXCEPTION 'could not extend file: No space left on device' USING ERRCODE = 'disk_full'");
                expected = "No hay espacio en el disco de la base de datos (carpeta de datos del servidor)";
            } else {
                // The file may not grow by a page: a big value finds no room.
                db::exec(c(), "PRAGMA max_page_count = " + db::scalar(c(), "PRAGMA page_count").toString());
                expected = QString("No hay espacio en el disco de la base de datos (carpeta %1)").arg(st.dir());
            }
        } else {
            db::exec(other, "BEGIN");
            db::exec(other, "UPDATE abonados SET nombre = 'LUIS' WHERE id_abonado = 1");
            expected = "Otra estación está usando los datos de «abonados»";
        }
        QElapsedTimer waited;
        waited.start();
        try {
            db::Transaction t(c());
            db::exec(c(), "UPDATE abonados SET nombre = ? WHERE id_abonado = 1", {QString(20000, 'X')});
            t.commit();
            QFAIL("the write went through");
        } catch (const db::Error& e) {
            QCOMPARE(int(e.fault()), fault);
            QVERIFY2(e.text().startsWith(expected), qPrintable(e.text()));
            const QString engine = e.text().section('\n', -1);
            QVERIFY2(e.text().contains('\n') && !engine.contains("estación") && !engine.contains("disco"), qPrintable(engine));
        }
        QVERIFY(waited.elapsed() < db::LockWaitMs + 2000);
        if (fault == int(db::Fault::Busy))
            db::exec(other, "ROLLBACK");
        QCOMPARE(db::scalar(other, "SELECT nombre FROM abonados WHERE id_abonado = 1").toString(), QString("B"));
        other = QSqlDatabase();
        db::close("otra-estacion");
    }

    // The known panel image takes only the bytes flagged known, keeps the
    // rest, and goes with its subscriber.
    void knownPanelImageMerges()
    {
        TestStation st;
        addSubscriber(1);
        QVERIFY(!panel_image::read(c(), 1));
        QByteArray bytes(panel_image::Size, '\x11'), known(panel_image::Size, '\0');
        known[10] = known[11] = 1;
        panel_image::merge(c(), 1, bytes, known);
        bytes.fill('\x22');
        known.fill('\0');
        known[11] = known[12] = 1;
        panel_image::merge(c(), 1, bytes, known);
        const auto k = panel_image::read(c(), 1);
        QVERIFY(k);
        QCOMPARE(k->memoria.mid(9, 5), QByteArray("\x00\x11\x22\x22\x00", 5));
        QCOMPARE(k->conocida.mid(9, 5), QByteArray("\x00\x01\x01\x01\x00", 5));
        QVERIFY(!k->fecha.isEmpty());
        db::exec(c(), "DELETE FROM abonados WHERE id_abonado = 1");
        QVERIFY(!panel_image::read(c(), 1));
    }

    void cascadesAndRefusals()
    {
        TestStation st;
        db::exec(c(), "INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (2, 'COPIA')");
        db::exec(c(), "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, "
                      "id_estado) SELECT 2, id_panel, id_seccion, id_item, valor, id_estado FROM configuraciones_valores "
                      "WHERE id_configuracion = 1");
        addSubscriber(1, 1, 2);
        copyValues(c(), 1, 1, 999, 2, 1);
        db::exec(c(), "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) VALUES (1, 1, 4, 1, 0)");
        QVERIFY(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1") > 100);

        // A template in use cannot be deleted, and nothing of it is lost.
        const int values = count("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 2");
        // The refusal is said in words first, the engine's own text after.
        const auto refusal = [](const QString& sql) {
            try {
                db::exec(c(), sql);
            } catch (const db::Error& e) {
                return e.text().section(QLatin1Char('\n'), 0, 0);
            }
            return QString();
        };
        QCOMPARE(refusal("DELETE FROM configuraciones WHERE id_configuracion = 2"),
                 QString("La operación se refiere a un dato que no existe, o quitaría uno que otros datos usan."));
        QCOMPARE(count("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 2"), values);
        QCOMPARE(refusal("INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (2, 'OTRA')"),
                 QString("Ya existe un registro con la misma clave."));

        // Deleting the subscriber takes its values and events; then the template goes with its values.
        db::exec(c(), "DELETE FROM abonados WHERE id_abonado = 1");
        QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1"), 0);
        QCOMPARE(count("SELECT count(*) FROM abonados_eventos WHERE id_abonado = 1"), 0);
        db::exec(c(), "DELETE FROM configuraciones WHERE id_configuracion = 2");
        QCOMPARE(count("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 2"), 0);

        // Text keeps leading zeros.
        addSubscriber(3);
        QCOMPARE(db::scalar(c(), "SELECT numero FROM abonados WHERE id_abonado = 3").toString(), QString("0012"));
    }

    void newNumbers()
    {
        TestStation st;
        QCOMPARE(nextKey(c(), "abonados", "id_abonado"), 1);
        addSubscriber(1);
        addSubscriber(2);
        QCOMPARE(nextKey(c(), "abonados", "id_abonado"), 3);
        // The highest number deleted is given again, without its old values.
        copyValues(c(), 2, 1, 999, 1, 1);
        db::exec(c(), "DELETE FROM abonados WHERE id_abonado = 2");
        QCOMPARE(nextKey(c(), "abonados", "id_abonado"), 2);
        addSubscriber(2);
        QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 2"), 0);

        QCOMPARE(nextKey(c(), "configuraciones", "id_configuracion"), 2);
        QCOMPARE(nextKey(c(), "usuarios", "id_usuario", 1000), 2);
        db::exec(c(), "DELETE FROM usuarios");
        QCOMPARE(nextKey(c(), "usuarios", "id_usuario", 1000), 1000);
    }

    void datesCompareChronologically()
    {
        TestStation st;
        addSubscriber(1);
        // Inserted out of order, across a month and a year boundary.
        for (const char* f : {"2024-10-02 08:00:00", "2024-09-30 23:59:59", "2025-01-01 00:00:00", "2024-10-02 07:59:00"})
            db::exec(c(), "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, fecha, id_tipo) "
                          "VALUES (1, 1, 1, 1, ?, 0)", {QString::fromLatin1(f)});
        QCOMPARE(count("SELECT count(*) FROM abonados_eventos WHERE fecha <= ?", {"2024-10-02 07:59:59"}), 2);
        QSqlQuery q = db::exec(c(), "SELECT fecha FROM abonados_eventos ORDER BY fecha DESC LIMIT 1");
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QString("2025-01-01 00:00:00"));
        // The store's own default is local "now" in the same form.
        db::exec(c(), "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) VALUES (1, 1, 1, 1, 0)");
        const QDateTime stored = db::parseDateTime(db::scalar(c(), "SELECT max(fecha) FROM abonados_eventos").toString());
        QVERIFY(qAbs(stored.secsTo(QDateTime::currentDateTime())) < 5);
    }

    void logRows()
    {
        TestStation st;
        mdl_main& m = st.main;
        m.logIn(1, m.currentLevel());
        m.logOperation(1);
        m.logOperation(3, "Abonado: 0001 - O'BRIEN ÑANDÚ");
        QSqlQuery q = db::exec(c(), "SELECT id_usuario, id_operacion, parametro FROM usuarios_operaciones ORDER BY id_operacion");
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QVERIFY(q.value(2).isNull()); // an empty parameter is stored as null
        QVERIFY(q.next());
        QCOMPARE(q.value(2).toString(), QString("Abonado: 0001 - O'BRIEN ÑANDÚ"));
        q.finish();

        // A failing insert is swallowed and leaves no open transaction behind.
        const int rows = count("SELECT count(*) FROM usuarios_operaciones");
        FaultInjector full(c(), FaultInjector::Kind::DiskFull);
        m.logOperation(4, "x");
        full.heal();
        QVERIFY(st.messages.shown.isEmpty());
        QCOMPARE(count("SELECT count(*) FROM usuarios_operaciones"), rows);
        db::exec(c(), "CREATE TABLE t (x INTEGER)");
        QVERIFY(c().transaction());
        c().rollback();
    }

    void seedingFromTemplate()
    {
        TestStation st;
        addSubscriber(1);
        const int all = count("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 1 AND id_panel = 1");
        QVERIFY(copyValues(c(), 1, 1, 999, 1, 1));
        QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1"), all);
        // Marks come along with the values.
        QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND id_estado = 1"),
                 count("SELECT count(*) FROM configuraciones_valores WHERE id_configuracion = 1 AND id_panel = 1 AND id_estado = 1"));

        // One section: only its rows are replaced.
        db::exec(c(), "UPDATE abonados_valores SET valor = 'X' WHERE id_abonado = 1");
        QVERIFY(copyValues(c(), 1, 1, 20, 1, 1));
        QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1 AND valor = 'X'"),
                 all - count("SELECT count(*) FROM secciones_items WHERE id_panel = 1 AND id_seccion = 20"));
        QCOMPARE(db::scalar(c(), "SELECT valor FROM abonados_valores WHERE id_abonado = 1 AND id_seccion = 20 AND id_item = 1").toString(),
                 QString("030"));

        // A template without rows for the model leaves the subscriber without values.
        db::exec(c(), "INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (5, 'VACIA')");
        QVERIFY(copyValues(c(), 1, 1, 999, 5, 1));
        QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1"), 0);

        // A write failing in the middle (a refused row, a full disk, the
        // server gone) is undone by the caller's transaction, and the error
        // says which fault it was.
        QVERIFY(copyValues(c(), 1, 1, 999, 1, 1));
        const QList<QPair<FaultInjector::Kind, db::Fault>> faults = {
            {FaultInjector::Kind::Constraint, db::Fault::Other},
            {FaultInjector::Kind::DiskFull, db::Fault::DiskFull},
            {FaultInjector::Kind::Lost, db::Fault::Lost}};
        for (const auto& [kind, fault] : faults) {
            if (kind == FaultInjector::Kind::Lost && !FaultInjector::lostSupported(c()))
                continue;
            FaultInjector failing(c(), kind, 3, {"abonados_valores"});
            try {
                db::Transaction t(c());
                copyValues(c(), 1, 1, 999, 1, 1);
                t.commit();
                QFAIL("the third write should have failed");
            } catch (const db::Error& e) {
                QCOMPARE(int(e.fault()), int(fault));
            }
            failing.heal();
            if (kind == FaultInjector::Kind::Lost)
                QVERIFY(db::reconnect(mdl_main::DbConnection));
            QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 1"), all);
        }
    }

    // One set of statements serves a subscriber's and a template's values and
    // marks: each owner reads and writes its own rows only.
    void valuesAndMarksByOwner()
    {
        TestStation st;
        addSubscriber(1);
        addSubscriber(2);
        copyValues(c(), 1, 1, 999, 1, 1);
        copyValues(c(), 2, 1, 999, 1, 1);
        const values::Owner sub = values::Owner::subscriber(1, 1);
        const values::Owner tpl = values::Owner::templ(1, 1);
        values::setMarks(c(), tpl, 0);
        values::setMarks(c(), sub, 0);
        values::setMarks(c(), values::Owner::subscriber(2, 1), 0);
        const int s = count("SELECT min(id_seccion) FROM abonados_valores WHERE id_abonado = 1");
        const int item = count("SELECT min(id_item) FROM abonados_valores WHERE id_abonado = 1 AND id_seccion = ?", {s});
        auto markOf = [](const values::Owner& o, int seccion) {
            for (const values::SectionMark& m : values::sectionMarks(c(), o))
                if (m.seccion == seccion)
                    return m.marca;
            return -99;
        };

        // A click cycles none -> subir -> bajar -> none on the subscriber alone.
        int marca = 0;
        for (int expected : {1, -1, 0}) {
            values::setMarks(c(), sub, values::nextMark(marca), s);
            marca = markOf(sub, s);
            QCOMPARE(marca, expected);
            QCOMPARE(markOf(tpl, s), 0);
            QCOMPARE(count("SELECT count(*) FROM abonados_valores WHERE id_abonado = 2 AND id_estado <> 0"), 0);
        }
        // Every section of the template, none of the subscriber's.
        values::setMarks(c(), tpl, -1);
        QCOMPARE(markOf(tpl, s), -1);
        QCOMPARE(markOf(sub, s), 0);

        const std::optional<QString> before = values::itemValue(c(), tpl, s, item);
        QVERIFY(before && *before != QLatin1String("Z9"));
        const history::Stamp editor{history::origin::editor(), 1};
        QVERIFY(values::writeItemValue(c(), sub, s, item, QStringLiteral("Z9"), editor));
        QCOMPARE(values::itemValue(c(), sub, s, item), std::optional<QString>(QStringLiteral("Z9")));
        QCOMPARE(values::itemValue(c(), tpl, s, item), before);
        // A row that is not there is neither read nor written.
        QVERIFY(!values::itemValue(c(), sub, s, 9999));
        QVERIFY(!values::writeItemValue(c(), sub, s, 9999, QStringLiteral("Z9"), editor));
    }

    void messageCatalogue()
    {
        TestStation st;
        mdl_main& m = st.main;
        m.showMessage(102);
        QCOMPARE(st.messages.lastTitle(), QString("Error 102"));
        QCOMPARE(st.messages.lastText(), QString("No se pudo abrir el puerto de comunicaciones"));
        QCOMPARE(st.messages.shown.last().icon, MessageService::Icon::Critical);
        st.messages.clear();
        for (int n : {0, 311, 100, 700, 32767})
            m.showMessage(n);
        QVERIFY(st.messages.shown.isEmpty());
    }

    void demoCatalogueIsConsistent()
    {
        TestStation st(true, true);
        for (int panel : {1, 2}) {
            // Address ranges of the sections, as the transfer lays them out.
            QSqlQuery q = db::exec(c(),
                "SELECT s.id_seccion, s.tipo, s.long, s.posicion, (SELECT count(*) FROM secciones_items i WHERE "
                "i.id_panel = s.id_panel AND i.id_seccion = s.id_seccion) AS n FROM secciones s WHERE id_panel = ? "
                "ORDER BY posicion", {panel});
            QSet<int> tipos;
            int end = -1;
            while (q.next()) {
                const int tipo = q.value(1).toInt(), pos = q.value(3).toInt(), n = q.value(4).toInt();
                const int bytes = tipo == 1 ? 1 : (tipo == 2 || tipo == 3) ? n : (q.value(2).toInt() + 1) / 2;
                QVERIFY2(pos > end, qPrintable(QString("section %1 overlaps").arg(q.value(0).toInt())));
                end = pos + bytes - 1;
                QVERIFY(end < 5000);
                tipos.insert(tipo);
                QVERIFY(n > 0);
            }
            QCOMPARE(tipos, (QSet<int>{1, 2, 3, 4, 5}));
            // The access code is four hexadecimal digits.
            const QString pwd = db::scalar(c(), "SELECT av.valor FROM abonados a JOIN paneles p ON p.id_panel = a.id_panel "
                                                "JOIN abonados_valores av ON av.id_abonado = a.id_abonado AND "
                                                "av.id_seccion = p.id_seccionpwd AND av.id_item = 1 WHERE a.id_abonado = ?",
                                           {panel}).toString();
            QVERIFY(QRegularExpression("^[0-9A-F]{4}$").match(pwd).hasMatch());
            QVERIFY(count("SELECT count(*) FROM eventos WHERE id_panel = ? AND id_tipo = 1", {panel}) > 0);
        }
        QCOMPARE(db::scalar(c(), "SELECT cadena FROM paneles WHERE id_panel = 1").toString(), QString("1"));
        QCOMPARE(db::scalar(c(), "SELECT cadena FROM paneles WHERE id_panel = 2").toString(), QString("2"));
        // Every operation code the station writes has a name.
        for (int op : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16})
            QCOMPARE(count("SELECT count(*) FROM operaciones WHERE id_operacion = ?", {op}), 1);
    }

    // The server comes from sorvent20.ini only; a bad one is named with the
    // reason, and no file is made in its place.
    void serverChosenByIniOnly()
    {
        TestStation st(false);
        QVERIFY(!db::openFromConfig("sorvent-ini", st.dir()));
        const auto refused = [&](const QByteArray& ini, const QString& expected) {
            QFile f(st.path(db::ServerIni));
            if (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size())
                return false;
            f.close();
            try {
                db::openFromConfig("sorvent-ini", st.dir());
            } catch (const db::Error& e) {
                if (!e.text().contains(expected))
                    qWarning("%s", qPrintable(e.text()));
                return e.text().contains(expected);
            }
            return false;
        };
        QVERIFY(refused("[basedatos]\nhost=/sin/servidor\nport=5433\ndbname=central\nuser=ana\n",
                        "No se pudo conectar con el servidor de base de datos «/sin/servidor:5433/central (usuario ana)»"));
        QVERIFY(refused("[basedatos]\nservice=central\npassword=x\n", "~/.pgpass"));
        // Keys and the section are read whatever their case.
        QVERIFY(refused("[BaseDatos]\nService=central\nPassword=x\n", "~/.pgpass"));
        QVERIFY(refused("[basedatos]\nHOST=/sin/servidor\nPort=5433\nDBName=central\n",
                        "«/sin/servidor:5433/central»"));
        QVERIFY(refused("[basedatos]\nhost=servidor\n", "no indica el servidor"));
        QVERIFY(refused("[basedatos]\ndbname=central host=otro\n", "no es válido"));
        QVERIFY(!QFile::exists(st.path(mdl_main::DbFile)));
    }

    // Pick lists in Spanish order: accents beside their letter, Ñ after N.
    void pickListsSortInSpanish()
    {
        TestStation st;
        db::exec(c(), "DELETE FROM contactos");
        int id = 0;
        for (const char* d : {"OSO", "ÑANDÚ", "NUBE", "ÁRBOL", "AZUL"})
            db::exec(c(), "INSERT INTO contactos (id_contacto, descripcion) VALUES (?, ?)", {++id, QString::fromUtf8(d)});
        QStringList order;
        for (const catalogue::Entry& e : catalogue::pickList(c(), catalogue::PickList::ContactKinds))
            order << e.text;
        QCOMPARE(order, QStringList({"ÁRBOL", "AZUL", "NUBE", "ÑANDÚ", "OSO"}));
    }

    // Two stations on one server adding subscribers at the same moment:
    // every one gets a number of its own and no key error reaches them.
    void concurrentNewNumbersOnServer()
    {
        if (!testOnServer())
            QSKIP("one station works on a file");
        TestStation st;
        const QVariantList fields{"0001", 1, 1, "A", "B", "C", "1", {}, {}, "D", 1, {}, "1", {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
        const db::Server server{{}, qEnvironmentVariable("PGHOST"), {}, st.serverDb(), {}, {}};
        QStringList failures[2];
        QList<int> numbers[2];
        const auto station = [&](int n) {
            const QString name = QStringLiteral("estacion-%1").arg(n);
            try {
                const QSqlDatabase own = db::openServer(name, server);
                for (int i = 0; i < 15; ++i)
                    numbers[n] << subscribers::insert(own, fields, 1);
            } catch (const db::Error& e) {
                failures[n] << e.text();
            }
            db::close(name);
        };
        std::thread a(station, 0), b(station, 1);
        a.join();
        b.join();
        QVERIFY2(failures[0].isEmpty() && failures[1].isEmpty(), qPrintable((failures[0] + failures[1]).join("; ")));
        const QList<int> all = numbers[0] + numbers[1];
        QCOMPARE(QSet<int>(all.begin(), all.end()).size(), 30);
        QCOMPARE(count("SELECT count(*) FROM abonados"), 30);
        QCOMPARE(count("SELECT count(DISTINCT id_abonado) FROM abonados_valores"), 30);

        // The same new code saved at two stations at once: the later save
        // waits for the earlier one, finds its code and asks.
        QVariantList twin = fields;
        twin[0] = "0777";
        QSqlDatabase first = db::openAnother("primera", c());
        db::exec(first, "BEGIN");
        db::lockNewKeys(first, "abonados");
        db::exec(first, "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, "
                        "numero, localidad, id_provincia, tel_1) VALUES (900, '0777', 1, 1, 'A', 'B', 'C', '1', 'D', 1, '1')");
        int asked = 0;
        QString failure;
        std::thread second([&] {
            try {
                const QSqlDatabase own = db::openServer("segunda", server);
                subscribers::insert(own, twin, 1, subscribers::CodeCheck{});
            } catch (const subscribers::CodeTaken& e) {
                asked = e.other().abonado;
            } catch (const db::Error& e) {
                failure = e.text();
            }
            db::close("segunda");
        });
        const bool waited = waitFor([&] { return count("SELECT count(*) FROM pg_locks WHERE NOT granted AND database = "
                                                            "(SELECT oid FROM pg_database WHERE datname = current_database())") > 0; });
        db::exec(first, "COMMIT");
        second.join();
        QVERIFY(waited);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(asked, 900);
        QCOMPARE(count("SELECT count(*) FROM abonados WHERE codigo = '0777'"), 1);
        first = QSqlDatabase();
        db::close("primera");
    }

    // A subscriber held by one station's session is refused to the others,
    // who see who holds it, until that session ends, even without a goodbye.
    void subscriberLocksEndWithTheSession()
    {
        if (!testOnServer()) {
            TestStation st;
            QVERIFY(locks::acquire(c(), 1, "ANA", "OFICINA"));
            QVERIFY(!locks::heldByOther(c(), 1));
            return;
        }
        TestStation st;
        QSqlDatabase other = db::openAnother("otra-estacion", c());
        QVERIFY(locks::acquire(other, 1, "ANA", "TALLER"));
        QVERIFY(!locks::heldByOther(other, 1));
        // The same key held in another database of the server (a training
        // copy, another office) is no hold here.
        serverAdmin("SELECT pg_advisory_lock(16706, 1)"); // the subscriber lock's class, 0x4142
        QVERIFY(!locks::heldByOther(other, 1));
        serverAdmin("SELECT pg_advisory_unlock(16706, 1)");
        const std::optional<locks::Holder> h = locks::heldByOther(c(), 1);
        QVERIFY(h);
        QVERIFY(QRegularExpression("^En uso por ANA en TALLER desde \\d\\d:\\d\\d$").match(h->text()).hasMatch());
        QVERIFY(!locks::acquire(c(), 1, "LUIS", "OFICINA"));
        QVERIFY(locks::acquire(c(), 2, "LUIS", "OFICINA")); // another subscriber is free
        locks::release(c(), 1); // not ours: nothing happens
        QVERIFY(locks::heldByOther(c(), 1));

        // The other station dies: its row stays, its lock does not.
        const int pid = db::scalar(other, "SELECT pg_backend_pid()").toInt();
        db::exec(c(), "SELECT pg_terminate_backend(?)", {pid});
        QVERIFY(waitFor([&] { return !locks::heldByOther(c(), 1); }));
        QVERIFY(locks::acquire(c(), 1, "LUIS", "OFICINA"));
        QCOMPARE(count("SELECT count(*) FROM bloqueos WHERE id_abonado = 1 AND operador = 'LUIS'"), 1);
        locks::release(c(), 1);
        QCOMPARE(count("SELECT count(*) FROM bloqueos"), 1);
        other = QSqlDatabase();
        db::close("otra-estacion");
    }

    // The hold rules without a server: a store that another station's holds
    // and failures can be put in.
    void holdRules()
    {
        struct FakeStore : HoldStore {
            QSet<qint32> mine, others;
            bool failing = false;
            int acquired = 0;
            bool acquire(qint32 s) override
            {
                if (failing)
                    throw db::Error("servidor caído", false, db::Fault::Lost);
                if (others.contains(s))
                    return false;
                ++acquired;
                mine.insert(s);
                return true;
            }
            void release(qint32 s) override
            {
                if (failing)
                    throw db::Error("servidor caído", false, db::Fault::Lost);
                mine.remove(s);
            }
            std::optional<locks::Holder> heldByOther(qint32 s) override
            {
                if (!others.contains(s))
                    return std::nullopt;
                return locks::Holder{"ANA", "TALLER", "2024-05-21 10:15:00"};
            }
        } store;
        SubscriberHold hold(store);

        // No subscriber: nothing to take. Taking twice asks the store once.
        QVERIFY(hold.take(0));
        QVERIFY(hold.take(5) && hold.take(5));
        QCOMPARE(store.acquired, 1);
        // The dial starts a moment after the click: an idle link before it
        // left idle keeps the hold; its return to idle ends it.
        hold.linkChanged(true);
        QCOMPARE(hold.held(), 5);
        hold.linkChanged(false);
        hold.linkChanged(true);
        QCOMPARE(hold.held(), 0);
        QVERIFY(store.mine.isEmpty());
        // A dial that did not start holds nothing; one that did keeps it.
        QVERIFY(hold.take(5));
        hold.afterDial(false);
        QCOMPARE(hold.held(), 5);
        hold.afterDial(true);
        QCOMPARE(hold.held(), 0);

        // A wait follows the subscriber on show; a dial keeps its own.
        store.others.insert(7);
        QVERIFY(!hold.take(7));
        QCOMPARE(hold.held(), 0);
        QVERIFY(hold.take(5));
        QVERIFY(hold.follow(6, false));
        QCOMPARE(hold.held(), 5);
        QVERIFY(hold.follow(6, true));
        QCOMPARE(hold.held(), 6);
        QCOMPARE(store.mine, QSet<qint32>({6}));
        hold.linkChanged(true); // the link was waiting already
        QCOMPARE(hold.held(), 0);
        QVERIFY(hold.take(5));
        QVERIFY(!hold.follow(7, true)); // held elsewhere: nothing held here
        QCOMPARE(hold.held(), 0);
        QVERIFY(store.mine.isEmpty());

        // After the server came back: taken again; still lost (tried again
        // at the next reconnection); or taken by another station meanwhile.
        QCOMPARE(hold.afterReconnect(), SubscriberHold::Reconnected::NothingHeld);
        QVERIFY(hold.take(5));
        store.failing = true;
        QCOMPARE(hold.afterReconnect(), SubscriberHold::Reconnected::StillLost);
        QCOMPARE(hold.held(), 5);
        store.failing = false;
        QCOMPARE(hold.afterReconnect(), SubscriberHold::Reconnected::Kept);
        QCOMPARE(hold.held(), 5);
        store.mine.clear(); // the server let go with the lost session
        store.others.insert(5);
        std::optional<locks::Holder> other;
        QCOMPARE(hold.afterReconnect(&other), SubscriberHold::Reconnected::TakenByOther);
        QCOMPARE(hold.held(), 0);
        QVERIFY(other && other->text() == "En uso por ANA en TALLER desde 10:15");
        // A release the store cannot make still ends the hold here.
        store.others.clear();
        QVERIFY(hold.take(8));
        store.failing = true;
        hold.release();
        QCOMPARE(hold.held(), 0);
    }

    // The section editor's save looks for another station's hold in its own
    // transaction: one taken just before refuses it and writes nothing, and
    // while a save runs nobody else can take the hold.
    void sectionSaveSeesAHoldTakenJustBefore()
    {
        TestStation st(true, true);
        QSqlQuery q = db::exec(c(), "SELECT id_seccion, id_item FROM abonados_valores WHERE id_abonado = 1 "
                                    "ORDER BY id_seccion, id_item");
        QVERIFY(db::next(q));
        const int seccion = q.value(0).toInt(), item = q.value(1).toInt();
        const values::Owner owner = values::Owner::subscriber(1, 1);
        const history::Stamp stamp{history::origin::editor(), 1};
        const auto save = [&] { return values::saveSection(c(), owner, seccion, {{item, "Z9"}}, 0, stamp); };
        if (testOnServer()) {
            QSqlDatabase other = db::openAnother("otra-estacion", c());
            QVERIFY(locks::acquire(other, 1, "ANA", "TALLER"));
            const std::optional<locks::Holder> h = save();
            QVERIFY(h && h->operador == "ANA" && h->estacion == "TALLER");
            QVERIFY(values::itemValue(c(), owner, seccion, item) != std::optional<QString>("Z9"));
            locks::release(other, 1);
            {
                db::Transaction t(c());
                QVERIFY(!locks::heldByOtherUntilCommit(c(), 1));
                QVERIFY(!locks::acquire(other, 1, "ANA", "TALLER"));
                t.commit();
            }
            QVERIFY(locks::acquire(other, 1, "ANA", "TALLER"));
            locks::release(other, 1);
            other = QSqlDatabase();
            db::close("otra-estacion");
        }
        QVERIFY(!save());
        QCOMPARE(values::itemValue(c(), owner, seccion, item), std::optional<QString>("Z9"));
    }

    // Saving over a record another station changed or removed meanwhile is
    // refused with a clear text, and changes nothing.
    void staleRecordIsNotOverwritten()
    {
        TestStation st;
        const QVariantList fields{"0001", 1, 1, "PEREZ", "ANA", "C", "1", {}, {}, "D", 1, {}, "1", {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
        const int id = subscribers::insert(c(), fields, 1);
        QVariantList mine = fields;
        mine[3] = "GOMEZ";
        const std::optional<QSqlRecord> read = subscribers::record(c(), id);
        subscribers::update(c(), id, mine, read, subscribers::CodeCheck{}); // nobody else changed it
        QCOMPARE(db::scalar(c(), "SELECT apellido FROM abonados WHERE id_abonado = ?", {id}).toString(), QString("GOMEZ"));
        // A code another subscriber has is saved only once the operator
        // said so for that subscriber.
        try {
            subscribers::insert(c(), fields, 1, subscribers::CodeCheck{});
            QFAIL("a second subscriber took the code unasked");
        } catch (const subscribers::CodeTaken& e) {
            QCOMPARE(e.other().abonado, id);
        }
        QCOMPARE(count("SELECT count(*) FROM abonados"), 1);
        const int twin = subscribers::insert(c(), fields, 1, subscribers::CodeCheck{id});
        subscribers::remove(c(), twin);

        QSqlDatabase other = db::openAnother("otra-estacion", c());
        const std::optional<QSqlRecord> before = subscribers::record(c(), id);
        db::exec(other, "UPDATE abonados SET nombre = 'LUIS' WHERE id_abonado = ?", {id});
        mine[3] = "DIAZ";
        try {
            subscribers::update(c(), id, mine, before);
            QFAIL("a changed record was overwritten");
        } catch (const subscribers::Changed& e) {
            QVERIFY(e.text().startsWith("Otra estación modificó este registro"));
        }
        QCOMPARE(db::scalar(c(), "SELECT apellido FROM abonados WHERE id_abonado = ?", {id}).toString(), QString("GOMEZ"));

        const std::optional<QSqlRecord> again = subscribers::record(c(), id);
        db::exec(other, "DELETE FROM abonados WHERE id_abonado = ?", {id});
        try {
            subscribers::update(c(), id, mine, again);
            QFAIL("a removed record was saved");
        } catch (const subscribers::Changed& e) {
            QVERIFY(e.text().startsWith("Otra estación eliminó este registro"));
        }

        // A password saved alone (one's own, or the first operator's) is
        // checked as the whole account is.
        const std::optional<users::Account> admin = users::find(c(), 1);
        db::exec(other, "UPDATE usuarios SET password = '9999' WHERE id_usuario = 1");
        try {
            db::Transaction t(c());
            users::setPassword(c(), 1, "5555", admin);
            t.commit();
            QFAIL("a changed password was overwritten");
        } catch (const db::Changed& e) {
            QVERIFY(!e.removed());
        }
        QCOMPARE(db::scalar(c(), "SELECT password FROM usuarios WHERE id_usuario = 1").toString(), QString("9999"));
        other = QSqlDatabase();
        db::close("otra-estacion");
    }

    void caseFoldingCoversSpanishLetters()
    {
        QCOMPARE(db::fold("peña"), db::fold("PEÑA"));
        QCOMPARE(db::fold("Ángel"), db::fold("ÁNGEL"));
        QVERIFY(db::fold("ANGEL") != db::fold("ÁNGEL"));
    }
};

QTEST_GUILESS_MAIN(tst_store)
#include "tst_store.moc"
