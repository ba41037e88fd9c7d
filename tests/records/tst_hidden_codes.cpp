// Every window and report that shows programming values, walked as an
// operator without "Ver códigos" and as one with it: the codes of the secret
// sections (the access code and the user codes) never reach the first, on
// screen or on paper, while the second sees them in each place. Checking the
// second too keeps the walk honest: a place that shows nothing at all would
// otherwise pass as hiding.

#include "common/testsupport.h"

#include "app/w_main.h"
#include "console/w_comparar.h"
#include "data/db.h"
#include "data/history_store.h"
#include "data/value_store.h"
#include "records/editor_context.h"
#include "records/w_historial.h"
#include "records/w_seccion.h"
#include "reports/ui_reportes.h"
#include "reports/w_reporte.h"
#include "session/mdl_main.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

namespace {

// Distinctive values no caption, date or other value of the demo holds.
const QString kAccessCode = QStringLiteral("A7C9");
const QString kUserCode = QStringLiteral("B8D3");
constexpr int kAccessSection = 40, kUserSection = 31, kPlainSection = 27;

// Every text the widget and its children show: labels, fields, list entries
// and every cell of every view.
QStringList shownTexts(const QWidget* w)
{
    QStringList out;
    for (const QLabel* l : w->findChildren<QLabel*>())
        out << l->text();
    for (const QLineEdit* e : w->findChildren<QLineEdit*>())
        out << e->text();
    for (const QComboBox* b : w->findChildren<QComboBox*>())
        for (int i = 0; i < b->count(); ++i)
            out << b->itemText(i);
    for (const QAbstractItemView* v : w->findChildren<QAbstractItemView*>()) {
        const QAbstractItemModel* m = v->model();
        for (int r = 0; m && r < m->rowCount(); ++r)
            for (int col = 0; col < m->columnCount(); ++col)
                out << m->index(r, col).data().toString() << m->index(r, col).data(Qt::ToolTipRole).toString();
    }
    return out;
}

QStringList shownTexts(const reports::Document& doc)
{
    QStringList out;
    for (const reports::Page& p : doc.pages)
        for (const reports::PlacedText& t : p.texts)
            out << t.text;
    return out;
}

int codesIn(const QStringList& texts)
{
    int n = 0;
    for (const QString& t : texts)
        n += t.count(kAccessCode) + t.count(kUserCode);
    return n;
}

struct Frame : w_main {
    explicit Frame(TestStation& st) : w_main(st.ctx, st.trans)
    {
        endProgram = [](int) {};
        resize(1400, 1000);
        show();
    }
};

} // namespace

class tst_hidden_codes : public QObject {
    Q_OBJECT

    static QSqlDatabase c() { return stationDb(); }

private slots:
    void everyPlaceHidesTheCodesWithoutTheRight_data()
    {
        QTest::addColumn<bool>("seesCodes");
        QTest::newRow("sin ver códigos") << false;
        QTest::newRow("con ver códigos") << true;
    }

    void everyPlaceHidesTheCodesWithoutTheRight()
    {
        QFETCH(bool, seesCodes);
        TestStation st(true, true);
        Frame frame(st);
        const int panel = db::scalar(c(), "SELECT id_panel FROM abonados WHERE id_abonado = 1").toInt();
        const int config = db::scalar(c(), "SELECT id_configuracion FROM abonados WHERE id_abonado = 1").toInt();
        QCOMPARE(db::scalar(c(), "SELECT id_seccionpwd FROM paneles WHERE id_panel = ?", {panel}).toInt(), kAccessSection);
        // The codes are changed by the editor, so the history holds them too.
        const history::Stamp stamp{history::origin::editor(), 1, db::nowText()};
        for (const values::Owner& o : {values::Owner::subscriber(1, panel), values::Owner::templ(config, panel)}) {
            db::Transaction t(c());
            QVERIFY(values::writeItemValue(c(), o, kAccessSection, 1, kAccessCode, stamp));
            QVERIFY(values::writeItemValue(c(), o, kUserSection, 1, kUserCode, stamp));
            t.commit();
        }
        permissions::Rights rights = permissions::levelRights(1);
        if (!seesCodes)
            rights &= ~permissions::bit(permissions::Right::VerCodigos);
        st.main.logIn(1, 1, rights);

        QStringList failures;
        const auto check = [&](const QString& place, const QStringList& texts) {
            if ((codesIn(texts) > 0) != seesCodes)
                failures << place;
        };

        // The section editor, of the subscriber and of its template.
        for (int section : {kAccessSection, kUserSection}) {
            for (bool ofSubscriber : {true, false}) {
                st.editor = ofSubscriber ? EditorContext::forSubscriber(1, panel, section, config, 0)
                                         : EditorContext::forTemplate(panel, config, section, 0);
                w_seccion w(st.ctx);
                check(QStringLiteral("editor %1 %2").arg(ofSubscriber ? "abonado" : "plantilla").arg(section),
                      shownTexts(&w));
            }
        }

        // The history windows, and what they print.
        for (bool ofSubscriber : {true, false}) {
            w_historial* h = ofSubscriber ? w_historial::abrirAbonado(st.ctx, 1)
                                          : w_historial::abrirConfiguracion(st.ctx, config, panel);
            QVERIFY(h);
            check(QStringLiteral("historial %1").arg(ofSubscriber), shownTexts(h));
            h->cb_imprimir->trigger();
            const auto* printed = frame.findChild<w_reporte*>(QStringLiteral("dr_historial"));
            QVERIFY(printed);
            check(QStringLiteral("historial impreso %1").arg(ofSubscriber), shownTexts(printed->document()));
            delete h;
        }

        // The comparison with the panel, and its printout.
        QList<ComparisonRow> rows;
        for (const auto& [section, code] : {std::pair{kAccessSection, kAccessCode}, std::pair{kUserSection, kUserCode}})
            rows.append({section, QStringLiteral("Código"), code, code + QStringLiteral(" 1"), {{1, code}}, true});
        rows.append({kPlainSection, QStringLiteral("Número"), QStringLiteral("1234"), QStringLiteral("4321"), {}, true});
        w_comparar cmp(st.ctx, values::Owner::subscriber(1, panel), QStringLiteral("1"), rows);
        check(QStringLiteral("comparar"), shownTexts(&cmp));
        QVERIFY(shownTexts(&cmp).contains(QStringLiteral("4321"))); // other sections as ever
        cmp.cb_imprimir->trigger();
        const auto* diff = frame.findChild<w_reporte*>(QStringLiteral("dr_diferencias"));
        QVERIFY(diff);
        check(QStringLiteral("diferencias impreso"), shownTexts(diff->document()));

        // The programming reports of the subscriber and of the template.
        const w_reporte* programming = reports::showPanelReport(st.ctx, 1, panel, config);
        QVERIFY(programming);
        check(QStringLiteral("reporte de panel"), shownTexts(programming->document()));
        const w_reporte* templ = reports::showTemplateReport(st.ctx, panel, config);
        QVERIFY(templ);
        check(QStringLiteral("reporte de plantilla"), shownTexts(templ->document()));

        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
    }
};

QTEST_MAIN(tst_hidden_codes)
#include "tst_hidden_codes.moc"
