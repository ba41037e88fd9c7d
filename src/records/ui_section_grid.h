#pragma once
// The list of a panel model's sections with their transfer marks, shared by
// the templates window and the panel console: four columns (mark picture,
// section number, description, the mark as hidden text), a filter text that
// is either a section number to scroll to or a piece of the description.

#include "data/value_store.h"
#include "session/station_context.h"

#include <QList>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;
class QTableWidget;
class QWidget;

namespace ui {

enum SectionColumn { ColMarca = 0, ColSeccion = 1, ColDescripcion = 2, ColEstado = 3 };

using SectionRow = values::SectionMark;

// Digits find a section by number (nothing is filtered out); any other text
// keeps the sections whose description contains it, regardless of case and accents.
struct SectionFilter {
    explicit SectionFilter(const QString& text);
    bool accepts(const QString& descripcion) const;
    bool numeric = false;
    qlonglong target = -1;
    QString folded;
};

// Columns, widths and headings of a section grid.
void setupSectionGrid(QTableWidget* fg);

// Refills the grid with the rows the filter accepts, keeping the current row
// and the scroll position, or opening at (and making current) the last
// section whose number is not above a numeric filter. With keepEmptyRow the grid shows one empty row when
// there is no section. Returns the rows shown.
QList<SectionRow> fillSectionGrid(QTableWidget* fg, const QList<SectionRow>& rows, const SectionFilter& filter,
                                  bool keepEmptyRow);

// The section number and mark of a grid row; false when the row holds none.
bool sectionAt(const QTableWidget* fg, int row, int* seccion, int* marca);

// The filter box and the grid of a section list, wired alike wherever one is
// shown: Enter in the filter lists again (refill), a click on a mark cycles
// it (cycle), a double click on a section or Enter in the grid opens the
// section (open). The window lays the three out.
struct SectionGrid {
    QLabel* caption;     // st_filtroseccion_t
    QLineEdit* filter;   // sle_filtroseccion
    QTableWidget* grid;  // fg_secciones
};
struct SectionGridActions {
    std::function<void()> refill;
    std::function<void(int row)> cycle;
    std::function<void()> open;
};
SectionGrid buildSectionGrid(QWidget* parent, const SectionGridActions& actions);

// Opens the section editor (its context already set) over `parent`; when it
// closes, `refill` lists again and `row` is current, for the next section.
void editSection(StationContext& ctx, QWidget* parent, QTableWidget* fg, int row, const std::function<void()>& refill);

} // namespace ui
