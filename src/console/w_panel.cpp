#include "console/w_panel.h"

#include "app/mdl_main.h"
#include "app/ui_geometry.h"
#include "app/ui_pictures.h"
#include "console/events_model.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/shared_ops.h"
#include "link/mdl_trans.h"
#include "records/editor_context.h"
#include "records/search_context.h"
#include "records/ui_section_grid.h"
#include "records/w_buscar.h"
#include "records/w_seccion.h"
#include "reports/ui_reportes.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtDebug>

namespace {

constexpr int LampSize = 14;
// Operations log: a connection that the panel never answered.
constexpr int OpConnectionFailed = 17;

QString indexed(const char* name, int i)
{
    return LinkView::indexed(name, i);
}

QColor colour(LinkColour c)
{
    switch (c) {
    case LinkColour::Red: return QColor(220, 30, 30);
    case LinkColour::Green: return QColor(30, 170, 60);
    case LinkColour::Blue: return QColor(40, 80, 220);
    case LinkColour::ButtonFace: break;
    }
    return QColor();
}

// The labels whose caption the link writes; the others keep their own.
bool linkCaptioned(const QString& name)
{
    return name.startsWith(QLatin1String("st_zona_")) || name == QLatin1String("st_hora") ||
           name == QLatin1String("st_estado_t") || name == QLatin1String("st_progreso");
}

// A palette, not a style sheet: a style sheet re-polishes the label and lays
// out the window again at every frame.
void paintLabel(QLabel* l, LinkColour c)
{
    const QColor col = colour(c);
    QPalette p; // no role set: the label's usual colours
    if (col.isValid())
        p.setColor(QPalette::Window, col);
    l->setPalette(p);
}

} // namespace

w_panel::w_panel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("w_panel"));
    setWindowTitle(QStringLiteral("Panel"));

    // Header.
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
        g->setColumnStretch(2, 1);
        g->setColumnStretch(4, 1);
    }

    // Toolbar: enabling goes by position (button(n)).
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

    SSTab_panel = new QTabWidget(this);
    SSTab_panel->setObjectName(QStringLiteral("SSTab_panel"));
    SSTab_panel->addTab(buildVisor(), QStringLiteral("Visor"));
    SSTab_panel->addTab(buildSecciones(), QStringLiteral("Secciones"));
    SSTab_panel->addTab(buildEventos(), QStringLiteral("Eventos"));

    // The link's status line, progress and traffic, under the tabs so that
    // they are seen from any tab.
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
    const int level = mdl_main::instance().currentLevel;
    if (level >= 3) {
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
    for (const char* mode : {"Ausente c/demora", "Ausente s/demora", "Presente c/demora", "Presente s/demora"})
        Combo_armado->addItem(QString::fromUtf8(mode));
    Combo_armado->setCurrentIndex(0);
    dp_borraeventos->setDate(defaultDeleteDate(QDate::currentDate()));
    if (level > 1) {
        // The date is only good for the delete button.
        for (QWidget* w : std::initializer_list<QWidget*>{st_borraeventos_t, dp_borraeventos, img_borraeventos}) {
            m_hiddenByLevel.insert(w);
            w->hide();
        }
    }

    SearchContext::instance().registerDisplay(SearchMode::panel_abonado, this,
                                              [this](int id) { wf_muestraabonado(id); });

    mdl_trans& link = mdl_trans::instance();
    link.setConsole(this);
    connect(&link, &mdl_trans::viewChanged, this, &w_panel::render);
    // Queued: a message of the link is shown after its frame handler returned.
    connect(&link, &mdl_trans::messageQueued, this, &w_panel::showLinkMessages, Qt::QueuedConnection);
    // Until a subscriber is picked the console is in its no-subscriber state.
    wf_muestraabonado(0);
    link.f_reseteamodem();
    link.endSession();
    render();
}

