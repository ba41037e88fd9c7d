// The history window: what it lists for a subscriber, with values as the
// editor shows them, its filters, and the printed history over many pages.

#include "testsupport.h"

#include "session/mdl_main.h"
#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/history_store.h"
#include "data/value_store.h"
#include "records/w_historial.h"
#include "reports/dr_layouts.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QTableWidget>
#include <QtTest>

class tst_historial : public QObject {
    Q_OBJECT

    static QSqlDatabase c() { return stationDb(); }

    // Flips one bit value of demo subscriber 1 at `fecha` by `usuario`;
    // returns the new value.
    static QString flip(int seccion, int item, int usuario, const QString& fecha)
    {
        const values::Owner o = values::Owner::subscriber(1, 1);
        const QString valor = values::itemValue(c(), o, seccion, item) == QStringLiteral("1") ? "0" : "1";
        db::Transaction t(c());
        if (!values::writeItemValue(c(), o, seccion, item, valor, history::Stamp{history::origin::editor(), usuario, fecha}))
            return {};
        t.commit();
        return valor;
    }

    static QStringList row(const QTableWidget* g, int r)
    {
        QStringList out;
        for (int j = 0; j < g->columnCount(); ++j)
            out << (g->item(r, j) ? g->item(r, j)->text() : QString());
        return out;
    }

private slots:
    void listsFiltersAndPrints()
    {
        TestStation st(true, true);
        db::exec(c(), "DELETE FROM valores_historial"); // the demo's own seeding
        db::exec(c(), "INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (2, 'TECNICO', 'X', 2)");
        const int bits = db::scalar(c(), "SELECT min(id_seccion) FROM secciones WHERE id_panel = 1 AND tipo = 1").toInt();
        const QDate today(2024, 5, 20);
        QVERIFY(!flip(bits, 1, 1, "2024-05-19 08:00:00").isEmpty());
        const QString now = flip(bits, 2, 2, "2024-05-20 09:30:00");
        QVERIFY(!flip(bits, 3, 2, "2024-03-01 09:30:00").isEmpty()); // before the last month
        QString entry;
        for (const catalogue::ListValue& v : catalogue::valueList(c(), 1, bits))
            if (v.valor == now)
                entry = v.valor + " - " + v.descripcion;
        QVERIFY(!entry.isEmpty());

        st.main.setClock([today] { return QDateTime(today, QTime(12, 0)); });
        QList<QStringList> printed;
        st.ctx.printHistory = [&printed](StationContext&, const QString&, const QList<QStringList>& rows) {
            printed = rows;
        };
        w_historial* w = w_historial::abrirAbonado(st.ctx, 1);
        QVERIFY(w);
        QVERIFY(w->st_titular->text().startsWith("Abonado 1 ("));
        QCOMPARE(w->dp_desde->date(), QDate(2024, 4, 20));
        QCOMPARE(w->dg_historial->rowCount(), 2);
        const QStringList first = row(w->dg_historial, 0);
        QCOMPARE(first.at(0), QString("20/05/2024 09:30:00")); // newest first
        QVERIFY(first.at(1).startsWith(QStringLiteral("%1 ").arg(bits, 3, 10, QLatin1Char('0'))));
        QCOMPARE(first.at(4), entry); // as the editor's list shows it
        QCOMPARE(first.at(5), QString("editor"));
        QCOMPARE(first.at(6), QString("TECNICO"));

        // Operator and section filters; then a wider range.
        w->cbx_usuario->setCurrentIndex(w->cbx_usuario->findText("ADMINISTRADOR"));
        QCOMPARE(w->dg_historial->rowCount(), 1);
        QCOMPARE(row(w->dg_historial, 0).at(0), QString("19/05/2024 08:00:00"));
        w->cbx_usuario->setCurrentIndex(0);
        w->cbx_seccion->setCurrentIndex(w->cbx_seccion->findData(bits + 1));
        QCOMPARE(w->dg_historial->rowCount(), 0);
        w->cbx_seccion->setCurrentIndex(0);
        w->dp_desde->setDate(QDate(2024, 1, 1));
        QCOMPARE(w->dg_historial->rowCount(), 3);

        w->cb_imprimir->trigger();
        QCOMPARE(printed.size(), 3);
        QCOMPARE(printed.first(), row(w->dg_historial, 0));
        delete w;
    }

    // A long history prints over several pages, every row once, the column
    // titles on each page, its filter once.
    void longHistoryPaginates()
    {
        QList<QStringList> rows;
        for (int i = 0; i < 300; ++i)
            rows.append({"20/05/2024 09:30:00", "000 Tipos de Zona 01 a 08", QStringLiteral("fila %1").arg(i), "00",
                         "01", "panel", "ADMINISTRADOR"});
        const reports::Document doc = reports::dr_historial("Abonado 1", rows, reports::PageSetup(), QDate(2024, 5, 20));
        QVERIFY(doc.pageCount() > 2);
        int next = 0, filterLines = 0;
        for (const reports::Page& p : doc.pages) {
            bool titles = false;
            for (const reports::PlacedText& t : p.texts) {
                titles = titles || t.text == QStringLiteral("Después");
                filterLines += t.text == QStringLiteral("Abonado 1");
                if (t.text.startsWith("fila "))
                    QCOMPARE(t.text, QStringLiteral("fila %1").arg(next++));
            }
            QVERIFY(titles);
        }
        QCOMPARE(next, 300);
        QCOMPARE(filterLines, 1); // what was asked for, once, under the title
    }
};

QTEST_MAIN(tst_historial)
#include "tst_historial.moc"
