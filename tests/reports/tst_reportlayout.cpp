// Report layout: columns, bands, pagination with "Página X de Y", PDF output.

#include "reports/dr_layouts.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QRegularExpression>
#include <QTemporaryDir>
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

// Texts on one line (same top), left to right.
QList<Seen> lineAt(const QList<Seen>& texts, qreal y)
{
    QList<Seen> out;
    for (const Seen& s : texts)
        if (qFuzzyCompare(s.y, y))
            out.append(s);
    std::sort(out.begin(), out.end(), [](const Seen& a, const Seen& b) { return a.x < b.x; });
    return out;
}

QList<qreal> xs(const QList<Seen>& line)
{
    QList<qreal> out;
    for (const Seen& s : line)
        out.append(s.x);
    return out;
}

QStringList textsOf(const QList<Seen>& line)
{
    QStringList out;
    for (const Seen& s : line)
        out.append(s.text);
    return out;
}

int pdfPages(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    return int(QString::fromLatin1(f.readAll()).count(page));
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
        QCOMPARE(doc.title, QStringLiteral("Reporte de Panel"));
        QCOMPARE(doc.pageCount(), 1);
        const QList<Seen> t = seen(doc, 0);
        QCOMPARE(t.first().text, QStringLiteral("Reporte de Panel"));

        const Seen* panel = find(t, "Panel:");
        QVERIFY(panel);
        QCOMPARE(textsOf(lineAt(t, panel->y)), QStringList({"Panel:", "PX-16 1.0", "Configuración:", "CATÁLOGO"}));
        QCOMPARE(xs(lineAt(t, panel->y)).mid(1), QList<qreal>({1701, 4819, 6236}));
        const Seen* abonado = find(t, "Abonado:");
        QVERIFY(abonado && abonado->y > panel->y);
        QCOMPARE(textsOf(lineAt(t, abonado->y)), QStringList({"Abonado:", "7", "PÉREZ JUAN", "Teléfono:", "5550001"}));
        QCOMPARE(xs(lineAt(t, abonado->y)).mid(1), QList<qreal>({1701, 2268, 4819, 6236}));

        // Section 0 has no values: its header and titles, then straight to section 1.
        const Seen* s0 = find(t, "Sección:");
        QCOMPARE(textsOf(lineAt(t, s0->y)), QStringList({"Sección:", "0", "Sección de prueba 0"}));
        QCOMPARE(xs(lineAt(t, s0->y)), QList<qreal>({0, 1701, 2268}));
        const qsizetype titlesAt = find(t, "Item") - t.constData();
        QCOMPARE(textsOf(lineAt(t, t.at(titlesAt).y)), QStringList({"Item", "Descripción", "Valor", "Estado"}));
        QCOMPARE(xs(lineAt(t, t.at(titlesAt).y)), QList<qreal>({567, 2268, 6236, 7937}));
        const Seen* s1 = find(t, "Sección:", titlesAt);
        QVERIFY(s1);
        const qsizetype s1At = s1 - t.constData();
        for (qsizetype i = titlesAt; i < s1At; ++i)
            QVERIFY2(t.at(i).style == TextStyle::Label, qPrintable(t.at(i).text));

        // Section 1: the marks print as words under "Estado"; nothing for 0.
        const qsizetype detailAt = find(t, "Item", s1At) - t.constData() + 4;
        const QList<Seen> first = lineAt(t, t.at(detailAt).y);
        QCOMPARE(textsOf(first), QStringList({"1", "Item 1.1", "01", "Subir"}));
        QCOMPARE(xs(first), QList<qreal>({567, 2268, 6236, 7937}));
        QCOMPARE(textsOf(lineAt(t, t.at(detailAt + 4).y)).last(), QStringLiteral("Bajar"));
        QCOMPARE(textsOf(lineAt(t, t.at(detailAt + 8).y)), QStringList({"3", "Item 1.3", "03", ""}));

        // A rule after each section, then the report footer's.
        QCOMPARE(doc.pages.first().lines.size(), 3);
        const Seen* end = find(t, "Fin del Reporte");
        QVERIFY(end && end->y > t.at(detailAt + 8).y);

        // The template report has no subscriber line.
        const Document tpl = dr_configuracion({d}, PageSetup(), Printed);
        const QList<Seen> tt = seen(tpl, 0);
        QCOMPARE(tt.first().text, QStringLiteral("Reporte de Configuración"));
        QVERIFY(find(tt, "Panel:") && find(tt, "Configuración:"));
        QVERIFY(!find(tt, "Abonado:") && !find(tt, "Teléfono:") && !find(tt, "PÉREZ JUAN"));
    }

    void listColumnsAndClipping()
    {
        SubscriberRow r{12, "GONZÁLEZ FERNÁNDEZ DE LA TORRE", "MARÍA", "AV. LIBERTADOR", "1234", "SAN ISIDRO",
                        "BUENOS AIRES", "011-4444-5555"};
        const Document doc = dr_abonados({r}, PageSetup(), Printed);
        const QList<Seen> t = seen(doc, 0);
        const Seen* id = find(t, "ID");
        QCOMPARE(textsOf(lineAt(t, id->y)),
                 QStringList({"ID", "Apellido", "Nombre", "Calle", "Número", "Localidad", "Provincia", "Teléfono"}));
        const QList<qreal> columns({0, 1134, 2268, 3969, 5102, 6236, 7937, 9071});
        QCOMPARE(xs(lineAt(t, id->y)), columns);
        const Seen* row = find(t, "12");
        QCOMPARE(xs(lineAt(t, row->y)), columns);
        // A surname wider than its column is cut short, never into "Nombre".
        const QString surname = lineAt(t, row->y).at(1).text;
        QVERIFY(surname.endsWith(QChar(0x2026)));
        QVERIFY(surname.size() > 3);
        QVERIFY(QFontMetricsF(fontFor(TextStyle::Small)).horizontalAdvance(surname) < 2268 - 1134);

        const Document log = dr_log({{"2024-05-20 10:05:00", "ADMINISTRADOR", "LLAMADA AL PANEL", "línea\nsegunda"}},
                                    PageSetup(), Printed);
        const QList<Seen> lt = seen(log, 0);
        const Seen* fecha = find(lt, "Fecha");
        QCOMPARE(textsOf(lineAt(lt, fecha->y)), QStringList({"Fecha", "Usuario", "Operación", "Parámetro"}));
        QCOMPARE(xs(lineAt(lt, fecha->y)), QList<qreal>({567, 2268, 4535, 6236}));
        const Seen* when = find(lt, "20/05/2024 10:05:00");
        QVERIFY(when);
        QCOMPARE(textsOf(lineAt(lt, when->y)),
                 QStringList({"20/05/2024 10:05:00", "ADMINISTRADOR", "LLAMADA AL PANEL", "línea segunda"}));
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

        // The same report on a shorter paper takes more pages, footers at its foot.
        PageSetup letter;
        letter.paper = QSizeF(12240, 15840);
        const Document shorter = dr_log(rows, letter, Printed);
        QVERIFY(shorter.pageCount() >= n);
        QVERIFY(find(seen(shorter, 0), QStringLiteral("Página 1 de %1").arg(shorter.pageCount()))->y < 15840 - 720);

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

    void pdfHasOnePagePerLaidOutPage()
    {
        QTemporaryDir dir;
        QList<SubscriberRow> rows;
        for (int i = 1; i <= 150; ++i)
            rows.append({i, "APELLIDO", "NOMBRE", "CALLE", QString::number(i), "LOCALIDAD", "PROVINCIA", "555"});
        const Document many = dr_abonados(rows, PageSetup(), Printed);
        QVERIFY(many.pageCount() >= 2);
        const QString file = dir.filePath("abonados.pdf");
        QVERIFY(writePdf(many, file));
        QCOMPARE(pdfPages(file), int(many.pageCount()));

        const QString one = dir.filePath("vacio.pdf");
        QVERIFY(writePdf(dr_log({}, PageSetup(), Printed), one));
        QCOMPARE(pdfPages(one), 1);

        QVERIFY(!writePdf(many, dir.filePath("no/existe/x.pdf")));
    }
};

QTEST_MAIN(tst_reportlayout)
#include "tst_reportlayout.moc"
