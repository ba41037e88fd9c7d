#include "records/w_buscar.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "data/db.h"
#include "records/search_model.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>
#include <algorithm>
#include <vector>

w_buscar* w_buscar::abrir(StationContext& ctx, SearchMode mode, QWidget* parent)
{
    ctx.search.setMode(mode);
    auto* w = new w_buscar(ctx, parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    return w;
}

w_buscar::w_buscar(StationContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_buscar"));
    setWindowTitle(QStringLiteral("Buscar"));
    const std::optional<SearchMode> mode = m_ctx.search.mode();
    if (!mode)
        qCritical("w_buscar: abierto sin contexto de búsqueda; se usa \"abonado\"");
    m_mode = mode.value_or(SearchMode::abonado);

    tx_buscar = new QLineEdit(this);
    tx_buscar->setObjectName(QStringLiteral("tx_buscar"));
    tx_buscar->setMaxLength(100);
    tx_buscar->setAccessibleName(QStringLiteral("Texto a buscar"));
    dgr_buscar = new QTableView(this);
    dgr_buscar->setObjectName(QStringLiteral("dgr_buscar"));
    dgr_buscar->setAccessibleName(QStringLiteral("Resultados"));
    dgr_buscar->setSelectionBehavior(QAbstractItemView::SelectRows);
    dgr_buscar->setSelectionMode(QAbstractItemView::SingleSelection);
    dgr_buscar->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dgr_buscar->setAlternatingRowColors(true);
    dgr_buscar->setWordWrap(false);
    dgr_buscar->verticalHeader()->hide();
    // Fixed row heights keep a list of tens of thousands of rows cheap.
    dgr_buscar->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    dgr_buscar->verticalHeader()->setDefaultSectionSize(dgr_buscar->fontMetrics().height() + 6);
    dgr_buscar->horizontalHeader()->setHighlightSections(false);
    dgr_buscar->horizontalHeader()->setStretchLastSection(true);
    // Headings order the list when clicked; it opens in its own order.
    dgr_buscar->horizontalHeader()->setSectionsClickable(true);
    dgr_buscar->horizontalHeader()->setSortIndicatorShown(true);
    dgr_buscar->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    dgr_buscar->installEventFilter(this);

    tb_buscar = new QToolBar(this);
    tb_buscar->setObjectName(QStringLiteral("tb_buscar"));
    tb_buscar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tb_buscar->setIconSize(QSize(16, 16));
    cb_aceptar = tb_buscar->addAction(ui::icon(QStringLiteral("cb_aceptar")), QStringLiteral("Aceptar"));
    cb_aceptar->setObjectName(QStringLiteral("cb_aceptar"));
    cb_aceptar->setToolTip(QStringLiteral("Aceptar"));
    cb_cancelar = tb_buscar->addAction(ui::icon(QStringLiteral("cb_cancelar")), QStringLiteral("Cancelar"));
    cb_cancelar->setObjectName(QStringLiteral("cb_cancelar"));
    cb_cancelar->setToolTip(QStringLiteral("Cancelar"));

    auto* layout = new QVBoxLayout(this);
    const int m = ui::twips(100);
    layout->setContentsMargins(m, m, m, m / 2);
    layout->setSpacing(ui::twips(80));
    layout->addWidget(tx_buscar);
    layout->addWidget(dgr_buscar, 1);
    layout->addWidget(tb_buscar);

    m_rows = new SearchRowsModel(this);
    m_filter = new SearchFilterProxy(this);
    m_filter->setSourceModel(m_rows);

    connect(tx_buscar, &QLineEdit::returnPressed, this, &w_buscar::aplicarFiltro);
    connect(dgr_buscar, &QAbstractItemView::doubleClicked, this, &w_buscar::wp_selecciona);
    connect(dgr_buscar->horizontalHeader(), &QHeaderView::sectionClicked, this, &w_buscar::ordenar);
    connect(cb_aceptar, &QAction::triggered, this, &w_buscar::wp_selecciona);
    connect(cb_cancelar, &QAction::triggered, this, &QDialog::reject);

    wp_inicializa();
    tx_buscar->setFocus();
}

void w_buscar::wp_inicializa()
{
    const SearchModeInfo& info = searchModeInfo(m_mode);
    setFixedSize(ui::twipsSize(info.width, info.height));
    ui::centreOnScreen(this);
    try {
        m_rows->load(m_ctx.main.db(), m_mode, m_ctx.main.currentUser());
    } catch (const db::Error&) {
        // An unreadable table shows an empty list; the caller's data is untouched.
        m_ctx.main.showMessage(101);
    }
    medirColumnas();
    wp_datagrid();
}

namespace {

// Width of the widest text of a column. Measuring every text of a list of
// tens of thousands costs more than opening it: each text is estimated from
// the widths of its characters, and only the widest few are measured.
int widestText(const SearchRowsModel& rows, int column, const QFontMetrics& fm)
{
    std::vector<int> chars(0x250, -1); // Latin letters; others are measured each time
    const auto charWidth = [&](QChar ch) {
        const char16_t u = ch.unicode();
        if (u >= chars.size())
            return fm.horizontalAdvance(ch);
        if (chars[u] < 0)
            chars[u] = fm.horizontalAdvance(ch);
        return chars[u];
    };
    std::vector<std::pair<int, int>> estimates; // (estimate, row)
    estimates.reserve(size_t(rows.rowCount()));
    for (int r = 0; r < rows.rowCount(); ++r) {
        int w = 0;
        for (QChar ch : rows.cell(r, column))
            w += charWidth(ch);
        estimates.emplace_back(w, r);
    }
    const size_t few = std::min<size_t>(estimates.size(), 16);
    std::partial_sort(estimates.begin(), estimates.begin() + qsizetype(few), estimates.end(), std::greater<>());
    int widest = 0;
    for (size_t i = 0; i < few; ++i)
        widest = qMax(widest, fm.horizontalAdvance(rows.cell(estimates[i].second, column)));
    return widest;
}

} // namespace

void w_buscar::medirColumnas()
{
    const SearchModeInfo& info = searchModeInfo(m_mode);
    const QFontMetrics cellFm = dgr_buscar->fontMetrics();
    const QFontMetrics headFm = dgr_buscar->horizontalHeader()->fontMetrics();
    const QStyle* st = dgr_buscar->style();
    const int cellPad = 2 * (st->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, dgr_buscar) + 1) + 2;
    const int headPad = 2 * st->pixelMetric(QStyle::PM_HeaderMargin, nullptr, dgr_buscar)
                        + st->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, dgr_buscar) + 4;
    m_widths.clear();
    for (int c = 0; c < info.columns.size(); ++c) {
        const SearchModeInfo::Column& col = info.columns.at(c);
        if (col.width == 0) {
            m_widths << 0;
            continue;
        }
        // A heading is never cut, with the order arrow beside it.
        const int heading = headFm.horizontalAdvance(col.caption) + headPad;
        int w = qMax(ui::twips(col.width), heading);
        if (col.maxWidth > col.width) {
            const int need = qMax(heading, widestText(*m_rows, c, cellFm) + cellPad);
            // Wider texts than the limit are cut; their tool-tip holds them whole.
            w = qBound(w, need, qMax(w, ui::twips(col.maxWidth)));
        }
        m_widths << w;
    }
}

