#include "console/w_panel.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "data/db.h"
#include "data/permissions.h"
#include "data/messages.h"
#include "data/subscriber_store.h"
#include "link/dial_string.h"
#include "link/line_sharing.h"
#include "link/panel_link.h"
#include "records/search_context.h"
#include "records/w_buscar.h"
#include "records/w_historial.h"
#include "reports/ui_reportes.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QProgressBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {
// Operations log: a connection that the panel never answered.
constexpr int OpConnectionFailed = 17;

QString indexed(const char* name, int i)
{
    return LinkView::indexed(name, i);
}

} // namespace

w_panel::w_panel(StationContext& ctx, PanelLink& link, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_link(link), m_holdStore([this] { return m_ctx.main.db(); }, [this] { return operatorName(); })
{
    setObjectName(QStringLiteral("w_panel"));
    setWindowTitle(QStringLiteral("Panel"));
    buildHeader();
    buildToolbar();
    SSTab_panel = new QTabWidget(this);
    SSTab_panel->setObjectName(QStringLiteral("SSTab_panel"));
    SSTab_panel->addTab(buildVisor(), QStringLiteral("Visor"));
    SSTab_panel->addTab(buildSecciones(), QStringLiteral("Secciones"));
    SSTab_panel->addTab(buildEventos(), QStringLiteral("Eventos"));
    buildLinkLine();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(3);
    layout->addWidget(tb_panel);
    layout->addWidget(frm_abonado);
    layout->addWidget(SSTab_panel, 1);
    layout->addWidget(st_enlace);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(st_progreso);
    bottom->addWidget(pb_progreso, 1);
    bottom->addWidget(st_rx);
    bottom->addWidget(st_tx);
    layout->addLayout(bottom);

    connect(SSTab_panel, &QTabWidget::currentChanged, this, [this](int tab) {
        cb_modificar->setEnabled(tab == 1);
        cb_premarcar->setEnabled(tab == 1);
    });

    // Load.
    ui::sizeWindow(this, 10400, 6600);
    SSTab_panel->setCurrentIndex(0);
    cb_modificar->setEnabled(false);
    cb_premarcar->setEnabled(false);
    SSTab_panel->setEnabled(false);
    hideForLevel();
    for (const char* mode : {"Ausente c/demora", "Ausente s/demora", "Presente c/demora", "Presente s/demora"})
        Combo_armado->addItem(QString::fromUtf8(mode));
    Combo_armado->setCurrentIndex(0);
    dp_borraeventos->setDate(defaultDeleteDate(m_ctx.main.now().date()));
    m_ctx.search.registerDisplay(SearchMode::panel_abonado, this,
                                 [this](int id) { showSubscriber(id); });

    link.setConsole(this);
    connect(&link, &PanelLink::viewChanged, this, &w_panel::render);
    connect(&link, &PanelLink::viewChanged, this, &w_panel::releaseSubscriberWhenIdle);
    connect(&m_ctx.main, &mdl_main::serverBack, this, &w_panel::holdAfterReconnect);
    // Queued: a message of the link is shown after its frame handler returned.
    connect(&link, &PanelLink::messageQueued, this, &w_panel::showLinkMessages, Qt::QueuedConnection);
    // Until a subscriber is picked the console is in its no-subscriber state.
    showSubscriber(0);
    // A job on the line keeps its call: the console shows it as it goes.
    if (!link.lineSharing() || link.lineSharing()->jobOnLine() == 0) {
        link.resetModem();
        link.endSession();
    }
    render();
}

w_panel::~w_panel()
{
    unload();
}

void w_panel::buildHeader()
{
    frm_abonado = new QFrame(this);
    frm_abonado->setObjectName(QStringLiteral("frm_abonado"));
    frm_abonado->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    const char* const headerCaptions[3] = {"Abonado:", "Teléfono:", "Panel:"};
    for (int i = 0; i < 3; ++i) {
        st_abonado_t[size_t(i)] = new QLabel(QString::fromUtf8(headerCaptions[i]), frm_abonado);
        st_abonado_t[size_t(i)]->setObjectName(indexed("st_abonado_t", i));
        auto* shown = new QLabel(frm_abonado);
        shown->setObjectName(indexed("st_abonado", i));
        shown->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
        st_abonado[size_t(i)] = shown;
    }
    sle_telefono = new QLineEdit(frm_abonado);
    sle_telefono->setObjectName(QStringLiteral("sle_telefono"));
    sle_telefono->setMaxLength(40);
    // Typed or pasted, only what a modem may dial stays (a pasted line end
    // would be a modem command of its own). A stored number is shown as it
    // is: the link refuses it with the reason.
    connect(sle_telefono, &QLineEdit::textEdited, this, [this](const QString& text) {
        const QString kept = dial::keepDialCharacters(text);
        if (kept == text)
            return;
        const int cursor = sle_telefono->cursorPosition() - int(text.size() - kept.size());
        sle_telefono->setText(kept);
        sle_telefono->setCursorPosition(qMax(0, cursor));
    });
    st_abonado[0]->setMinimumWidth(ui::twips(1200));
    {
        auto* g = new QGridLayout(frm_abonado);
        g->setContentsMargins(6, 3, 6, 3);
        g->setVerticalSpacing(2);
        g->addWidget(st_abonado_t[0], 0, 0);
        g->addWidget(st_abonado[0], 0, 1);
        g->addWidget(st_abonado[1], 0, 2, 1, 3);
        g->addWidget(st_abonado_t[1], 1, 0);
        g->addWidget(sle_telefono, 1, 1, 1, 2);
        g->addWidget(st_abonado_t[2], 1, 3);
        g->addWidget(st_abonado[2], 1, 4);
        st_bloqueo = new QLabel(frm_abonado);
        st_bloqueo->setObjectName(QStringLiteral("st_bloqueo"));
        st_bloqueo->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
        st_bloqueo->hide();
        g->addWidget(st_bloqueo, 2, 0, 1, 5);
        tm_bloqueo = new QTimer(this);
        tm_bloqueo->setInterval(15000);
        connect(tm_bloqueo, &QTimer::timeout, this, [this] { heldElsewhere(); });
        g->setColumnStretch(2, 1);
        g->setColumnStretch(4, 1);
    }
}

// Toolbar: enabling goes by position (button(n)).
void w_panel::buildToolbar()
{
    tb_panel = new QToolBar(this);
    tb_panel->setObjectName(QStringLiteral("tb_panel"));
    tb_panel->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tb_panel->setIconSize(QSize(16, 16));
    cb_buscar = boton(QStringLiteral("cb_buscar"), QStringLiteral("Abonado"), QStringLiteral("Buscar Abonado"));
    cb_modificar = boton(QStringLiteral("cb_modificar"), QStringLiteral("Editar"), QStringLiteral("Modificar Sección"));
    cb_restaurar = boton(QStringLiteral("cb_restaurar"), QStringLiteral("Restaurar"),
                         QStringLiteral("Restaurar valores predeterminados"));
    cb_premarcar = boton(QStringLiteral("cb_premarcar"), QStringLiteral("Premarcar"),
                         QStringLiteral("Marcar según configuración"));
    cb_invertir = boton(QStringLiteral("cb_invertir"), QStringLiteral("Invertir"), QStringLiteral("Invertir marcas"));
    cb_subir = boton(QStringLiteral("cb_subir"), QStringLiteral("Todo"), QStringLiteral("Subir todo"));
    cb_bajar = boton(QStringLiteral("cb_bajar"), QStringLiteral("Todo"), QStringLiteral("Bajar todo"));
    cb_desmarcar = boton(QStringLiteral("cb_desmarcar"), QStringLiteral("Desm."), QStringLiteral("Desmarcar Todo"));
    cb_subirch = boton(QStringLiteral("cb_subirch"), QStringLiteral("Subir "), QStringLiteral("Subir seleccionados"));
    cb_bajarsel = boton(QStringLiteral("cb_bajarsel"), QStringLiteral("Bajar"), QStringLiteral("Bajar seleccionados"));
    cb_eventos = boton(QStringLiteral("cb_eventos"), QStringLiteral("Eventos"), QStringLiteral("Bajar Eventos"));
    cb_imprimir = boton(QStringLiteral("cb_imprimir"), QStringLiteral("Imprimir"), QStringLiteral("Imprimir Reporte"));
    cb_comparar = boton(QStringLiteral("cb_comparar"), QStringLiteral("Comparar"),
                        QStringLiteral("Comparar lo guardado con el panel"));
    cb_subircambios = boton(QStringLiteral("cb_subircambios"), QStringLiteral("Cambios"),
                            QStringLiteral("Subir cambios: sólo lo que difiere del panel"));
    cb_historial = boton(QStringLiteral("cb_historial"), QStringLiteral("Historial"),
                         QStringLiteral("Historial de valores del abonado"));
}

// The link's status line, progress and traffic, under the tabs so that they
// are seen from any tab.
void w_panel::buildLinkLine()
{
    st_enlace = new QLabel(this);
    st_enlace->setObjectName(QStringLiteral("st_enlace"));
    st_enlace->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    st_enlace->setTextFormat(Qt::PlainText);
    // One line: a long text is cut, never widening the window (the tool-tip
    // holds it whole).
    st_enlace->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    st_progreso = text(QStringLiteral("st_progreso"), QString());
    st_progreso->setMinimumWidth(ui::twips(1500));
    pb_progreso = new QProgressBar(this);
    pb_progreso->setObjectName(QStringLiteral("pb_progreso"));
    pb_progreso->setRange(0, 100);
    pb_progreso->setValue(0);
    // The percentage is shown by st_progreso, which is empty while idle.
    pb_progreso->setTextVisible(false);
    pb_progreso->setMaximumHeight(fontMetrics().height() + 4);
    st_rx = text(QStringLiteral("st_rx"), QStringLiteral("RX"));
    st_tx = text(QStringLiteral("st_tx"), QStringLiteral("TX"));
    for (QLabel* l : {st_rx, st_tx}) {
        l->setAlignment(Qt::AlignCenter);
        l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        l->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("RX")) + 12);
        l->setAutoFillBackground(true);
    }
}