w_panel::~w_panel()
{
    unload();
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
    const QList<QAction*> all{cb_buscar, cb_modificar, cb_restaurar, cb_premarcar, cb_invertir, cb_subir,
                              cb_bajar,  cb_desmarcar, cb_subirch,  cb_bajarsel,  cb_eventos,  cb_imprimir};
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

QWidget* w_panel::buildVisor()
{
    auto* page = new QWidget;

    frm_visor = new QFrame(page);
    frm_visor->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    frm_visor->setObjectName(QStringLiteral("frm_visor"));
    auto* visor = new QVBoxLayout(frm_visor);
    visor->setContentsMargins(6, 4, 6, 4);
    visor->setSpacing(4);

    // Zones in columns: number, state, bypass, memory, bypass button.
    auto* zones = new QGridLayout;
    zones->setHorizontalSpacing(1);
    zones->setVerticalSpacing(1);
    zones->addWidget(text(QStringLiteral("st_zonas_t"), QStringLiteral("Zonas")), 1, 0);
    zones->addWidget(text(QStringLiteral("st_exclusion_t"), QStringLiteral("Excluida")), 2, 0);
    zones->addWidget(text(QStringLiteral("st_memo_t"), QStringLiteral("Memoria")), 3, 0);
    st_cbexclusion = text(QStringLiteral("st_cbexclusion"), QStringLiteral("Excluír"));
    zones->addWidget(st_cbexclusion, 4, 0);
    for (int i = 0; i < 16; ++i) {
        const size_t z = size_t(i);
        st_zona[z] = text(indexed("st_zona", i), QString::number(i + 1));
        st_zona[z]->setAlignment(Qt::AlignCenter);
        img_zona[z] = lamp(indexed("img_zona", i));
        img_exclusion[z] = lamp(indexed("img_exclusion", i));
        img_memo[z] = lamp(indexed("img_memo", i));
        img_cbexclusion[z] = lamp(indexed("img_cbexclusion", i), QStringLiteral("Excluír zona %1").arg(i + 1));
        zones->addWidget(st_zona[z], 0, i + 1);
        zones->addWidget(img_zona[z], 1, i + 1);
        zones->addWidget(img_exclusion[z], 2, i + 1);
        zones->addWidget(img_memo[z], 3, i + 1);
        zones->addWidget(img_cbexclusion[z], 4, i + 1);
        clickable(img_cbexclusion[z], nullptr, [this, i] {
            const int log = mdl_trans::instance().zoneBypassClick(i);
            if (log)
                logOperation(log, zoneText(i));
        });
    }
    zones->setColumnStretch(17, 1);
    visor->addLayout(zones);

    // The keypad lamps.
    struct Lamp {
        const char* image;
        const char* label;
        const char* caption;
        const char* tip;
    };
    const Lamp lamps[8] = {
        {"img_listo", "st_listo_t", "Listo", "Led listo Teclado"},
        {"img_armado", "st_armado_t", "Armado", "Led armado Teclado"},
        {"img_sistema", "st_sistema_t", "Sistema", "Led de sistema Teclado"},
        {"img_fallas", "st_fallas_t", "Fallas", "Led auxiliar de Teclado"},
        {"img_bell", "st_bell_t", "Sirena", "Alarma sonando"},
        {"img_in", "st_in_t", "Entrar", "Tiempo de Entrada"},
        {"img_out", "st_out_t", "Salir", "Tiempo de Salida"},
        {"img_aa", "st_aa_t", "Auto Arm.", "Minuto previo Armado Automático"},
    };
    auto* lampGrid = new QGridLayout;
    lampGrid->setHorizontalSpacing(4);
    lampGrid->setVerticalSpacing(2);
    for (int i = 0; i < 8; ++i) {
        const QString tip = QString::fromUtf8(lamps[i].tip);
        lampGrid->addWidget(lamp(QLatin1String(lamps[i].image), tip), i / 4, (i % 4) * 2);
        lampGrid->addWidget(text(QLatin1String(lamps[i].label), QString::fromUtf8(lamps[i].caption), tip), i / 4,
                            (i % 4) * 2 + 1);
    }
    lampGrid->setColumnStretch(8, 1);
    visor->addLayout(lampGrid);

    // Partitions and PGM outputs: state and, beside, the buttons that change them.
    auto* outputs = new QGridLayout;
    outputs->setHorizontalSpacing(1);
    outputs->setVerticalSpacing(2);
    st_particion_t = text(QStringLiteral("st_particion_t"), QStringLiteral("Part."));
    st_cbpart = text(QStringLiteral("st_cbpart"), QStringLiteral("Partición"));
    outputs->addWidget(st_particion_t, 0, 0);
    outputs->addWidget(st_cbpart, 1, 0);
    for (int k = 0; k < 4; ++k) {
        img_particion[size_t(k)] = lamp(indexed("img_particion", k), QStringLiteral("Partición %1").arg(k + 1));
        img_cbparticion[size_t(k)] =
            lamp(indexed("img_cbparticion", k), QStringLiteral("Elegir partición %1").arg(k + 1));
        outputs->addWidget(img_particion[size_t(k)], 0, k + 1);
        outputs->addWidget(img_cbparticion[size_t(k)], 1, k + 1);
        clickable(img_cbparticion[size_t(k)], nullptr, [k] { mdl_trans::instance().partitionClick(k); });
    }
    outputs->setColumnMinimumWidth(5, 12);
    st_pgm_t = text(QStringLiteral("st_pgm_t"), QStringLiteral("Salidas"));
    st_cbpgm = text(QStringLiteral("st_cbpgm"), QStringLiteral("PGM"));
    outputs->addWidget(st_pgm_t, 0, 6);
    outputs->addWidget(st_cbpgm, 1, 6);
    for (int i = 0; i < 8; ++i) {
        img_pgm[size_t(i)] = lamp(indexed("img_pgm", i), QStringLiteral("PGM %1").arg(i + 1));
        img_cbpgm[size_t(i)] = lamp(indexed("img_cbpgm", i), QStringLiteral("Cambiar PGM %1").arg(i + 1));
        outputs->addWidget(img_pgm[size_t(i)], 0, i + 7);
        outputs->addWidget(img_cbpgm[size_t(i)], 1, i + 7);
        clickable(img_cbpgm[size_t(i)], nullptr, [this, i] { command(mdl_trans::CmdPgm, 15, i); });
    }
    outputs->setColumnStretch(15, 1);
    visor->addLayout(outputs);

    auto* state = new QHBoxLayout;
    st_estado_t = text(QStringLiteral("st_estado_t"), QStringLiteral("Estado"));
    st_err = text(QStringLiteral("st_err"), QStringLiteral("ERR"));
    st_err->setAlignment(Qt::AlignCenter);
    st_err->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    st_err->setAutoFillBackground(true);
    st_hora = text(QStringLiteral("st_hora"), QStringLiteral("--/--/-- --:--"));
    st_hora->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    st_hora->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00/00/00 00:00:00")) + 12);
    st_hora->setAlignment(Qt::AlignCenter);
    state->addWidget(st_estado_t);
    state->addWidget(st_err);
    state->addStretch(1);
    state->addWidget(st_hora);
    visor->addLayout(state);
    visor->addStretch(1);

    // Link and command buttons.
    frm_comandos = new QFrame(page);
    frm_comandos->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    frm_comandos->setObjectName(QStringLiteral("frm_comandos"));
    auto* cmd = new QGridLayout(frm_comandos);
    cmd->setContentsMargins(6, 4, 6, 4);
    cmd->setHorizontalSpacing(4);
    cmd->setVerticalSpacing(2);
    // Link buttons on the left, commands on the right, each column its own
    // grid: a button hidden by the user's level leaves no gap in it.
    auto* links = new QGridLayout;
    auto* commands = new QGridLayout;
    for (QGridLayout* g : {links, commands}) {
        g->setHorizontalSpacing(4);
        g->setVerticalSpacing(2);
    }
    cmd->addLayout(links, 0, 0, 1, 2, Qt::AlignTop);
    cmd->addLayout(commands, 0, 2, 1, 2, Qt::AlignTop);
    auto pair = [this, links, commands](QLabel*& image, QLabel*& label, const char* imageName, const char* labelName,
                                        const QString& caption, const QString& tip, int row, int col,
                                        std::function<void()> action) {
        image = lamp(QLatin1String(imageName), tip);
        label = text(QLatin1String(labelName), caption, tip);
        QGridLayout* g = col == 0 ? links : commands;
        g->addWidget(image, row, 0);
        g->addWidget(label, row, 1);
        clickable(image, label, std::move(action));
    };
    pair(img_connect, st_connect_t, "img_connect", "st_connect_t", QStringLiteral("Llamar"),
         QStringLiteral("Enlazar Directo"), 0, 0, [this] {
             if (mdl_trans::instance().img_connect_Click())
                 logOperation(3, subscriberText());
         });
    pair(img_connect_AMO, st_connect_AMO_t, "img_connect_AMO", "st_connect_AMO_t", QStringLiteral("Doble \"Call\""),
         QStringLiteral("Enlazar Doble Call"), 1, 0, [this] {
             if (mdl_trans::instance().img_connect_AMO_Click())
                 logOperation(3, subscriberText());
         });
    pair(Img_wait_call, st_wait_call, "Img_wait_call", "st_wait_call", QStringLiteral(" \"Call-Back\""),
         QStringLiteral("Modo Call-Back"), 2, 0, [] { mdl_trans::instance().Img_wait_call_Click(); });
    pair(img_end, st_end_t, "img_end", "st_end_t", QStringLiteral("Cortar"), QStringLiteral("Terminar Comunicación"),
         3, 0, [this] {
             if (mdl_trans::instance().img_end_Click())
                 logOperation(4, subscriberText());
         });
    Command1 = new QPushButton(QStringLiteral("IP"), frm_comandos);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFocusPolicy(Qt::NoFocus);
    connect(Command1, &QPushButton::clicked, this, [] { mdl_trans::instance().Command1_Click(); });
    img_IP = lamp(QStringLiteral("img_IP"), QStringLiteral("IP"));
    links->addWidget(img_IP, 4, 0);
    links->addWidget(Command1, 4, 1);

    pair(img_arm, st_arm_t, "img_arm", "st_arm_t", QStringLiteral("Activar"), QStringLiteral("Activar Panel"), 0, 2,
         [this] { command(mdl_trans::CmdArm, 8); });
    pair(img_disarm, st_disarm_t, "img_disarm", "st_disarm_t", QStringLiteral("Desact."),
         QStringLiteral("Desactivar Panel"), 1, 2, [this] { command(mdl_trans::CmdDisarm, 9); });
    pair(img_panico, st_panico_t, "img_panico", "st_panico_t", QStringLiteral("Pánico"),
         QStringLiteral("Activar Sirena"), 2, 2, [this] { command(mdl_trans::CmdPanic, 12); });
    pair(img_falla, st_cbfallas_t, "img_falla", "st_cbfallas_t", QStringLiteral("Fallas"),
         QStringLiteral("Pedir Fallas"), 3, 2, [this] { command(mdl_trans::CmdFaults, 16); });
    pair(img_stime, st_stime_t, "img_stime", "st_stime_t", QStringLiteral("Hora"), QStringLiteral("Enviar Hora PC"),
         4, 2, [this] { command(mdl_trans::CmdSetClock, 13); });

    Label_modo = text(QStringLiteral("Label_modo"), QStringLiteral("Modo"));
    Combo_armado = new QComboBox(frm_comandos);
    Combo_armado->setObjectName(QStringLiteral("Combo_armado"));
    cmd->addWidget(Label_modo, 1, 0, 1, 2);
    cmd->addWidget(Combo_armado, 2, 0, 1, 4);
    chk_restr_code = new QCheckBox(frm_comandos);
    chk_restr_code->setObjectName(QStringLiteral("chk_restr_code"));
    ST_restr_code = text(QStringLiteral("ST_restr_code"), QStringLiteral("Código Especial"));
    sle_restr_code = new QLineEdit(frm_comandos);
    sle_restr_code->setObjectName(QStringLiteral("sle_restr_code"));
    sle_restr_code->setEchoMode(QLineEdit::Password);
    sle_restr_code->setMaxLength(8);
    cmd->addWidget(chk_restr_code, 3, 0);
    cmd->addWidget(ST_restr_code, 3, 1, 1, 3);
    cmd->addWidget(sle_restr_code, 4, 0, 1, 4);
    cmd->setRowStretch(5, 1);
    cmd->setColumnStretch(3, 1);

    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(3, 3, 3, 3);
    row->addWidget(frm_visor, 1);
    row->addWidget(frm_comandos);
    return page;
}

QWidget* w_panel::buildSecciones()
{
    auto* page = new QWidget;
    st_filtroseccion_t = new QLabel(QStringLiteral("Filtro (seccion/descripción)"), page);
    st_filtroseccion_t->setObjectName(QStringLiteral("st_filtroseccion_t"));
    sle_filtroseccion = new QLineEdit(page);
    sle_filtroseccion->setObjectName(QStringLiteral("sle_filtroseccion"));
    sle_filtroseccion->setMaxLength(100);
    st_filtroseccion_t->setBuddy(sle_filtroseccion);
    fg_secciones = new QTableWidget(page);
    fg_secciones->setObjectName(QStringLiteral("fg_secciones"));
    ui::setupSectionGrid(fg_secciones);
    fg_secciones->installEventFilter(this);

    auto* l = new QVBoxLayout(page);
    l->setContentsMargins(3, 3, 3, 3);
    auto* f = new QHBoxLayout;
    f->addWidget(st_filtroseccion_t);
    f->addWidget(sle_filtroseccion, 1);
    l->addLayout(f);
    l->addWidget(fg_secciones, 1);

    connect(sle_filtroseccion, &QLineEdit::returnPressed, this, &w_panel::wf_muestrasecciones);
    connect(fg_secciones, &QTableWidget::cellClicked, this, [this](int row, int column) {
        if (column == ui::ColMarca)
            cycleMark(row);
    });
    connect(fg_secciones, &QTableWidget::cellDoubleClicked, this, [this](int, int column) {
        if (column >= ui::ColSeccion)
            wf_modificar();
    });
    return page;
}

QWidget* w_panel::buildEventos()
{
    auto* page = new QWidget;
    st_borraeventos_t = new QLabel(QStringLiteral("Borrar Eventos Hasta:"), page);
    st_borraeventos_t->setObjectName(QStringLiteral("st_borraeventos_t"));
    dp_borraeventos = new QDateEdit(page);
    dp_borraeventos->setObjectName(QStringLiteral("dp_borraeventos"));
    dp_borraeventos->setCalendarPopup(true);
    dp_borraeventos->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    img_borraeventos = new QLabel(page);
    img_borraeventos->setObjectName(QStringLiteral("img_borraeventos"));
    img_borraeventos->setPixmap(ui::picture(QStringLiteral("aceptar")));
    img_borraeventos->setToolTip(QStringLiteral("Borra eventos hasta la fecha indicada"));
    clickable(img_borraeventos, nullptr, [this] { deleteEvents(); });

    dg_eventos = new QTableView(page);
    dg_eventos->setObjectName(QStringLiteral("dg_eventos"));
    m_eventos = new EventsModel(this);
    dg_eventos->setModel(m_eventos);
    dg_eventos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dg_eventos->setSelectionBehavior(QAbstractItemView::SelectRows);
    dg_eventos->verticalHeader()->hide();
    dg_eventos->setColumnWidth(0, qMax(ui::twips(2000), fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00")) + 12));
    dg_eventos->setColumnWidth(1, ui::twips(4000));
    dg_eventos->setColumnWidth(2, ui::twips(1000));
    dg_eventos->horizontalHeader()->setStretchLastSection(true);

    auto* l = new QVBoxLayout(page);
    l->setContentsMargins(3, 3, 3, 3);
    auto* top = new QHBoxLayout;
    top->addWidget(st_borraeventos_t);
    top->addWidget(dp_borraeventos);
    top->addWidget(img_borraeventos);
    top->addStretch(1);
    l->addLayout(top);
    l->addWidget(dg_eventos, 1);
    return page;
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
// Rendering the link's indicator value

void w_panel::render()
{
    // Only what changed since the last drawing is touched: a turn that changes
    // nothing must not repaint or lay out anything.
    const LinkView& v = mdl_trans::instance().view();
    for (auto it = v.items.cbegin(); it != v.items.cend(); ++it) {
        const auto last = m_rendered.constFind(it.key());
        if (last != m_rendered.cend() && *last == it.value())
            continue;
        m_rendered.insert(it.key(), it.value());
        auto* l = qobject_cast<QLabel*>(m_controls.value(it.key()));
        if (!l)
            continue;
        const LinkIndicator& ind = it.value();
        if (!ind.picture.isEmpty()) {
            const QPixmap pm = ui::picture(ind.picture, LampSize);
            if (l->pixmap().cacheKey() != pm.cacheKey())
                l->setPixmap(pm);
        }
        else if (linkCaptioned(it.key()))
            l->setText(ind.caption);
        const QString tip = ind.toolTip.isEmpty() ? m_fixedTips.value(l) : ind.toolTip;
        if (l->toolTip() != tip)
            l->setToolTip(tip);
        l->setVisible(ind.visible && !m_hiddenByLevel.contains(l));
    }
    if (st_enlace->text() != v.statusLine) {
        st_enlace->setText(v.statusLine);
        st_enlace->setToolTip(v.statusLine);
    }
    const std::array<LinkColour, 3> colours{v.st_rx, v.st_tx, v.st_err};
    const std::array<QLabel*, 3> lamps{st_rx, st_tx, st_err};
    for (size_t i = 0; i < colours.size(); ++i) {
        if (!m_coloursDrawn || m_colours[i] != colours[i])
            paintLabel(lamps[i], colours[i]);
    }
    m_colours = colours;
    m_coloursDrawn = true;
    pb_progreso->setValue(qBound(0, v.pb_progreso, 100));
    updateTransferKeys();
}

void w_panel::showLinkMessages()
{
    // One box at a time: messages queued while one is open follow it.
    if (m_showingLinkMessages)
        return;
    m_showingLinkMessages = true;
    for (QList<mdl_trans::Message> m = mdl_trans::instance().takeMessages(); !m.isEmpty();
         m = mdl_trans::instance().takeMessages())
        for (const mdl_trans::Message& one : m)
            MessageService::instance().show(one.title, one.text, one.icon);
    m_showingLinkMessages = false;
}

void w_panel::updateTransferKeys()
{
    // While a transfer or an event download is pending a click would be
    // ignored: the keys say so.
    const mdl_trans& link = mdl_trans::instance();
    const bool busy = link.writePending || link.readPending || link.eventsPending;
    cb_subirch->setEnabled(m_marksUp && !busy);
    cb_bajarsel->setEnabled(m_marksDown && !busy);
    cb_eventos->setEnabled(il_abonado >= 1 && !busy);
}

// ---------------------------------------------------------------------------
// Subscriber

void w_panel::wf_muestraabonado(qint32 id)
{
    QString codigo, nombre, telefono, modelo;
    bool found = false;
    if (id >= 1) {
        try {
            // The subscriber with its model and its stored access code (item 1
            // of the model's password section): without that code the panel
            // cannot be reached, so the subscriber is not shown.
            QSqlQuery q = db::exec(
                mdl_main::instance().db(),
                QStringLiteral("SELECT a.id_abonado, a.codigo, COALESCE(a.apellido, '') || ' ' || COALESCE(a.nombre, '') "
                               "AS nombre, a.tel_1, p.cadena AS panel, a.id_panel, a.id_configuracion, "
                               "COALESCE(p.codigo, '') || ' ' || COALESCE(p.version, '') AS modelo, av.valor "
                               "FROM abonados a, paneles p, abonados_valores av "
                               "WHERE a.id_panel = p.id_panel AND a.id_abonado = av.id_abonado "
                               "AND p.id_seccionpwd = av.id_seccion AND av.id_item = 1 AND a.id_abonado = ?"),
                {id});
            if (q.next()) {
                found = true;
                codigo = db::text(q, "codigo");
                nombre = db::text(q, "nombre");
                telefono = db::text(q, "tel_1");
                modelo = db::text(q, "modelo");
                is_strpanel = db::text(q, "panel");
                il_abonado = db::integer(q, "id_abonado");
                il_panel = db::integer(q, "id_panel");
                il_configuracion = db::integer(q, "id_configuracion");
                is_password_db = db::text(q, "valor");
            }
        } catch (const db::Error& e) {
            qWarning("w_panel::wf_muestraabonado: %s", qPrintable(e.text()));
            found = false;
        }
    }
    if (!found)
        il_abonado = 0;
    // 9 to 11 follow the marks and the link (updateTransferKeys).
    for (int pos : {3, 6, 7, 8, 12})
        button(pos)->setEnabled(found);
    SSTab_panel->setEnabled(il_abonado >= 1);
    st_abonado[0]->setText(found ? codigo : QString());
    st_abonado[1]->setText(found ? nombre : QString());
    sle_telefono->setText(found ? telefono : QString());
    st_abonado[2]->setText(found ? modelo : QString());
    wf_muestrasecciones();
    wf_muestraeventos();
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
    mdl_main::instance().f_log(code, text);
}

void w_panel::connectionFailed()
{
    logOperation(OpConnectionFailed, subscriberText());
}

// ---------------------------------------------------------------------------
// Commands

void w_panel::command(int code, int log, int pgm)
{
    if (mdl_trans::instance().queueCommand(code, pgm))
        logOperation(log, subscriberText());
}

// ---------------------------------------------------------------------------
// Sections and marks

void w_panel::wf_muestrasecciones()
{
    for (QAction* a : {cb_desmarcar, cb_invertir})
        a->setEnabled(false);
    m_marksUp = m_marksDown = false;
    updateTransferKeys();
    if (mdl_main::instance().currentLevel >= 3) {
        for (QAction* a : {cb_restaurar, cb_subir, cb_bajar, cb_desmarcar, cb_imprimir})
            a->setEnabled(false);
        return;
    }

    QList<ui::SectionRow> rows;
    try {
        // A section's mark is the largest of the subscriber's item marks, 0 without items.
        QSqlQuery q = db::exec(mdl_main::instance().db(),
                               QStringLiteral("SELECT s.id_seccion, s.descripcion, "
                                              "COALESCE((SELECT max(av.id_estado) FROM abonados_valores av "
                                              "WHERE av.id_abonado = ? AND av.id_seccion = s.id_seccion), 0) AS estado "
                                              "FROM secciones s WHERE s.id_panel = ? ORDER BY s.id_seccion"),
                               {il_abonado, il_panel});
        while (q.next())
            rows << ui::SectionRow{db::integer(q, "id_seccion"), db::text(q, "descripcion"), db::integer(q, "estado")};
    } catch (const db::Error& e) {
        qWarning("w_panel::wf_muestrasecciones: %s", qPrintable(e.text()));
        rows.clear();
    }
    if (il_abonado < 1)
        rows.clear();

    for (const ui::SectionRow& r : ui::fillSectionGrid(fg_secciones, rows, ui::SectionFilter(sle_filtroseccion->text()), true)) {
        m_marksUp = m_marksUp || r.marca == 1;
        m_marksDown = m_marksDown || r.marca == -1;
    }
    for (QAction* a : {cb_desmarcar, cb_invertir})
        a->setEnabled(m_marksUp || m_marksDown);
    updateTransferKeys();
}

void w_panel::cycleMark(int row)
{
    int seccion = 0;
    int marca = 0;
    if (il_abonado < 1 || !ui::sectionAt(fg_secciones, row, &seccion, &marca))
        return;
    try {
        const QSqlDatabase c = mdl_main::instance().db();
        db::Transaction t(c);
        db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = ? AND id_seccion = ?"),
                 {ui::nextMark(marca), il_abonado, seccion});
        t.commit();
    } catch (const db::Error& e) {
        qWarning("w_panel: marca: %s", qPrintable(e.text()));
    }
    wf_muestrasecciones();
    if (row < fg_secciones->rowCount())
        fg_secciones->setCurrentCell(row, ui::ColMarca);
}

void w_panel::wf_modificar()
{
    const int row = fg_secciones->currentRow();
    int seccion = 0;
    int marca = 0;
    if (il_abonado < 1 || !ui::sectionAt(fg_secciones, row, &seccion, &marca))
        return;
    EditorContext::instance() = EditorContext::forSubscriber(il_abonado, il_panel, seccion, il_configuracion, marca);
    w_seccion* editor = w_seccion::abrir(this);
    connect(editor, &QDialog::finished, this, [this, row] {
        wf_muestrasecciones();
        if (row < fg_secciones->rowCount())
            fg_secciones->setCurrentCell(row, ui::ColSeccion);
        fg_secciones->setFocus();
    });
}

void w_panel::wf_abonados_valores()
{
    if (!askYesNo(QStringLiteral("¿Reemplaza los valores actuales?")))
        return;
    bool ok = false;
    try {
        const QSqlDatabase c = mdl_main::instance().db();
        db::Transaction t(c);
        ok = f_copiavalores(c, il_abonado, il_panel, 999, il_configuracion);
        if (ok)
            t.commit();
    } catch (const db::Error& e) {
        qWarning("w_panel::wf_abonados_valores: %s", qPrintable(e.text()));
        ok = false;
    }
    if (!ok) {
        MessageService::instance().show(QStringLiteral("Atención"), QStringLiteral("Error"),
                                        MessageService::Icon::Information);
        return;
    }
    wf_muestrasecciones();
}

void w_panel::wf_premarcar()
{
    if (!askYesNo(QStringLiteral("¿Restaura marcas según configuración?.\r\n Esta acción no puede deshacerse.")))
        return;
    try {
        const QSqlDatabase c = mdl_main::instance().db();
        db::Transaction t(c);
        db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = 0 WHERE id_abonado = ?"), {il_abonado});
        // Bajar last: it wins in a template section that holds both marks.
        for (int marca : {1, -1})
            db::exec(c,
                     QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = ? AND id_seccion IN "
                                    "(SELECT id_seccion FROM configuraciones_valores WHERE id_panel = ? "
                                    "AND id_configuracion = ? AND id_estado = ?)"),
                     {marca, il_abonado, il_panel, il_configuracion, marca});
        t.commit();
    } catch (const db::Error& e) {
        qWarning("w_panel::wf_premarcar: %s", qPrintable(e.text()));
        showError(QStringLiteral("No fué posible reestablecer las marcas."));
        return;
    }
    wf_muestrasecciones();
}

void w_panel::wf_invertir()
{
    try {
        const QSqlDatabase c = mdl_main::instance().db();
        db::Transaction t(c);
        db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = id_estado * -1 WHERE id_abonado = ?"),
                 {il_abonado});
        t.commit();
    } catch (const db::Error& e) {
        qWarning("w_panel::wf_invertir: %s", qPrintable(e.text()));
        showError(QStringLiteral("No fué posible invertir las marcas."));
        return;
    }
    wf_muestrasecciones();
}

void w_panel::markAll(int marca)
{
    try {
        const QSqlDatabase c = mdl_main::instance().db();
        db::Transaction t(c);
        db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = ?"),
                 {marca, il_abonado});
        t.commit();
    } catch (const db::Error& e) {
        qWarning("w_panel: marcar todo: %s", qPrintable(e.text()));
        return;
    }
    wf_muestraabonado(il_abonado);
}

