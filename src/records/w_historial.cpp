#include "records/w_historial.h"

#include "data/permissions.h"
#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/history_store.h"
#include "data/messages.h"
#include "data/subscriber_store.h"
#include "data/template_store.h"
#include "records/section_format.h"
#include "reports/dr_layouts.h"
#include "reports/ui_reportes.h"
#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_messagebox.h"
#include "ui/ui_pictures.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {

const QString kDayFormat = QStringLiteral("dd/MM/yyyy");

// "yyyy-MM-dd HH:mm:ss" as stored, day first as shown; by position, since
// thousands of rows are turned at once.
QString dayFirst(const QString& stored)
{
    if (stored.size() != 19)
        return stored;
    return stored.mid(8, 2) + QLatin1Char('/') + stored.mid(5, 2) + QLatin1Char('/') + stored.left(4) + stored.mid(10);
}

} // namespace

w_historial::w_historial(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_historial"));
    setWindowTitle(QStringLiteral("Historial"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(4);
    tb_historial = new QToolBar(this);
    tb_historial->setObjectName(QStringLiteral("tb_historial"));
    tb_historial->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tb_historial->setIconSize(QSize(16, 16));
    cb_imprimir = tb_historial->addAction(ui::icon(QStringLiteral("cb_imprimir")), QStringLiteral("Imprimir"));
    cb_imprimir->setObjectName(QStringLiteral("cb_imprimir"));
    cb_imprimir->setToolTip(QStringLiteral("Imprimir Reporte"));
    cb_imprimir->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));
    connect(cb_imprimir, &QAction::triggered, this, [this] {
        if (m_ctx.printHistory)
            m_ctx.printHistory(m_ctx, subtitle(), m_lines);
        else
            reports::showHistoryReport(m_ctx, subtitle(), m_lines);
    });
    layout->addWidget(tb_historial);

    auto* g = new QGridLayout;
    g->setHorizontalSpacing(8);
    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    st_titular = label("st_titular", QString());
    st_titular->setFrameShape(QFrame::Panel);
    st_titular->setFrameShadow(QFrame::Sunken);
    st_desde_t = label("st_desde_t", QStringLiteral("Desde:"));
    st_hasta_t = label("st_hasta_t", QStringLiteral("Hasta:"));
    st_seccion_t = label("st_seccion_t", QStringLiteral("Sección:"));
    st_usuario_t = label("st_usuario_t", QStringLiteral("Usuario:"));
    auto picker = [this](const char* name) {
        auto* d = new QDateEdit(this);
        d->setObjectName(QLatin1String(name));
        d->setCalendarPopup(true);
        d->setDisplayFormat(kDayFormat);
        connect(d, &QDateEdit::dateChanged, this, [this] { showHistory(); });
        return d;
    };
    dp_desde = picker("dp_desde");
    dp_hasta = picker("dp_hasta");
    auto combo = [this](const char* name) {
        auto* b = new QComboBox(this);
        b->setObjectName(QLatin1String(name));
        b->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        connect(b, &QComboBox::currentIndexChanged, this, [this] { showHistory(); });
        return b;
    };
    cbx_seccion = combo("cbx_seccion");
    cbx_seccion->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('M')) * 28);
    cbx_usuario = combo("cbx_usuario");
    g->addWidget(st_titular, 0, 0, 1, 4);
    g->addWidget(st_desde_t, 1, 0);
    g->addWidget(dp_desde, 1, 1, Qt::AlignLeft);
    g->addWidget(st_seccion_t, 1, 2);
    g->addWidget(cbx_seccion, 1, 3, Qt::AlignLeft);
    g->addWidget(st_hasta_t, 2, 0);
    g->addWidget(dp_hasta, 2, 1, Qt::AlignLeft);
    g->addWidget(st_usuario_t, 2, 2);
    g->addWidget(cbx_usuario, 2, 3, Qt::AlignLeft);
    g->setColumnStretch(3, 1);
    layout->addLayout(g);

    buildGrid();
    layout->addWidget(dg_historial, 1);
    ui::sizeWindow(this, 13500, 6000);
}