void w_panel::hideForLevel()
{
    const mdl_main& m = m_ctx.main;
    if (!m.may(permissions::Right::Programar)) {
        // Such a user cannot bypass zones, set the clock or disarm.
        SSTab_panel->setTabEnabled(1, false);
        QList<QWidget*> hidden{st_cbexclusion, img_stime, st_stime_t, img_disarm, st_disarm_t};
        for (QLabel* l : img_cbexclusion)
            hidden << l;
        for (QWidget* w : hidden) {
            m_hiddenByLevel.insert(w);
            w->hide();
        }
    }
    if (!m.may(permissions::Right::Borrar)) {
        // The date is only good for the delete button.
        for (QWidget* w : std::initializer_list<QWidget*>{st_borraeventos_t, dp_borraeventos, img_borraeventos}) {
            m_hiddenByLevel.insert(w);
            w->hide();
        }
    }
}

bool w_panel::rightAllows(const QAction* key) const
{
    if (key == cb_bajar || key == cb_bajarsel || key == cb_eventos)
        return m_ctx.main.may(permissions::Right::Bajar);
    if (key == cb_imprimir)
        return m_ctx.main.may(permissions::Right::Imprimir);
    return true;
}

QAction* w_panel::boton(const QString& key, const QString& caption, const QString& tip)
{
    QAction* a = tb_panel->addAction(ui::icon(key), caption);
    a->setObjectName(key);
    a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, key] { dispatch(key); });
    return a;
}

