#include "reports/layout.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <cmath>

namespace reports {

namespace {

constexpr qreal TwipsPerPoint = 20;
constexpr qreal LinePadding = 40;     // between two lines of text
constexpr qreal FooterGap = 240;      // between the body and the page footer
constexpr qreal ReportFooterGap = 120;
constexpr qreal PenWidth = 15;        // 0.75 pt

struct StyleFont {
    qreal points;
    bool bold;
};

StyleFont fontOf(TextStyle s)
{
    switch (s) {
    case TextStyle::Title:
        return {14, true};
    case TextStyle::Label:
        return {9, true};
    case TextStyle::Field:
        return {9, false};
    case TextStyle::Small:
        return {8, false};
    case TextStyle::Footer:
        return {8, false};
    }
    return {9, false};
}

// Measured once per text placed (the toolkit keeps the font itself).
QFontMetricsF metricsOf(TextStyle s)
{
    return QFontMetricsF(fontFor(s));
}

qreal heightOf(const QFontMetricsF& fm)
{
    return std::ceil(fm.height()) + LinePadding;
}

QString oneLine(QString s)
{
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return s;
}

// The lines of a text set in a column `width` wide, broken between words. A
// word wider than the column is the only thing cut, and each cut ends in a
// hyphen, so that a reader sees the word goes on.
QStringList wrapped(const QString& text, const QFontMetricsF& fm, qreal width)
{
    const auto fits = [&](const QString& s) { return fm.horizontalAdvance(s) <= width; };
    QStringList lines;
    QString line;
    for (QString word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (fits(joined)) {
            line = joined;
            continue;
        }
        if (!line.isEmpty())
            lines << line;
        while (!fits(word)) {
            qsizetype n = word.size() - 1;
            while (n > 1 && !fits(word.left(n) + QLatin1Char('-')))
                --n;
            lines << word.left(n) + QLatin1Char('-');
            word = word.mid(n);
        }
        line = word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

} // namespace

QFont fontFor(TextStyle style)
{
    const StyleFont sf = fontOf(style);
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);
    // Twips as pixels: the painter scales twips to the device.
    f.setPixelSize(qRound(sf.points * TwipsPerPoint));
    f.setBold(sf.bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

qreal lineHeight(TextStyle style)
{
    return heightOf(metricsOf(style));
}

PageSetup PageSetup::fromPageLayout(const QPageLayout& layout)
{
    PageSetup s;
    QPageLayout points = layout;
    points.setUnits(QPageLayout::Point);
    s.paper = points.fullRectPoints().size() * TwipsPerPoint;
    // Never print into the area the printer cannot reach.
    const QMarginsF minimum = points.minimumMargins() * TwipsPerPoint;
    const QMarginsF own = s.margins;
    s.margins = QMarginsF(qMax(own.left(), minimum.left()), qMax(own.top(), minimum.top()),
                          qMax(own.right(), minimum.right()), qMax(own.bottom(), minimum.bottom()));
    return s;
}

Band& Band::text(qreal x, qreal width, const QString& text, TextStyle style, qreal y, Qt::Alignment align)
{
    const QString one = oneLine(text);
    const QFontMetricsF fm = metricsOf(style);
    const QStringList lines = fm.horizontalAdvance(one) <= width ? QStringList{one} : wrapped(one, fm, width);
    const qreal h = heightOf(fm);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        PlacedText t;
        t.rect = QRectF(x, y + h * qreal(i), width, h);
        t.text = lines.at(i);
        t.style = style;
        t.align = align;
        m_texts.append(t);
    }
    m_grown = qMax(m_grown, h * qreal(lines.size() - 1));
    return *this;
}

Band& Band::line(qreal y, qreal x1, qreal x2)
{
    m_lines.append({QLineF(x1, y, x2, y)});
    return *this;
}

Builder::Builder(const PageSetup& setup, const QString& title, const QDate& printed) : m_printed(printed)
{
    m_doc.title = title;
    m_doc.setup = setup;
    m_doc.pages.append(Page());
    m_y = setup.margins.top();
    // Report header: the title, on the first page only.
    Band header(lineHeight(TextStyle::Title) + 200);
    header.text(0, setup.contentWidth(), title, TextStyle::Title, 0, Qt::AlignHCenter);
    place(header);
}

qreal Builder::bodyBottom() const
{
    const PageSetup& s = m_doc.setup;
    return s.paper.height() - s.margins.bottom() - lineHeight(TextStyle::Footer) - FooterGap;
}

void Builder::setPageHeader(const Band& band)
{
    m_pageHeader = band;
    m_hasPageHeader = true;
    // The first page's header follows the title.
    if (m_doc.pages.size() == 1)
        place(band);
}

void Builder::newPage()
{
    m_doc.pages.append(Page());
    m_y = m_doc.setup.margins.top();
    if (m_hasPageHeader)
        place(m_pageHeader);
}

void Builder::place(const Band& band)
{
    Page& page = m_doc.pages.last();
    const QPointF origin(m_doc.setup.margins.left(), m_y);
    for (PlacedText t : band.m_texts) {
        t.rect.translate(origin);
        page.texts.append(t);
    }
    for (PlacedLine l : band.m_lines) {
        l.line.translate(origin);
        page.lines.append(l);
    }
    m_y += band.height();
}

void Builder::add(const Band& band, qreal keepWithNext)
{
    // A band taller than a whole page still goes on a page of its own rather
    // than asking for new pages for ever.
    const qreal top = m_doc.setup.margins.top() + (m_hasPageHeader ? m_pageHeader.height() : 0);
    const bool atTop = m_y <= top;
    if (!atTop && m_y + band.height() + keepWithNext > bodyBottom())
        newPage();
    place(band);
}

Document Builder::finish()
{
    const qreal width = m_doc.setup.contentWidth();
    Band footer(ReportFooterGap + lineHeight(TextStyle::Label) + 60);
    footer.text(0, width, QStringLiteral("Fin del Reporte"), TextStyle::Label, ReportFooterGap);
    footer.line(ReportFooterGap + lineHeight(TextStyle::Label), 0, width);
    add(footer);

    // Second pass: the page count is known now.
    const qsizetype count = m_doc.pages.size();
    const qreal y = m_doc.setup.paper.height() - m_doc.setup.margins.bottom() - lineHeight(TextStyle::Footer);
    const QString date = m_printed.toString(QStringLiteral("dd/MM/yyyy"));
    for (qsizetype i = 0; i < count; ++i) {
        Band pageFooter(lineHeight(TextStyle::Footer));
        pageFooter.text(0, width / 2, date, TextStyle::Footer);
        pageFooter.text(width / 2, width / 2, QStringLiteral("Página %1 de %2").arg(i + 1).arg(count),
                        TextStyle::Footer, 0, Qt::AlignRight);
        const QPointF origin(m_doc.setup.margins.left(), y);
        for (PlacedText t : pageFooter.m_texts) {
            t.rect.translate(origin);
            m_doc.pages[i].texts.append(t);
        }
    }
    return m_doc;
}

void paintPage(QPainter& painter, const Page& page)
{
    painter.save();
    painter.setPen(QPen(Qt::black, PenWidth));
    for (const PlacedLine& l : page.lines)
        painter.drawLine(l.line);
    int current = -1;
    qreal ascent = 0;
    for (const PlacedText& t : page.texts) {
        if (t.text.isEmpty())
            continue;
        if (int(t.style) != current) {
            painter.setFont(fontFor(t.style));
            current = int(t.style);
            ascent = metricsOf(t.style).ascent();
        }
        // Texts were fitted to their columns by the layout: a left-aligned one
        // (nearly all) is drawn at its baseline, which skips the text
        // formatting that a rectangle asks for.
        if (t.align == Qt::AlignLeft)
            painter.drawText(QPointF(t.rect.left(), t.rect.top() + ascent), t.text);
        else
            painter.drawText(t.rect, int(t.align | Qt::AlignTop) | Qt::TextSingleLine, t.text);
    }
    painter.restore();
}

bool render(const Document& doc, QPagedPaintDevice& device, int first, int last)
{
    const qsizetype from = first > 0 ? first - 1 : 0;
    const qsizetype to = last > 0 ? qMin<qsizetype>(last, doc.pages.size()) : doc.pages.size();
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    painter.scale(device.logicalDpiX() / 1440.0, device.logicalDpiY() / 1440.0);
    for (qsizetype i = from; i < to; ++i) {
        if (i > from && !device.newPage())
            return false;
        paintPage(painter, doc.pages.at(i));
    }
    return painter.end();
}

bool writePdf(const Document& doc, const QString& fileName)
{
    QPdfWriter writer(fileName);
    if (!writer.setPageLayout(QPageLayout(QPageSize(doc.setup.paper / TwipsPerPoint, QPageSize::Point),
                                          QPageLayout::Portrait, QMarginsF())))
        return false;
    writer.setResolution(1200);
    writer.setTitle(doc.title);
    writer.setCreator(QStringLiteral("Quendal Sorvent"));
    return render(doc, writer);
}

} // namespace reports
