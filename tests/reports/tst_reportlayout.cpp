// Report layout: columns, bands, pagination with "Página X de Y".

#include "reports/dr_layouts.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QtTest>

using namespace reports;

namespace {

const QDate Printed(2024, 3, 15);

// Texts of a page in reading order, with their x from the left margin.
struct Seen {
    QString text;
    qreal x, y;
    TextStyle style;
};

QList<Seen> seen(const Document& doc, qsizetype page)
{
    QList<Seen> out;
    for (const PlacedText& t : doc.pages.at(page).texts)
        out.append({t.text, t.rect.left() - doc.setup.margins.left(), t.rect.top(), t.style});
    std::stable_sort(out.begin(), out.end(), [](const Seen& a, const Seen& b) { return a.y < b.y; });
    return out;
}

const Seen* find(const QList<Seen>& texts, const QString& text, qsizetype from = 0)
{
    for (qsizetype i = from; i < texts.size(); ++i)
        if (texts.at(i).text == text)
            return &texts.at(i);
    return nullptr;
}

// The texts on one line (same top), left to right, as "x:text|x:text".
QString lineAt(const QList<Seen>& texts, qreal y)
{
    QList<Seen> on;
    for (const Seen& s : texts)
        if (qFuzzyCompare(s.y, y))
            on.append(s);
    std::sort(on.begin(), on.end(), [](const Seen& a, const Seen& b) { return a.x < b.x; });
    QStringList out;
    for (const Seen& s : on)
        out.append(QStringLiteral("%1:%2").arg(s.x).arg(s.text));
    return out.join('|');
}

ProgrammingData programming(int sections, int items)
{
    ProgrammingData d;
    d.panel = "PX-16 1.0";
    d.configuracion = "CATÁLOGO";
    d.id_abonado = 7;
    d.nombre = "PÉREZ JUAN";
    d.tel_1 = "5550001";
    for (int s = 0; s < sections; ++s) {
        SectionRow row{s, QStringLiteral("Sección de prueba %1").arg(s), {}};
        for (int i = 1; i <= items; ++i)
            row.items.append({i, QStringLiteral("Item %1.%2").arg(s).arg(i), QStringLiteral("%1").arg(i, 2, 16, QLatin1Char('0')),
                              i % 3 == 1 ? "Subir" : i % 3 == 2 ? "Bajar" : ""});
        d.sections.append(row);
    }
    return d;
}

} // namespace

class tst_reportlayout : public QObject {
    Q_OBJECT

private slots:
    void panelBandsAtTheirColumns()
    {
        ProgrammingData d = programming(2, 3);
        d.sections[0].items.clear(); // a section without values
        const Document doc = dr_panel({d}, PageSetup(), Printed);
        QCOMPARE(doc.pageCount(), 1);
        const QList<Seen> t = seen(doc, 0);
        QCOMPARE(t.first().text, QStringLiteral("Reporte de Panel"));

        QCOMPARE(lineAt(t, t.at(1).y), "0:Panel:|1701:PX-16 1.0|4819:Configuración:|6236:CATÁLOGO");
        QCOMPARE(lineAt(t, t.at(5).y), "0:Abonado:|1701:7|2268:PÉREZ JUAN|4819:Teléfono:|6236:5550001");
        // With a code, number, code and name run on as one text.
        d.codigo = "0007-LARGO";
        const QList<Seen> coded = seen(dr_panel({d}, PageSetup(), Printed), 0);
        QCOMPARE(lineAt(coded, find(coded, "Abonado:")->y),
                 "0:Abonado:|1701:7 (0007-LARGO)  PÉREZ JUAN|4819:Teléfono:|6236:5550001");

        // Section 0 has no values: its header and titles, then section 1's header.
        QCOMPARE(lineAt(t, find(t, "Sección:")->y), "0:Sección:|1701:0|2268:Sección de prueba 0");
        const qsizetype titlesAt = find(t, "Item") - t.constData();
        QCOMPARE(lineAt(t, t.at(titlesAt).y), "567:Item|2268:Descripción|6236:Valor|7937:Estado");
        QCOMPARE(t.at(titlesAt + 4).text, QStringLiteral("Sección:"));

        // Section 1: the marks print as words under "Estado"; nothing for 0.
        const qsizetype detailAt = titlesAt + 4 + 3 + 4;
        QCOMPARE(lineAt(t, t.at(detailAt).y), "567:1|2268:Item 1.1|6236:01|7937:Subir");
        QCOMPARE(lineAt(t, t.at(detailAt + 4).y), "567:2|2268:Item 1.2|6236:02|7937:Bajar");
        QCOMPARE(lineAt(t, t.at(detailAt + 8).y), "567:3|2268:Item 1.3|6236:03|7937:");

        // A rule after each section, then the report footer's.
        QCOMPARE(doc.pages.first().lines.size(), 3);
        QCOMPARE(t.at(detailAt + 12).text, QStringLiteral("Fin del Reporte"));

        // The template report has no subscriber line.
        const Document tpl = dr_configuracion({d}, PageSetup(), Printed);
        const QList<Seen> tt = seen(tpl, 0);
        QCOMPARE(tt.first().text, QStringLiteral("Reporte de Configuración"));
        QCOMPARE(lineAt(tt, tt.at(1).y), "0:Panel:|1701:PX-16 1.0|4819:Configuración:|6236:CATÁLOGO");
        QCOMPARE(tt.at(5).text, QStringLiteral("Sección:"));
    }