// ---------------------------------------------------------------------------
// Transfers and events

void w_panel::startTransfer(bool& flag, int log, bool loadImage)
{
    mdl_trans& link = mdl_trans::instance();
    if (!link.connected() || link.writePending || link.readPending || link.eventsPending)
        return;
    logOperation(log, subscriberText());
    // The flag first: the image counts the sections of the pending direction.
    flag = true;
    if (loadImage)
        link.f_cargatransferencia(il_abonado);
    updateTransferKeys();
}

void w_panel::wf_muestraeventos()
{
    m_eventos->show(il_abonado);
}

QDate w_panel::defaultDeleteDate(const QDate& today)
{
    const QDate monthBack = today.addMonths(-1);
    return QDate(monthBack.year(), monthBack.month(), qMin(today.day(), 28));
}

void w_panel::deleteEvents()
{
    if (mdl_main::instance().currentLevel > 1 || il_abonado < 1)
        return;
    // Up to the start of the picked day, as the dates are compared.
    const QDate day = dp_borraeventos->date();
    const QString until = day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
    const QString shown = day.toString(QStringLiteral("dd/MM/yyyy"));
    try {
        const QSqlDatabase c = mdl_main::instance().db();
        const int n = db::scalar(c, QStringLiteral("SELECT count(*) FROM abonados_eventos WHERE id_abonado = ? AND fecha <= ?"),
                                 {il_abonado, until})
                          .toInt();
        if (n == 0) {
            MessageService::instance().show(QStringLiteral("Atención"),
                                            QStringLiteral("No hay eventos anteriores al %1.").arg(shown),
                                            MessageService::Icon::Information);
            return;
        }
        // Deleted events cannot be read from the panel again: ask first.
        if (!askYesNo(n == 1 ? QStringLiteral("¿Borra 1 evento anterior al %1?").arg(shown)
                             : QStringLiteral("¿Borra %1 eventos anteriores al %2?").arg(n).arg(shown)))
            return;
        db::Transaction t(c);
        db::exec(c, QStringLiteral("DELETE FROM abonados_eventos WHERE id_abonado = ? AND fecha <= ?"),
                 {il_abonado, until});
        t.commit();
    } catch (const db::Error& e) {
        qWarning("w_panel: borrar eventos: %s", qPrintable(e.text()));
        return;
    }
    wf_muestraeventos();
}