void w_buscar::wp_datagrid()
{
    if (dgr_buscar->model() != m_filter)
        dgr_buscar->setModel(m_filter);
    const SearchModeInfo& info = searchModeInfo(m_mode);
    for (int i = 0; i < info.columns.size(); ++i) {
        const int w = m_widths.value(i);
        dgr_buscar->setColumnHidden(i, w == 0);
        if (w > 0)
            dgr_buscar->setColumnWidth(i, w);
    }
    // The first row is current, so "Aceptar" picks it without a click.
    if (m_filter->rowCount() > 0)
        dgr_buscar->setCurrentIndex(m_filter->index(0, info.columns.size() > 1 ? 1 : 0));
    else
        dgr_buscar->setCurrentIndex(QModelIndex());
}

void w_buscar::aplicarFiltro()
{
    // An empty box removes the filter; the rows read on opening are narrowed,
    // never read again.
    m_filter->setContains(tx_buscar->text());
    wp_datagrid();
}

void w_buscar::wp_selecciona()
{
    const QModelIndex current = dgr_buscar->currentIndex();
    if (!current.isValid())
        return;
    const int id = m_rows->idAt(m_filter->mapToSource(current).row());
    m_ctx.search.dispatch(m_mode, id);
    accept();
}

void w_buscar::ordenar(int column)
{
    m_sortOrder = column == m_sortColumn && m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                : Qt::AscendingOrder;
    m_sortColumn = column;
    // The row the user is on stays current wherever it moves.
    const QModelIndex current = dgr_buscar->currentIndex();
    const int id = current.isValid() ? m_rows->idAt(m_filter->mapToSource(current).row()) : -1;
    m_rows->sortBy(column, m_sortOrder);
    dgr_buscar->horizontalHeader()->setSortIndicator(column, m_sortOrder);
    const QModelIndex again = m_filter->mapFromSource(m_rows->index(m_rows->rowOf(id), current.column()));
    if (again.isValid()) {
        dgr_buscar->setCurrentIndex(again);
        dgr_buscar->scrollTo(again);
    } else {
        wp_datagrid();
    }
}

bool w_buscar::eventFilter(QObject* o, QEvent* e)
{
    // Enter on a row picks it, as a double click does.
    if (o == dgr_buscar && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            wp_selecciona();
            return true;
        }
    }
    return QDialog::eventFilter(o, e);
}
