#include "records/w_configuracion.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/template_store.h"
#include "data/value_store.h"
#include "records/editor_context.h"
#include "records/search_context.h"
#include "records/ui_section_grid.h"
#include "records/w_buscar.h"
#include "records/w_configuracion_abm.h"
#include "records/w_historial.h"
#include "reports/ui_reportes.h"

#include <QAction>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {

QLabel* shownText(QWidget* parent, const QString& name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QLabel* caption(QWidget* parent, const QString& name, const QString& text)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

} // namespace

w_configuracion::w_configuracion(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_configuracion"));
    setWindowTitle(QStringLiteral("Configuraciones"));

    tb_configuracion = new QToolBar(this);
    tb_configuracion->setObjectName(QStringLiteral("tb_configuracion"));
    // Text under the pictures: all nine buttons fit the window's width.
    tb_configuracion->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tb_configuracion->setIconSize(QSize(16, 16));
    cb_panel = boton(QStringLiteral("cb_panel"), QStringLiteral("Panel"), QString());
    cb_configuracion = boton(QStringLiteral("cb_configuracion"), QStringLiteral("Config."), QString());
    tb_configuracion->addSeparator();
    cb_copiar = boton(QStringLiteral("cb_copiar"), QStringLiteral("Copiar"), QStringLiteral("Copiar configuración a una nueva"));
    cb_baja = boton(QStringLiteral("cb_baja"), QStringLiteral("Baja"), QStringLiteral("Eliminar configuracion"));
    cb_modificar = boton(QStringLiteral("cb_modificar"), QStringLiteral("Editar"), QStringLiteral("Editar sección"));
    tb_configuracion->addSeparator();
    cb_desmarcar = boton(QStringLiteral("cb_desmarcar"), QStringLiteral("Desmarcar"), QString());
    cb_subir = boton(QStringLiteral("cb_subir"), QStringLiteral("Subir"), QString());
    cb_bajar = boton(QStringLiteral("cb_bajar"), QStringLiteral("Bajar"), QString());
    tb_configuracion->addSeparator();
    cb_imprimir = boton(QStringLiteral("cb_imprimir"), QStringLiteral("Imprimir"), QStringLiteral("Imprimir Reporte"));
    cb_historial = boton(QStringLiteral("cb_historial"), QStringLiteral("Historial"),
                         QStringLiteral("Historial de valores de la configuración"));

    st_panel_t = caption(this, QStringLiteral("st_panel_t"), QStringLiteral("Panel:"));
    st_panel = shownText(this, QStringLiteral("st_panel"));
    st_configuracion_t = caption(this, QStringLiteral("st_configuracion_t"), QStringLiteral("Configuración:"));
    st_configuracion = shownText(this, QStringLiteral("st_configuracion"));
    img_cbconfiguracion = new QLabel(this);
    img_cbconfiguracion->setObjectName(QStringLiteral("img_cbconfiguracion"));
    img_cbconfiguracion->setPixmap(ui::picture(QStringLiteral("modificar")));
    img_cbconfiguracion->setToolTip(QStringLiteral("Editar descripción"));
    img_cbconfiguracion->setCursor(Qt::PointingHandCursor);
    img_cbconfiguracion->installEventFilter(this);
    const ui::SectionGrid grid = ui::buildSectionGrid(
        this, {[this] { showSections(); }, [this](int row) { ciclarMarca(row); }, [this] { editSection(); }});
    st_filtroseccion_t = grid.caption;
    sle_filtroseccion = grid.filter;
    fg_secciones = grid.grid;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(tb_configuracion);
    auto* g = new QGridLayout;
    g->setContentsMargins(ui::twips(60), 0, ui::twips(60), 0);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(3);
    g->addWidget(st_panel_t, 0, 0);
    g->addWidget(st_panel, 0, 1);
    g->addWidget(st_configuracion_t, 1, 0);
    g->addWidget(st_configuracion, 1, 1);
    g->addWidget(img_cbconfiguracion, 1, 2);
    g->addWidget(st_filtroseccion_t, 2, 0);
    g->addWidget(sle_filtroseccion, 2, 1);
    g->setColumnStretch(1, 1);
    layout->addLayout(g);
    layout->addWidget(fg_secciones, 1);

    SearchContext& search = m_ctx.search;
    search.registerDisplay(SearchMode::panel, this, [this](int id) { showPanel(id); });
    search.registerDisplay(SearchMode::configuracion, this, [this](int id) { showTemplate(id); });

    ui::sizeWindow(this, 8200, 5700);
    showPanel(0);
}