    void listColumnsAndWrapping()
    {
        SubscriberRow r{12, "C-12", "GONZÁLEZ FERNÁNDEZ DE LA TORRE", "MARÍA", "MITRE", "1234", "SAN ISIDRO",
                        "SALTA", "011-4444-5555"};
        SubscriberRow next{13, "", "PAZ", "ANA", "SUR", "1", "TIGRE", "SALTA", "1"};
        const Document doc = dr_abonados({r, next}, PageSetup(), Printed);
        const QList<Seen> t = seen(doc, 0);
        QCOMPARE(lineAt(t, find(t, "ID")->y), "0:ID|1134:Apellido|2268:Nombre|3969:Calle|5102:Número|6236:Localidad|"
                                              "7937:Provincia|9071:Teléfono");
        // The number with the code beside it; a surname wider than its column
        // wraps inside it, whole, and the next row starts below its last line.
        const Seen* first = find(t, "12 (C-12)");
        QVERIFY(first);
        QStringList surname;
        qreal last = 0;
        for (const Seen& s : t)
            if (s.x == 1134 && s.y >= first->y && s.style == TextStyle::Small && s.text != "PAZ") {
                surname << s.text;
                QVERIFY(QFontMetricsF(fontFor(TextStyle::Small)).horizontalAdvance(s.text) < 2268 - 1134);
                last = s.y;
            }
        QVERIFY(surname.size() >= 2);
        QCOMPARE(surname.join(' '), QString("GONZÁLEZ FERNÁNDEZ DE LA TORRE"));
        QCOMPARE(lineAt(t, first->y), QStringLiteral("0:12 (C-12)|1134:%1|2268:MARÍA|3969:MITRE|5102:1234|"
                                                     "6236:SAN ISIDRO|7937:SALTA|9071:011-4444-5555").arg(surname.first()));
        QCOMPARE(find(t, "13")->y, last + lineHeight(TextStyle::Small));

        // A word wider than its column is cut, and only there, with a hyphen.
        const QString word = "DEMOSTRACIÓNDEMOSTRACIÓN";
        const Document longWord = dr_abonados({{14, "", word, "ANA", "SUR", "1", "TIGRE", "SALTA", "1"}}, PageSetup(), Printed);
        QStringList pieces;
        for (const Seen& s : seen(longWord, 0))
            if (s.x == 1134 && s.style == TextStyle::Small) {
                pieces << s.text;
                QVERIFY(QFontMetricsF(fontFor(TextStyle::Small)).horizontalAdvance(s.text) < 2268 - 1134);
            }
        QVERIFY(pieces.size() >= 2);
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            QCOMPARE(pieces.at(i).endsWith('-'), i + 1 < pieces.size());
            if (i + 1 < pieces.size())
                pieces[i].chop(1);
        }
        QCOMPARE(pieces.join(QString()), word);