void w_historial::buildGrid()
{
    const QStringList titles = reports::historialTitles();
    dg_historial = new QTableWidget(0, int(titles.size()), this);
    dg_historial->setObjectName(QStringLiteral("dg_historial"));
    dg_historial->setHorizontalHeaderLabels(titles);
    dg_historial->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dg_historial->setSelectionBehavior(QAbstractItemView::SelectRows);
    dg_historial->verticalHeader()->hide();
    dg_historial->setWordWrap(false);
    // One line per change: the date and the operator whole, the section's
    // description takes what is left.
    QHeaderView* h = dg_historial->horizontalHeader();
    const int pad = fontMetrics().horizontalAdvance(QStringLiteral("MM"));
    h->resizeSection(0, fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00:00")) + pad);
    for (int j : {2, 3, 4})
        h->resizeSection(j, fontMetrics().horizontalAdvance(QLatin1Char('M')) * 11);
    h->resizeSection(5, fontMetrics().horizontalAdvance(QStringLiteral("plantilla")) + pad);
    h->resizeSection(6, fontMetrics().horizontalAdvance(QStringLiteral("ADMINISTRADOR")) + pad);
    h->setSectionResizeMode(1, QHeaderView::Stretch);
}

QSqlDatabase w_historial::c() const
{
    return m_ctx.main.db();
}

w_historial* w_historial::abrir(StationContext& ctx, const values::Owner& owner, const QString& titular)
{
    const QString key = QStringLiteral("w_historial");
    w_historial* w = nullptr;
    if (MainFrame* frame = ctx.frame) {
        if (!frame->child(key))
            frame->registerWindow(key, [&ctx] { return new w_historial(ctx); });
        w = qobject_cast<w_historial*>(frame->showChild(key));
    } else {
        w = new w_historial(ctx);
        w->setAttribute(Qt::WA_DeleteOnClose);
        ui::centreOnScreen(w);
        w->show();
    }
    if (w)
        w->showOwner(owner, titular);
    return w;
}

w_historial* w_historial::abrirAbonado(StationContext& ctx, int abonado)
{
    const QSqlDatabase c = ctx.main.db();
    QString titular = QStringLiteral("Abonado %1").arg(abonado);
    int panel = 0;
    try {
        if (const auto r = subscribers::record(c, abonado)) {
            panel = r->value("id_panel").toInt();
            titular += QStringLiteral(" (%1) - %2 %3")
                           .arg(r->value("codigo").toString(), r->value("apellido").toString(),
                                r->value("nombre").toString());
        }
    } catch (const db::Error& e) {
        qWarning("w_historial::abrirAbonado: %s", qPrintable(e.text()));
    }
    return abrir(ctx, values::Owner::subscriber(abonado, panel), titular);
}

w_historial* w_historial::abrirConfiguracion(StationContext& ctx, int configuracion, int panel)
{
    const QSqlDatabase c = ctx.main.db();
    QString titular = QStringLiteral("Configuración %1").arg(configuracion);
    try {
        titular += QStringLiteral(" - %1 - Panel: %2")
                       .arg(templates::name(c, configuracion).value_or(QString()),
                            catalogue::panelCaption(c, panel).value_or(QString()));
    } catch (const db::Error& e) {
        qWarning("w_historial::abrirConfiguracion: %s", qPrintable(e.text()));
    }
    return abrir(ctx, values::Owner::templ(configuracion, panel), titular);
}

void w_historial::showOwner(const values::Owner& owner, const QString& titular)
{
    m_owner = owner;
    m_titular = titular;
    m_lists.reset();
    st_titular->setText(titular);
    m_filling = true;
    const QDate today = m_ctx.main.now().date();
    dp_hasta->setDate(today);
    dp_desde->setDate(today.addMonths(-1));
    fillFilters();
    m_filling = false;
    showHistory();
}

void w_historial::fillFilters()
{
    cbx_seccion->clear();
    cbx_usuario->clear();
    cbx_seccion->addItem(QStringLiteral("Todas"), -1);
    cbx_usuario->addItem(QStringLiteral("Todos"), 0);
    try {
        for (const values::SectionMark& s : values::sectionMarks(c(), m_owner))
            cbx_seccion->addItem(QStringLiteral("%1 - %2").arg(s.seccion, 3, 10, QLatin1Char('0')).arg(s.descripcion),
                                 s.seccion);
        for (const auto& [id, name] : history::operators(c(), m_owner))
            cbx_usuario->addItem(name.isEmpty() ? QStringLiteral("Usuario %1 (eliminado)").arg(id) : name, id);
    } catch (const db::Error& e) {
        qWarning("w_historial::fillFilters: %s", qPrintable(e.text()));
    }
}

QString w_historial::shown(int seccion, const SectionFormat& f, const std::optional<QString>& stored)
{
    if (!stored)
        return QStringLiteral("(sin valor)");
    if (m_ctx.main.hidesSection(m_owner.panel, seccion))
        return permissions::hiddenText();
    if (f.input() != SectionFormat::Input::list)
        return f.input() == SectionFormat::Input::text ? f.shown(*stored) : *stored;
    // A list value reads as the editor's entry: "value - description".
    if (!m_lists) {
        try {
            m_lists = catalogue::valueLists(c(), m_owner.panel);
        } catch (const db::Error& e) {
            qWarning("w_historial::shown: %s", qPrintable(e.text()));
            m_lists.emplace();
        }
    }
    const std::optional<qint64> key = listKey(*stored);
    for (const catalogue::ListValue& v : m_lists->value(seccion))
        if (key && listKey(v.valor) == key)
            return v.valor + QStringLiteral(" - ") + v.descripcion;
    return *stored;
}

void w_historial::showHistory()
{
    if (m_filling)
        return;
    history::Filter f{m_owner, dp_desde->date(), dp_hasta->date(), cbx_seccion->currentData().toInt(),
                      cbx_usuario->currentData().toInt()};
    QList<history::Row> rows;
    try {
        rows = history::rows(c(), f);
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo leer el historial.\n%1").arg(e.text()));
    }
    m_lines.clear();
    m_lines.reserve(rows.size());
    for (const history::Row& r : rows) {
        const SectionFormat format{r.tipo, r.caracteres, r.filler};
        m_lines.append({dayFirst(r.fecha),
                        QStringLiteral("%1 %2").arg(r.seccion, 3, 10, QLatin1Char('0')).arg(r.seccionDescripcion),
                        r.itemDescripcion.isEmpty() ? QString::number(r.item) : r.itemDescripcion,
                        r.origen == history::origin::subida() ? QString() : shown(r.seccion, format, r.antes),
                        shown(r.seccion, format, r.despues), r.origen, r.usuario});
    }
    dg_historial->setUpdatesEnabled(false);
    dg_historial->clearContents();
    dg_historial->setRowCount(int(m_lines.size()));
    for (int i = 0; i < m_lines.size(); ++i)
        for (int j = 0; j < m_lines.at(i).size(); ++j) {
            auto* item = new QTableWidgetItem(m_lines.at(i).at(j));
            item->setToolTip(m_lines.at(i).at(j)); // a cut text reads whole
            dg_historial->setItem(i, j, item);
        }
    dg_historial->setUpdatesEnabled(true);
}

QString w_historial::subtitle() const
{
    return QStringLiteral("%1 - del %2 al %3 - Sección: %4 - Usuario: %5")
        .arg(m_titular, dp_desde->date().toString(kDayFormat), dp_hasta->date().toString(kDayFormat),
             cbx_seccion->currentText(), cbx_usuario->currentText());
}

void w_historial::refreshOpen()
{
    for (QWidget* w : QApplication::allWidgets())
        if (auto* h = qobject_cast<w_historial*>(w))
            h->showHistory();
}
