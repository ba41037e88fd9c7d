#include "records/w_buscar.h"

#include "app/mdl_main.h"
#include "app/ui_geometry.h"
#include "app/ui_pictures.h"
#include "data/db.h"
#include "records/search_model.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {
// Widest a column grows to fit its texts.
constexpr int MaxColumnTwips = 4000;
} // namespace

w_buscar* w_buscar::abrir(SearchMode mode, QWidget* parent)
{
    SearchContext::instance().setMode(mode);
    auto* w = new w_buscar(parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    return w;
}

w_buscar::w_buscar(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("w_buscar"));
    setWindowTitle(QStringLiteral("Buscar"));
    const std::optional<SearchMode> mode = SearchContext::instance().mode();
    if (!mode)
        qCritical("w_buscar: abierto sin contexto de búsqueda; se usa \"abonado\"");
    m_mode = mode.value_or(SearchMode::abonado);

    tx_buscar = new QLineEdit(this);
    tx_buscar->setObjectName(QStringLiteral("tx_buscar"));
    tx_buscar->setMaxLength(100);
    dgr_buscar = new QTableView(this);
    dgr_buscar->setObjectName(QStringLiteral("dgr_buscar"));
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
        m_rows->load(mdl_main::instance().db(), m_mode);
    } catch (const db::Error&) {
        // An unreadable table shows an empty list; the caller's data is untouched.
        mdl_main::instance().f_mensaje(101);
    }
    wp_datagrid();
}

void w_buscar::wp_datagrid()
{
    if (dgr_buscar->model() != m_filter)
        dgr_buscar->setModel(m_filter);
    const SearchModeInfo& info = searchModeInfo(m_mode);
    for (int i = 0; i < info.columns.size(); ++i) {
        const int w = info.columns.at(i).width;
        dgr_buscar->setColumnHidden(i, w == 0);
        if (w == 0)
            continue;
        // At least the column's own width, wider when its texts need it (a
        // surname such as "DEMOSTRACIÓN" is not cut), up to a bound.
        dgr_buscar->resizeColumnToContents(i);
        dgr_buscar->setColumnWidth(
            i, qBound(ui::twips(w), dgr_buscar->columnWidth(i), ui::twips(qMax(w, MaxColumnTwips))));
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
    SearchContext::instance().dispatch(m_mode, id);
    accept();
}
