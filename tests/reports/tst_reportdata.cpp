// Report commands: what each report's data holds, read on the report connection.

#include "session/mdl_main.h"
#include "data/db.h"
#include "reports/de_reportes.h"
#include "common/testsupport.h"

#include <QtTest>

using namespace reports;

class tst_reportdata : public QObject {
    Q_OBJECT

    static const SectionRow* section(const QList<ProgrammingData>& data, int id)
    {
        if (data.isEmpty())
            return nullptr;
        for (const SectionRow& s : data.first().sections)
            if (s.id_seccion == id)
                return &s;
        return nullptr;
    }

private slots:
    void panelHoldsParentSectionsAndMarkedValues()
    {
        TestStation st(true, true);
        db::exec(st.main.db(), "UPDATE abonados_valores SET id_estado = CASE id_item WHEN 1 THEN 1 WHEN 2 THEN -1 ELSE 0 END, "
                         "valor = CASE WHEN id_item = 3 THEN 'A''B' ELSE valor END WHERE id_abonado = 1 AND id_seccion = 0");
        db::exec(st.main.db(), "DELETE FROM abonados_valores WHERE id_abonado = 1 AND id_seccion = 1");
        // The other subscriber's marks must not leak in.
        db::exec(st.main.db(), "UPDATE abonados_valores SET id_estado = 1 WHERE id_abonado = 2");

        st.reports.panel.open(st.reports.connection(), 1, 1, 1);
        const QList<ProgrammingData>& data = st.reports.panel.result();
        QCOMPARE(data.size(), 1);
        const ProgrammingData& d = data.first();
        QCOMPARE(QStringList({d.panel, d.configuracion, QString::number(d.id_abonado), d.codigo, d.nombre, d.tel_1}),
                 QStringList({"PX-16 1.0", "CONFIGURACIÓN DE FÁBRICA", "1", "0001", "DEMOSTRACIÓN PANEL PX", "5550001"}));

        // Every section of the model, in order, on the report connection.
        QCOMPARE(d.sections.size(), db::scalar(st.main.db(), "SELECT COUNT(*) FROM secciones WHERE id_panel = 1").toInt());
        for (qsizetype i = 1; i < d.sections.size(); ++i)
            QVERIFY(d.sections.at(i - 1).id_seccion < d.sections.at(i).id_seccion);

        const SectionRow* zones = section(data, 0);
        QVERIFY(zones);
        QCOMPARE(zones->items.size(), 8);
        QCOMPARE(zones->items.at(0).id_item, 1);
        QCOMPARE(zones->items.at(0).descripcion, QStringLiteral("Zona 01"));
        QCOMPARE(QStringList({zones->items.at(0).estado, zones->items.at(1).estado, zones->items.at(2).estado}),
                 QStringList({"Subir", "Bajar", ""}));
        QCOMPARE(zones->items.at(2).valor, QStringLiteral("A'B"));
        // A section without values is still listed.
        QVERIFY(section(data, 1) && section(data, 1)->items.isEmpty());
        QVERIFY(st.main.reportDb().isOpen());

        // An unknown subscriber, or one asked for with another model than its
        // own, gives no rows (and replaces the previous result).
        st.reports.panel.open(st.reports.connection(), 99, 1, 1);
        QVERIFY(st.reports.panel.isOpen() && st.reports.panel.result().isEmpty());
        st.reports.panel.open(st.reports.connection(), 1, 2, 1);
        QVERIFY(st.reports.panel.result().isEmpty());
    }