QAction* w_configuracion::boton(const QString& key, const QString& caption, const QString& tip)
{
    QAction* a = tb_configuracion->addAction(ui::icon(key), caption);
    a->setObjectName(key);
    if (!tip.isEmpty())
        a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, key] { dispatch(key); });
    return a;
}

void w_configuracion::showPanel(int panel)
{
    const QSqlDatabase c = m_ctx.main.db();
    QString shown;
    try {
        // With one model in the catalogue there is nothing to choose.
        if (panel == 0)
            panel = catalogue::onlyPanel(c);
        if (panel >= 1) {
            const std::optional<QString> caption = catalogue::panelCaption(c, panel);
            if (caption)
                shown = *caption;
            else
                panel = 0;
        }
    } catch (const db::Error& e) {
        qWarning("w_configuracion::showPanel: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(101);
        panel = 0;
        shown.clear();
    }
    m_panel = panel >= 1 ? panel : 0;
    st_panel->setText(m_panel ? shown : QString());
    cb_configuracion->setEnabled(m_panel > 0);
    showTemplate(0);
}

void w_configuracion::showTemplate(int configuracion)
{
    for (QAction* a : {cb_bajar, cb_subir, cb_desmarcar, cb_copiar, cb_modificar, cb_baja, cb_imprimir, cb_historial})
        a->setEnabled(false);
    fg_secciones->setEnabled(false);

    const QSqlDatabase c = m_ctx.main.db();
    QString name;
    bool found = false;
    try {
        // The only template that covers the model is taken without asking.
        if (configuracion == 0)
            configuracion = templates::onlyTemplateOf(c, m_panel);
        if (configuracion >= 1) {
            const std::optional<QString> stored = templates::name(c, configuracion);
            found = stored.has_value();
            name = stored.value_or(QString());
        }
    } catch (const db::Error& e) {
        qWarning("w_configuracion::showTemplate: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(101);
        found = false;
    }

    if (!found) {
        st_configuracion->clear();
        m_template = 0;
    } else {
        st_configuracion->setText(name);
        m_template = configuracion;
        cb_copiar->setEnabled(true);
        cb_imprimir->setEnabled(m_ctx.main.may(permissions::Right::Imprimir));
        cb_historial->setEnabled(w_historial::permitido(m_ctx.main));
        // The catalogue template is kept by the catalogue update alone.
        if (m_template >= 2) {
            for (QAction* a : {cb_modificar, cb_subir, cb_bajar, cb_baja})
                a->setEnabled(true);
            fg_secciones->setEnabled(true);
        }
    }
    showSections();
}

void w_configuracion::showSections()
{
    QList<ui::SectionRow> rows;
    try {
        rows = values::sectionMarks(m_ctx.main.db(), marksOwner());
    } catch (const db::Error& e) {
        qWarning("w_configuracion::showSections: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(101);
        rows.clear();
    }

    cb_desmarcar->setEnabled(false);
    for (const ui::SectionRow& r : ui::fillSectionGrid(fg_secciones, rows, ui::SectionFilter(sle_filtroseccion->text()), false))
        if (r.marca != 0 && m_template >= 2)
            cb_desmarcar->setEnabled(true);
}

void w_configuracion::ciclarMarca(int row)
{
    int seccion = 0;
    int marca = 0;
    if (m_template < 2 || !fg_secciones->isEnabled() || !ui::sectionAt(fg_secciones, row, &seccion, &marca))
        return;
    setMarks(values::nextMark(marca), seccion);
    fg_secciones->setCurrentCell(row, ColMarca);
}

values::Owner w_configuracion::marksOwner() const
{
    return values::Owner::templ(m_template, m_panel);
}

void w_configuracion::setMarks(int marca, int seccion)
{
    try {
        values::setMarks(m_ctx.main.db(), marksOwner(), marca, seccion);
    } catch (const db::Error& e) {
        qWarning("w_configuracion: marcas: %s", qPrintable(e.text()));
        m_ctx.main.showMessage(203);
    }
    showSections();
}

void w_configuracion::marcarTodo(const QString& pregunta, int marca)
{
    // The catalogue template's marks seed every new subscriber: only a
    // catalogue update changes them, clearing included.
    if (m_template < 2)
        return;
    if (m_ctx.messages.askYesNo(pregunta))
        setMarks(marca, -1);
}

void w_configuracion::editSection()
{
    const int row = fg_secciones->currentRow();
    if (m_template < 2 || row < 0 || row >= fg_secciones->rowCount())
        return;
    QTableWidgetItem* number = fg_secciones->item(row, ColSeccion);
    if (!number || number->text().isEmpty())
        return;
    m_ctx.editor = EditorContext::forTemplate(m_panel, m_template, number->text().toInt(),
                                              fg_secciones->item(row, ColEstado)->text().toInt());
    ui::editSection(m_ctx, this, fg_secciones, row, [this] { showSections(); });
}

void w_configuracion::deleteTemplate()
{
    if (m_template < 2)
        return;
    try {
        templates::remove(m_ctx.main.db(), m_template);
    } catch (const db::Error& e) {
        qWarning("w_configuracion::deleteTemplate: %s", qPrintable(e.text()));
        m_ctx.messages.showError(QStringLiteral("No fué posible eliminar esta configuración. Asegúrese de que no la está "
                                                "utiliando ningún abonado."));
        return;
    }
    showTemplate(0);
}

void w_configuracion::editarDescripcion()
{
    if (m_template < 2) {
        m_ctx.messages.showError(QStringLiteral("No puede modificar esta descripción"));
        return;
    }
    m_ctx.editor.configuracion = m_template;
    w_configuracion_abm::abrir(m_ctx, this);
}

void w_configuracion::dispatch(const QString& key)
{
    if (key == QLatin1String("cb_panel")) {
        w_buscar::abrir(m_ctx, SearchMode::panel, this);
    } else if (key == QLatin1String("cb_configuracion")) {
        w_buscar::abrir(m_ctx, SearchMode::configuracion, this);
    } else if (key == QLatin1String("cb_copiar")) {
        if (m_template < 1)
            return;
        m_ctx.editor.configuracion = 0;
        w_configuracion_abm::abrir(m_ctx, this);
    } else if (key == QLatin1String("cb_baja")) {
        if (m_template >= 2 && m_ctx.messages.askYesNo(QStringLiteral("¿Está seguro de dar de baja esta configuración?")))
            deleteTemplate();
    } else if (key == QLatin1String("cb_modificar")) {
        editSection();
    } else if (key == QLatin1String("cb_subir")) {
        marcarTodo(QStringLiteral("¿Está seguro de marcar todo para subir?"), 1);
    } else if (key == QLatin1String("cb_bajar")) {
        marcarTodo(QStringLiteral("¿Está seguro de marcar todo para bajar?"), -1);
    } else if (key == QLatin1String("cb_desmarcar")) {
        marcarTodo(QStringLiteral("¿Está seguro de desmarcar todo?"), 0);
    } else if (key == QLatin1String("cb_imprimir")) {
        if (m_template >= 1)
            reports::showTemplateReport(m_ctx, m_panel, m_template);
    } else if (key == QLatin1String("cb_historial")) {
        if (m_template >= 1 && w_historial::permitido(m_ctx.main))
            w_historial::abrirConfiguracion(m_ctx, m_template, m_panel);
    }
}

bool w_configuracion::eventFilter(QObject* o, QEvent* e)
{
    if (o == img_cbconfiguracion && e->type() == QEvent::MouseButtonRelease) {
        editarDescripcion();
        return true;
    }
    return QWidget::eventFilter(o, e);
}