QAction* w_panel::button(int position) const
{
    const QList<QAction*> all{cb_buscar,   cb_modificar, cb_restaurar, cb_premarcar, cb_invertir,
                              cb_subir,    cb_bajar,     cb_desmarcar, cb_subirch,   cb_bajarsel,
                              cb_eventos,  cb_imprimir,  cb_comparar,  cb_subircambios};
    return position >= 1 && position <= all.size() ? all.at(position - 1) : nullptr;
}

QLabel* w_panel::lamp(const QString& name, const QString& tip)
{
    auto* l = new QLabel(this);
    l->setObjectName(name);
    l->setPixmap(ui::picture(QStringLiteral("gris"), LampSize));
    l->setAlignment(Qt::AlignCenter);
    l->setFixedSize(LampSize + 4, LampSize + 4);
    if (!tip.isEmpty()) {
        l->setToolTip(tip);
        m_fixedTips.insert(l, tip);
    }
    m_controls.insert(name, l);
    return l;
}

QLabel* w_panel::text(const QString& name, const QString& caption, const QString& tip)
{
    auto* l = new QLabel(caption, this);
    l->setObjectName(name);
    if (!tip.isEmpty()) {
        l->setToolTip(tip);
        m_fixedTips.insert(l, tip);
    }
    m_controls.insert(name, l);
    return l;
}

void w_panel::clickable(QLabel* image, QLabel* label, std::function<void()> action)
{
    for (QLabel* l : {image, label}) {
        if (!l)
            continue;
        l->setCursor(Qt::PointingHandCursor);
        l->installEventFilter(this);
        m_clicks.insert(l, action);
    }
}

// ---------------------------------------------------------------------------
// What the link reads

int w_panel::armingModeIndex() const
{
    return Combo_armado->currentIndex();
}

bool w_panel::restrictedCodeChecked() const
{
    return chk_restr_code->isChecked();
}

QString w_panel::restrictedCode() const
{
    return sle_restr_code->text();
}

QString w_panel::telephone() const
{
    return sle_telefono->text();
}

// ---------------------------------------------------------------------------
// Subscriber