// ---------------------------------------------------------------------------
// Toolbar

void w_panel::dispatch(const QString& key)
{
    mdl_trans& link = mdl_trans::instance();
    if (key == QLatin1String("cb_buscar")) {
        if (!link.connected())
            w_buscar::abrir(SearchMode::panel_abonado, this);
    } else if (key == QLatin1String("cb_modificar")) {
        wf_modificar();
    } else if (key == QLatin1String("cb_restaurar")) {
        if (il_abonado > 0)
            wf_abonados_valores();
    } else if (key == QLatin1String("cb_premarcar")) {
        if (il_abonado > 0)
            wf_premarcar();
    } else if (key == QLatin1String("cb_invertir")) {
        if (il_abonado > 0)
            wf_invertir();
    } else if (key == QLatin1String("cb_subir")) {
        markAll(1);
    } else if (key == QLatin1String("cb_bajar")) {
        markAll(-1);
    } else if (key == QLatin1String("cb_desmarcar")) {
        markAll(0);
    } else if (key == QLatin1String("cb_subirch")) {
        startTransfer(link.writePending, 5, true);
    } else if (key == QLatin1String("cb_bajarsel")) {
        startTransfer(link.readPending, 6, true);
    } else if (key == QLatin1String("cb_eventos")) {
        startTransfer(link.eventsPending, 7, false);
    } else if (key == QLatin1String("cb_imprimir")) {
        if (il_abonado > 0)
            reports::showPanelReport(il_abonado, il_panel, il_configuracion);
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
    if (o == fg_secciones && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            wf_modificar();
            return true;
        }
    }
    return QWidget::eventFilter(o, e);
}

void w_panel::closeEvent(QCloseEvent* e)
{
    if (mdl_trans::instance().connected()) {
        e->ignore();
        showError(QStringLiteral("Primero debe desconectarse"));
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
    mdl_trans& link = mdl_trans::instance();
    if (link.console() == this)
        link.setConsole(nullptr);
    disconnect(&link, nullptr, this, nullptr);
    il_abonado = il_panel = il_configuracion = 0;
    is_password_db.clear();
    is_strpanel.clear();
}
