#include "records/ui_section_grid.h"

#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "data/text_rules.h"
#include "records/w_seccion.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>

namespace ui {

namespace {

// Enter in the grid opens the current section.
class EnterOpens : public QObject {
public:
    EnterOpens(QObject* parent, std::function<void()> open) : QObject(parent), m_open(std::move(open)) {}

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                m_open();
                return true;
            }
        }
        return QObject::eventFilter(o, e);
    }

private:
    std::function<void()> m_open;
};

} // namespace

SectionFilter::SectionFilter(const QString& text)
{
    const QString t = text.trimmed();
    target = t.toLongLong(&numeric);
    if (!numeric) {
        target = -1;
        folded = textrules::searchKey(t);
    }
}

bool SectionFilter::accepts(const QString& descripcion) const
{
    return numeric || folded.isEmpty() || textrules::searchKey(descripcion).contains(folded);
}

void setupSectionGrid(QTableWidget* fg)
{
    fg->setColumnCount(4);
    fg->setHorizontalHeaderLabels({QString(), QStringLiteral("Sección"), QStringLiteral("Descripción"), QString()});
    fg->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fg->setSelectionBehavior(QAbstractItemView::SelectRows);
    fg->setSelectionMode(QAbstractItemView::SingleSelection);
    // The top row is a whole section, so a scroll position is a row number.
    fg->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    fg->setWordWrap(false);
    fg->verticalHeader()->hide();
    fg->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    fg->verticalHeader()->setDefaultSectionSize(fg->fontMetrics().height() + 6);
    fg->horizontalHeader()->setHighlightSections(false);
    fg->horizontalHeader()->setStretchLastSection(false);
    fg->setColumnWidth(ColMarca, twips(300));
    // Wide enough for its heading in our fonts.
    fg->setColumnWidth(ColSeccion, qMax(twips(700), fg->horizontalHeader()->sectionSizeHint(ColSeccion)));
    fg->setColumnWidth(ColDescripcion, twips(6500));
    fg->horizontalHeader()->setSectionResizeMode(ColDescripcion, QHeaderView::Stretch);
    fg->setColumnHidden(ColEstado, true);
    fg->setIconSize(QSize(14, 14));
}

QList<SectionRow> fillSectionGrid(QTableWidget* fg, const QList<SectionRow>& all, const SectionFilter& filter,
                                  bool keepEmptyRow)
{
    QList<SectionRow> rows;
    for (const SectionRow& r : all)
        if (filter.accepts(r.descripcion))
            rows << r;

    const int top = fg->verticalScrollBar()->value();
    const int current = fg->currentRow();
    fg->setUpdatesEnabled(false);
    fg->clearContents();
    fg->setRowCount(rows.isEmpty() && keepEmptyRow ? 1 : int(rows.size()));
    int scrollRow = -1;
    for (int r = 0; r < rows.size(); ++r) {
        const SectionRow& row = rows.at(r);
        if (filter.numeric && row.seccion <= filter.target)
            scrollRow = r;
        auto* mark = new QTableWidgetItem;
        if (row.marca == 1)
            mark->setIcon(icon(QStringLiteral("subir")));
        else if (row.marca == -1)
            mark->setIcon(icon(QStringLiteral("bajar")));
        mark->setData(Qt::UserRole, row.marca);
        fg->setItem(r, ColMarca, mark);
        auto* number = new QTableWidgetItem(QString::number(row.seccion));
        number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        fg->setItem(r, ColSeccion, number);
        fg->setItem(r, ColDescripcion, new QTableWidgetItem(row.descripcion));
        fg->setItem(r, ColEstado, new QTableWidgetItem(QString::number(row.marca)));
    }
    // The section a number finds is the one the keys act on (F2 opens it),
    // not a row left behind off screen.
    if (filter.numeric && scrollRow >= 0)
        fg->setCurrentCell(scrollRow, ColSeccion);
    else if (current >= 0 && current < fg->rowCount())
        fg->setCurrentCell(current, ColSeccion);
    fg->setUpdatesEnabled(true);
    // The scroll range follows the new rows only once the view is laid out.
    fg->doItemsLayout();
    fg->verticalScrollBar()->setValue(filter.numeric && scrollRow >= 0 ? scrollRow : top);
    return rows;
}

bool sectionAt(const QTableWidget* fg, int row, int* seccion, int* marca)
{
    if (row < 0 || row >= fg->rowCount())
        return false;
    const QTableWidgetItem* number = fg->item(row, ColSeccion);
    const QTableWidgetItem* estado = fg->item(row, ColEstado);
    if (!number || !estado || number->text().isEmpty())
        return false;
    *seccion = number->text().toInt();
    *marca = estado->text().toInt();
    return true;
}

SectionGrid buildSectionGrid(QWidget* parent, const SectionGridActions& actions)
{
    SectionGrid w;
    w.caption = new QLabel(QStringLiteral("Filtro (seccion/descripción)"), parent);
    w.caption->setObjectName(QStringLiteral("st_filtroseccion_t"));
    w.filter = new QLineEdit(parent);
    w.filter->setObjectName(QStringLiteral("sle_filtroseccion"));
    w.filter->setMaxLength(100);
    w.caption->setBuddy(w.filter);
    w.grid = new QTableWidget(parent);
    w.grid->setObjectName(QStringLiteral("fg_secciones"));
    w.grid->setAccessibleName(QStringLiteral("Secciones"));
    setupSectionGrid(w.grid);
    w.grid->installEventFilter(new EnterOpens(w.grid, actions.open));

    QObject::connect(w.filter, &QLineEdit::returnPressed, w.grid, actions.refill);
    QObject::connect(w.grid, &QTableWidget::cellClicked, w.grid, [cycle = actions.cycle](int row, int column) {
        if (column == ColMarca)
            cycle(row);
    });
    // Space marks from the keyboard, as a click on the mark column does.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), w.grid, nullptr, nullptr, Qt::WidgetShortcut);
    QObject::connect(space, &QShortcut::activated, w.grid, [grid = w.grid, cycle = actions.cycle] {
        if (grid->currentRow() >= 0)
            cycle(grid->currentRow());
    });
    QObject::connect(w.grid, &QTableWidget::cellDoubleClicked, w.grid, [open = actions.open](int, int column) {
        if (column >= ColSeccion)
            open();
    });
    return w;
}

void editSection(StationContext& ctx, QWidget* parent, QTableWidget* fg, int row, const std::function<void()>& refill)
{
    w_seccion* editor = w_seccion::abrir(ctx, parent);
    QObject::connect(editor, &QDialog::finished, fg, [fg, row, refill] {
        // The list is read again, so it shows the section's mark as stored.
        refill();
        if (row < fg->rowCount())
            fg->setCurrentCell(row, ColSeccion);
        fg->setFocus();
    });
}

} // namespace ui