void w_panel::showSubscriber(qint32 id)
{
    std::optional<subscribers::ConsoleHeader> h;
    if (id >= 1 && !m_ctx.main.maySeeSubscriber(id)) {
        m_ctx.messages.showError(permissions::outsideGroupsText(id));
        id = 0;
    }
    if (id >= 1) {
        try {
            // Without a stored access code the panel cannot be reached, so the
            // subscriber is not shown.
            h = subscribers::consoleHeader(m_ctx.main.db(), id);
        } catch (const db::Error& e) {
            qWarning("w_panel::showSubscriber: %s", qPrintable(e.text()));
            h.reset();
        }
    }
    const bool found = h.has_value();
    if (found) {
        m_subscriber.protocolCode = h->cadena;
        m_subscriber.number = h->abonado;
        m_subscriber.model = h->panel;
        m_configuration = h->configuracion;
        m_subscriber.accessCode = h->password;
    }
    if (!found)
        m_subscriber.number = 0;
    m_link.setSubscriber(m_subscriber);
    // 9 to 11 follow the marks and the link (updateTransferKeys).
    for (int pos : {3, 6, 7, 8, 12})
        button(pos)->setEnabled(found && rightAllows(button(pos)));
    SSTab_panel->setEnabled(m_subscriber.number >= 1);
    st_abonado[0]->setText(found ? h->codigo : QString());
    st_abonado[1]->setText(found ? h->nombre : QString());
    sle_telefono->setText(found ? h->telefono : QString());
    st_abonado[2]->setText(found ? h->modelo : QString());
    heldElsewhere();
    holdFollowsSubscriber();
    showSections();
    showEvents();
}

void w_panel::sessionStarted(qint32 subscriber)
{
    showSubscriber(subscriber);
}

QString w_panel::subscriberText() const
{
    return QStringLiteral("Abonado: ") + st_abonado[0]->text() + QStringLiteral(" - ") + st_abonado[1]->text();
}

QString w_panel::zoneText(int zone) const
{
    return QStringLiteral("Zona: %1 Abonado: ").arg(zone + 1) + st_abonado[0]->text() + QStringLiteral(" - ") +
           st_abonado[1]->text();
}

void w_panel::logOperation(int code, const QString& text) const
{
    m_ctx.main.logOperation(code, text);
}

void w_panel::connectionFailed()
{
    logOperation(OpConnectionFailed, subscriberText());
}

// ---------------------------------------------------------------------------
// Toolbar

void w_panel::dispatch(const QString& key)
{
    PanelLink& link = m_link;
    if (key == QLatin1String("cb_buscar")) {
        if (!link.connected())
            w_buscar::abrir(m_ctx, SearchMode::panel_abonado, this);
    } else if (key == QLatin1String("cb_modificar")) {
        editSelectedSection();
    } else if (key != QLatin1String("cb_imprimir") && refuseWhenHeldElsewhere()) {
        // Another station holds the subscriber: looking only.
    } else if (key == QLatin1String("cb_restaurar")) {
        if (m_subscriber.number > 0)
            restoreTemplateValues();
    } else if (key == QLatin1String("cb_premarcar")) {
        if (m_subscriber.number > 0)
            presetMarks();
    } else if (key == QLatin1String("cb_invertir")) {
        if (m_subscriber.number > 0)
            invertMarks();
    } else if (key == QLatin1String("cb_subir")) {
        markAll(1);
    } else if (key == QLatin1String("cb_bajar")) {
        markAll(-1);
    } else if (key == QLatin1String("cb_desmarcar")) {
        markAll(0);
    } else if (key == QLatin1String("cb_subirch")) {
        startTransfer(PanelLink::Transfer::Write, 5, true);
    } else if (key == QLatin1String("cb_bajarsel")) {
        startTransfer(PanelLink::Transfer::Read, 6, true);
    } else if (key == QLatin1String("cb_eventos")) {
        startTransfer(PanelLink::Transfer::Events, 7, false);
    } else if (key == QLatin1String("cb_comparar")) {
        compare();
    } else if (key == QLatin1String("cb_subircambios")) {
        uploadChanges();
    } else if (key == QLatin1String("cb_imprimir")) {
        if (m_subscriber.number > 0)
            reports::showPanelReport(m_ctx, m_subscriber.number, m_subscriber.model, m_configuration);
    } else if (key == QLatin1String("cb_historial")) {
        if (m_subscriber.number > 0 && w_historial::permitido(m_ctx.main))
            w_historial::abrirAbonado(m_ctx, m_subscriber.number);
    }
}

// ---------------------------------------------------------------------------
// Window

bool w_panel::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        const auto it = m_clicks.constFind(o);
        if (it != m_clicks.cend()) {
            const auto action = it.value();
            action();
            return true;
        }
    }
    return QWidget::eventFilter(o, e);
}

void w_panel::closeEvent(QCloseEvent* e)
{
    if (m_link.connected()) {
        e->ignore();
        m_ctx.messages.showError(QStringLiteral("Primero debe desconectarse"));
        return;
    }
    unload();
    QWidget::closeEvent(e);
}

void w_panel::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    PanelLink& link = m_link;
    if (link.console() == this)
        link.setConsole(nullptr);
    disconnect(&link, nullptr, this, nullptr);
    if (m_tookLineFromJob && link.lineSharing())
        link.lineSharing()->operatorLeavesLine();
    releaseSubscriber();
    m_subscriber = {};
    m_configuration = 0;
}