    void templateValuesOfOneModel()
    {
        TestStation st(true, false);
        db::exec(st.main.db(), "INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (2, 'OFICINAS')");
        db::exec(st.main.db(), "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
                         "SELECT 2, id_panel, id_seccion, id_item, valor, -1 FROM configuraciones_valores WHERE id_configuracion = 1");
        db::exec(st.main.db(), "UPDATE configuraciones_valores SET id_estado = 1 WHERE id_configuracion = 2 AND id_panel = 2 AND id_seccion = 1 AND id_item = 2");

        st.reports.configuracion.open(st.reports.connection(), 2, 2);
        const QList<ProgrammingData>& data = st.reports.configuracion.result();
        QCOMPARE(data.size(), 1);
        QCOMPARE(data.first().panel, QStringLiteral("NX-16 2.3"));
        QCOMPARE(data.first().configuracion, QStringLiteral("OFICINAS"));
        int values = 0;
        for (const SectionRow& s : data.first().sections)
            values += int(s.items.size());
        QCOMPARE(values, db::scalar(st.main.db(), "SELECT COUNT(*) FROM configuraciones_valores WHERE id_configuracion = 2 AND id_panel = 2").toInt());
        const SectionRow* s1 = section(data, 1);
        QCOMPARE(s1->items.at(0).estado, QStringLiteral("Bajar"));
        QCOMPARE(s1->items.at(1).estado, QStringLiteral("Subir"));
    }

    void subscriberWithoutProvinceIsLeftOut()
    {
        TestStation st(true, true);
        // A row the keys would refuse, as an older database may hold.
        db::exec(st.main.db(), testOnServer() ? "ALTER TABLE abonados DROP CONSTRAINT abonados_id_provincia_fkey"
                                              : "PRAGMA foreign_keys = OFF");
        db::exec(st.main.db(), "INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, calle, numero, "
                         "localidad, id_provincia, tel_1) VALUES (3, '0003', 1, 1, 'SIN', 'PROVINCIA', 'X', '1', 'Y', 999, '1')");
        if (!testOnServer())
            db::exec(st.main.db(), "PRAGMA foreign_keys = ON");
        st.reports.abonado.open(st.reports.connection());
        const QList<SubscriberRow>& rows = st.reports.abonado.result();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(1).id_abonado, 2);
        QCOMPARE(rows.at(1).codigo, QStringLiteral("0002"));
        QCOMPARE(rows.at(0).anumero, QStringLiteral("742"));
        QCOMPARE(rows.at(0).descripcion, QStringLiteral("CÓRDOBA"));
    }

    void logInTimeOrderWithNamesAndOperations()
    {
        TestStation st(true, false);
        db::exec(st.main.db(), "INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (2, 'OPERADOR', 'x', 2)");
        const QString insert = "INSERT INTO usuarios_operaciones (id_usuario, id_operacion, parametro, fecha) VALUES (?, ?, ?, ?)";
        db::exec(st.main.db(), insert, {2, 3, "5550001", "2024-05-20 10:00:00"});
        db::exec(st.main.db(), insert, {1, 1, QVariant(), "2024-05-19 08:00:00"});
        db::exec(st.main.db(), insert, {1, 99, "sin operación", "2024-05-19 09:00:00"});
        db::exec(st.main.db(), insert, {1, 2, "'; DROP TABLE usuarios; --", "2024-05-21 00:00:00"});

        st.reports.log.open(st.reports.connection());
        const QList<LogRow>& all = st.reports.log.result();
        QCOMPARE(all.size(), 3); // operation 99 has no description row
        QCOMPARE(QStringList({all.at(0).fecha, all.at(0).usuario, all.at(0).descripcion, all.at(0).parametro}),
                 QStringList({"2024-05-19 08:00:00", "ADMINISTRADOR", "INGRESO AL SISTEMA", ""}));
        QCOMPARE(all.at(1).usuario, QStringLiteral("OPERADOR"));
        QCOMPARE(all.at(2).parametro, QStringLiteral("'; DROP TABLE usuarios; --"));

        db::exec(st.main.db(), "DROP TABLE operaciones");
        QVERIFY_THROWS_EXCEPTION(db::Error, st.reports.log.open(st.reports.connection()));
        QVERIFY(!st.reports.log.isOpen());
    }
};

QTEST_GUILESS_MAIN(tst_reportdata)
#include "tst_reportdata.moc"
