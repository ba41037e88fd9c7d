// Moving a station's file to a server: every table reads back equal, the
// numbering of events goes on after the copied ones, and a target that has
// tables is refused untouched.

#include "testsupport.h"

#include "data/copy_store.h"
#include "data/db.h"
#include "data/seed.h"
#include "data/station_db.h"

#include <QtTest>

class tst_dbcopy : public QObject {
    Q_OBJECT

    // Every row of `table` in a fixed order, as text.
    static QStringList rowsOf(const QSqlDatabase& c, const QString& table)
    {
        const QStringList columns = db::columnNames(c, table);
        QStringList order;
        for (int i = 1; i <= columns.size(); ++i)
            order << QString::number(i);
        QSqlQuery q = db::exec(c, QStringLiteral("SELECT * FROM %1 ORDER BY %2").arg(table, order.join(", ")));
        QStringList rows;
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < columns.size(); ++i)
                cells << (q.value(i).isNull()                                  ? QStringLiteral("<null>")
                          : q.value(i).typeId() == QMetaType::QByteArray ? QString::fromLatin1(q.value(i).toByteArray().toHex())
                                                                          : q.value(i).toString());
            rows << cells.join('|');
        }
        return rows;
    }

private slots:
    void copiesEveryTableAndRefusesATargetWithTables()
    {
        if (!testOnServer())
            QSKIP("the copy goes to a server");
        TestStation st(false);
        const QString file = st.path("sorvent20.mdb");
        seed::createStationDatabase(file, true);
        QSqlDatabase source = db::open("origen", file);
        db::exec(source, "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, fecha, id_tipo) "
                         "VALUES (1, 1, 4, 2, '2024-05-01 10:00:00', 0)");
        db::exec(source, "INSERT INTO usuarios_operaciones (id_usuario, id_operacion, parametro) VALUES (1, 3, 'Ñ''x')");
        db::exec(source, "UPDATE abonados SET piso = NULL, observaciones = 'O''BRIEN ÑANDÚ' WHERE id_abonado = 2");
        // Controls stored by an older station: dropped, but the notes keep their lines.
        db::exec(source, "UPDATE abonados SET apellido = 'DEMO' || char(27) || 'S' || char(8238) || 'TRACIÓN' || char(127), "
                         "observaciones = 'UNO' || char(13) || char(10) || 'DOS' || char(7) WHERE id_abonado = 1");
        db::exec(source, "INSERT INTO abonados_imagen (id_abonado, fecha, memoria, conocida) VALUES (1, '2024-05-01 10:00:00', ?, ?)",
                 {QByteArray("\x00\xff\x27\x5c", 4), QByteArray(5001, '\x01')});
        QVERIFY(db::scalar(source, "SELECT count(*) FROM valores_historial").toInt() > 0); // the demo subscribers' seeding

        const QString target = QStringLiteral("sorvent_copia_%1").arg(QCoreApplication::applicationPid());
        serverAdmin(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(target));
        serverAdmin(QStringLiteral("CREATE DATABASE %1").arg(target));
        db::Server s;
        s.dbname = target;
        {
            const QSqlDatabase c = db::openServer("destino", s);
            QStringList progress;
            const QList<copy_store::TableCount> counts =
                copy_store::copyStation(source, c, [&](const QString& t, qint64 done, qint64 total) {
                    if (done == total)
                        progress << t;
                });
            // Every table the station keeps in a file.
            QStringList copied;
            for (const copy_store::TableCount& t : counts)
                copied << t.table;
            QStringList all = db::tableNames(source).filter(QRegularExpression("^(?!sqlite_)")); // not SQLite's own
            copied.sort();
            all.sort();
            QCOMPARE(copied, all);
            QCOMPARE(progress.size(), counts.size());
            QCOMPARE(db::scalar(c, "SELECT apellido || '/' || observaciones FROM abonados WHERE id_abonado = 1").toString(),
                     QString("DEMOSTRACIÓN/UNO\nDOS"));
            db::exec(source, "UPDATE abonados SET apellido = 'DEMOSTRACIÓN', observaciones = 'UNO' || char(10) || 'DOS' "
                             "WHERE id_abonado = 1");
            for (const copy_store::TableCount& t : counts) {
                QCOMPARE(rowsOf(c, t.table), rowsOf(source, t.table));
                QCOMPARE(t.target, t.source);
            }
            QVERIFY(db::scalar(c, "SELECT count(*) FROM secciones_items").toInt() > 200);
            // A new event is numbered after the copied ones.
            const qint64 last = db::scalar(c, "SELECT max(orden) FROM abonados_eventos").toLongLong();
            db::exec(c, "INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) VALUES (1, 1, 4, 2, 0)");
            QCOMPARE(db::scalar(c, "SELECT max(orden) FROM abonados_eventos").toLongLong(), last + 1);
            // The copy is a station database as the server start-up expects.
            db::prepareServer(c);

            // Copying again is refused, and nothing changes.
            const qint64 rows = db::scalar(c, "SELECT count(*) FROM abonados_eventos").toLongLong();
            QVERIFY_THROWS_EXCEPTION(db::Error, copy_store::copyStation(source, c));
            QCOMPARE(db::scalar(c, "SELECT count(*) FROM abonados_eventos").toLongLong(), rows);
        }
        source = QSqlDatabase();
        db::close("destino");
        db::close("origen");
        serverAdmin(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(target));
    }
};

QTEST_GUILESS_MAIN(tst_dbcopy)
#include "tst_dbcopy.moc"
