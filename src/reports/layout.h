#pragma once
// A small banded report layout engine. Reports are built from bands (report
// header, page header, group headers, details, group footers, report footer)
// placed at horizontal positions in twips from the left margin, and paginated
// by the page height. The result is a plain value, pages of positioned texts
// and lines in twips, that one routine paints on any paint device: the
// preview, a printer or a PDF file. Page numbers come from a second pass, once
// the page count is known.
//
// Measuring text needs a QGuiApplication (font database).

#include <QDate>
#include <QFont>
#include <QLineF>
#include <QList>
#include <QMarginsF>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPageLayout;
class QPagedPaintDevice;
class QPainter;

namespace reports {

enum class TextStyle { Title, Label, Field, Small, Footer };

// Arial at the style's size; pixel sizes are twips.
QFont fontFor(TextStyle style);
// Height of one line of the style, in twips.
qreal lineHeight(TextStyle style);

struct PlacedText {
    QRectF rect; // twips from the paper's top-left corner
    QString text;
    TextStyle style = TextStyle::Field;
    Qt::Alignment align = Qt::AlignLeft;
};

struct PlacedLine {
    QLineF line;
};

struct Page {
    QList<PlacedText> texts;
    QList<PlacedLine> lines;
};

struct PageSetup {
    QSizeF paper{11906, 16838}; // A4 portrait
    QMarginsF margins{720, 720, 720, 720};

    qreal contentWidth() const { return paper.width() - margins.left() - margins.right(); }
    // The paper of a printer or PDF writer; margins never below our own.
    static PageSetup fromPageLayout(const QPageLayout& layout);
    bool operator==(const PageSetup& o) const { return paper == o.paper && margins == o.margins; }
};

struct Document {
    QString title;
    PageSetup setup;
    QList<Page> pages;

    qsizetype pageCount() const { return pages.size(); }
};

// A band: one row of texts, and lines, at positions from the left margin and
// the band's top.
class Band {
public:
    explicit Band(qreal height = 0) : m_height(height) {}

    // Text at `x` in a column `width` wide, at `y` from the band's top. A text
    // wider than its column wraps inside it, one line of `style` under the
    // other, and the band grows by the lines added: nothing is cut.
    Band& text(qreal x, qreal width, const QString& text, TextStyle style, qreal y = 0,
               Qt::Alignment align = Qt::AlignLeft);
    Band& line(qreal y, qreal x1, qreal x2);

    // The height given, and what wrapped texts add to it.
    qreal height() const { return m_height + m_grown; }
    void setHeight(qreal h) { m_height = h; }

private:
    friend class Builder;
    qreal m_height;
    qreal m_grown = 0;
    QList<PlacedText> m_texts; // rects relative to the band
    QList<PlacedLine> m_lines;
};

class Builder {
public:
    Builder(const PageSetup& setup, const QString& title, const QDate& printed);

    // Repeated at the top of every page (below the report header on page 1).
    void setPageHeader(const Band& band);
    // Adds a band, on a new page when it does not fit. `keepWithNext` is the
    // height of what must follow it on the same page (a group header is never
    // left alone at the bottom of a page).
    void add(const Band& band, qreal keepWithNext = 0);
    // Report footer, then the page footers with their numbers.
    Document finish();

    qreal bodyBottom() const;

private:
    void newPage();
    void place(const Band& band);

    Document m_doc;
    QDate m_printed;
    Band m_pageHeader;
    bool m_hasPageHeader = false;
    qreal m_y = 0;
};

// Paints one page; the painter's units are twips from the paper's corner.
void paintPage(QPainter& painter, const Page& page);
// Paints a whole document on a printer or PDF writer already set to the
// document's paper, without margins of its own (the layout carries them).
// `first`/`last` (from 1) choose a range of pages; 0 means from the start /
// to the end.
bool render(const Document& doc, QPagedPaintDevice& device, int first = 0, int last = 0);
// Writes the document to a PDF file.
bool writePdf(const Document& doc, const QString& fileName);

} // namespace reports