        const Document log = dr_log({{"2024-05-20 10:05:00", "ADMINISTRADOR", "LLAMADA AL PANEL", "línea\nsegunda"}},
                                    PageSetup(), Printed);
        const QList<Seen> lt = seen(log, 0);
        QCOMPARE(lineAt(lt, find(lt, "Fecha")->y), "567:Fecha|2268:Usuario|4535:Operación|6236:Parámetro");
        QCOMPARE(lineAt(lt, find(lt, "ADMINISTRADOR")->y),
                 "567:20/05/2024 10:05:00|2268:ADMINISTRADOR|4535:LLAMADA AL PANEL|6236:línea segunda");
    }

    void wrappedRowsStayWholeOnTheirPage()
    {
        // Rows of several lines each over several pages: no page starts or
        // ends in the middle of one.
        ProgrammingData d = programming(1, 0);
        const QString words = "palabra larga que no cabe en una sola línea de la columna de descripción, "
                              "ni siquiera en dos líneas, de modo que ocupa tres";
        for (int i = 1; i <= 150; ++i)
            d.sections[0].items.append({i, QStringLiteral("fila%1 %2").arg(i).arg(words), "FF", ""});
        const Document doc = dr_configuracion({d}, PageSetup(), Printed);
        QVERIFY(doc.pageCount() > 2);
        int rows = 0;
        for (qsizetype p = 0; p < doc.pageCount(); ++p) {
            QStringList row;
            for (const Seen& s : seen(doc, p)) {
                if (s.x != 2268 || s.style != TextStyle::Field || s.text.startsWith("Sección de prueba"))
                    continue;
                if (s.text.startsWith(QStringLiteral("fila%1 ").arg(rows + 1))) {
                    QVERIFY(row.isEmpty() || row.join(' ') == QStringLiteral("fila%1 %2").arg(rows).arg(words));
                    row.clear();
                    ++rows;
                }
                QVERIFY2(rows > 0, qPrintable(QStringLiteral("página %1 empieza con \"%2\"").arg(p + 1).arg(s.text)));
                row << s.text;
            }
            QVERIFY(row.size() > 2);
            QCOMPARE(row.join(' '), QStringLiteral("fila%1 %2").arg(rows).arg(words));
        }
        QCOMPARE(rows, 150);
    }

    void paginatesWithPageNumbers()
    {
        QList<LogRow> rows;
        for (int i = 0; i < 400; ++i)
            rows.append({QDateTime(QDate(2024, 1, 1), QTime(0, 0)).addSecs(60 * i).toString("yyyy-MM-dd HH:mm:ss"),
                         "ADMINISTRADOR", "OPERACIÓN", QStringLiteral("fila %1").arg(i)});
        const Document doc = dr_log(rows, PageSetup(), Printed);
        const qsizetype n = doc.pageCount();
        QVERIFY(n > 3);

        qsizetype next = 0;
        for (qsizetype p = 0; p < n; ++p) {
            const QList<Seen> t = seen(doc, p);
            const Seen* footer = find(t, QStringLiteral("Página %1 de %2").arg(p + 1).arg(n));
            QVERIFY2(footer, qPrintable(QString::number(p)));
            QVERIFY(footer->y > doc.setup.paper.height() - 1440);
            const Seen* date = find(t, "15/03/2024");
            QVERIFY(date && date->x == 0 && qFuzzyCompare(date->y, footer->y));
            QCOMPARE(bool(find(t, "Reporte de Log")), p == 0);
            QCOMPARE(bool(find(t, "Fin del Reporte")), p == n - 1);
            QVERIFY(find(t, "Fecha") && find(t, "Parámetro"));
            // Rows follow on without loss or repetition, clear of the footer.
            for (const Seen& s : t) {
                if (!s.text.startsWith("fila "))
                    continue;
                QCOMPARE(s.text, QStringLiteral("fila %1").arg(next++));
                QVERIFY(s.y + lineHeight(TextStyle::Small) < footer->y);
            }
        }
        QCOMPARE(next, rows.size());

        // A paper asked for by a printer keeps our margins at the least.
        const PageSetup fromPrinter = PageSetup::fromPageLayout(
            QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(), QPageLayout::Point, QMarginsF(36, 54, 36, 54)));
        QCOMPARE(fromPrinter.paper, QSizeF(12240, 15840));
        QCOMPARE(fromPrinter.margins, QMarginsF(720, 1080, 720, 1080));
    }

    void sectionHeadersStayWithTheirItems()
    {
        const Document doc = dr_panel({programming(30, 7)}, PageSetup(), Printed);
        QVERIFY(doc.pageCount() > 1);
        int sections = 0;
        for (qsizetype p = 0; p < doc.pageCount(); ++p) {
            const QList<Seen> t = seen(doc, p);
            for (qsizetype i = 0; i < t.size(); ++i) {
                if (t.at(i).text != "Sección:")
                    continue;
                ++sections;
                // Header line (3 texts), titles (4), then the first item on this page.
                QVERIFY2(i + 7 < t.size() && t.at(i + 7).text == "1",
                         qPrintable(QStringLiteral("página %1").arg(p + 1)));
            }
        }
        QCOMPARE(sections, 30);
    }
};

QTEST_MAIN(tst_reportlayout)
#include "tst_reportlayout.moc"
