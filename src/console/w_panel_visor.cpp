#include "console/w_panel.h"

#include "ui/ui_keyboard.h"
#include "ui/ui_pictures.h"
#include "console/lamp_text.h"
#include "data/messages.h"
#include "link/panel_link.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
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

QWidget* w_panel::buildVisor()
{
    auto* page = new QWidget;

    frm_visor = new QFrame(page);
    frm_visor->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    frm_visor->setObjectName(QStringLiteral("frm_visor"));
    auto* visor = new QVBoxLayout(frm_visor);
    visor->setContentsMargins(6, 4, 6, 4);
    visor->setSpacing(4);
    visor->addLayout(buildZones());
    visor->addLayout(buildLamps());
    visor->addLayout(buildOutputs());
    visor->addLayout(buildStateLine());

    visor->addStretch(1);
    buildCommands(page);

    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(3, 3, 3, 3);
    row->addWidget(frm_visor, 1);
    row->addWidget(frm_comandos);
    return page;
}

// Zones in columns: number, state, bypass, memory, bypass button.
QLayout* w_panel::buildZones()
{
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
            const int log = m_link.zoneBypassClick(i);
            if (log)
                logOperation(log, zoneText(i));
        });
    }
    zones->setColumnStretch(17, 1);
    return zones;
}

// The keypad lamps.
QLayout* w_panel::buildLamps()
{
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
    return lampGrid;
}

// Partitions and PGM outputs: state and, beside, the buttons that change them.
QLayout* w_panel::buildOutputs()
{
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
        clickable(img_cbparticion[size_t(k)], nullptr, [this, k] { m_link.partitionClick(k); });
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
        clickable(img_cbpgm[size_t(i)], nullptr, [this, i] { command(PanelLink::CmdPgm, 15, i); });
    }
    outputs->setColumnStretch(15, 1);
    return outputs;
}

QLayout* w_panel::buildStateLine()
{
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
    return state;
}

// Link and command buttons.
void w_panel::buildCommands(QWidget* page)
{
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
    addLinkButtons(links);
    addCommandButtons(commands);

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
    chk_restr_code->setAccessibleName(QStringLiteral("Usar código especial"));
    ST_restr_code->setBuddy(sle_restr_code);
    cmd->addWidget(chk_restr_code, 3, 0);
    cmd->addWidget(ST_restr_code, 3, 1, 1, 3);
    cmd->addWidget(sle_restr_code, 4, 0, 1, 4);
    cmd->setRowStretch(5, 1);
    cmd->setColumnStretch(3, 1);
}

void w_panel::addLinkButtons(QGridLayout* links)
{
    pair(links, img_connect, st_connect_t, "img_connect", "st_connect_t", QStringLiteral("Llamar"),
         QStringLiteral("Enlazar Directo"), 0, [this] {
             if (!lineIsMine() || !takeSubscriber())
                 return;
             afterDialClick(m_link.dialDirect(m_subscriber));
         });
    pair(links, img_connect_AMO, st_connect_AMO_t, "img_connect_AMO", "st_connect_AMO_t", QStringLiteral("Doble \"Call\""),
         QStringLiteral("Enlazar Doble Call"), 1, [this] {
             if (!lineIsMine() || !takeSubscriber())
                 return;
             afterDialClick(m_link.dialDoubleCall(m_subscriber));
         });
    pair(links, Img_wait_call, st_wait_call, "Img_wait_call", "st_wait_call", QStringLiteral(" \"Call-Back\""),
         QStringLiteral("Modo Call-Back"), 2, [this] { waitClick([this] { m_link.toggleModemWait(m_subscriber); }); });
    pair(links, img_end, st_end_t, "img_end", "st_end_t", QStringLiteral("Cortar"), QStringLiteral("Terminar Comunicación"),
         3, [this] {
             if (lineIsMine() && m_link.hangUp())
                 logOperation(4, subscriberText());
         });
    Command1 = new QPushButton(QStringLiteral("IP"), frm_comandos);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFocusPolicy(Qt::NoFocus);
    connect(Command1, &QPushButton::clicked, this, [this] { waitClick([this] { m_link.pressIpButton(m_subscriber); }); });
    Command1->setToolTip(QStringLiteral("Esperar la conexión del panel por IP"));
    ui::keyCommand(this, Command1, QStringLiteral("Command1"), [this] { Command1->click(); });
    img_IP = lamp(QStringLiteral("img_IP"), QStringLiteral("IP"));
    links->addWidget(img_IP, 4, 0);
    links->addWidget(Command1, 4, 1);
}

void w_panel::addCommandButtons(QGridLayout* commands)
{
    pair(commands, img_arm, st_arm_t, "img_arm", "st_arm_t", QStringLiteral("Activar"), QStringLiteral("Activar Panel"), 0,
         [this] { command(PanelLink::CmdArm, 8); });
    pair(commands, img_disarm, st_disarm_t, "img_disarm", "st_disarm_t", QStringLiteral("Desact."),
         QStringLiteral("Desactivar Panel"), 1, [this] { command(PanelLink::CmdDisarm, 9); });
    pair(commands, img_panico, st_panico_t, "img_panico", "st_panico_t", QStringLiteral("Pánico"),
         QStringLiteral("Activar Sirena"), 2, [this] { command(PanelLink::CmdPanic, 12); });
    pair(commands, img_falla, st_cbfallas_t, "img_falla", "st_cbfallas_t", QStringLiteral("Fallas"),
         QStringLiteral("Pedir Fallas"), 3, [this] { command(PanelLink::CmdFaults, 16); });
    pair(commands, img_stime, st_stime_t, "img_stime", "st_stime_t", QStringLiteral("Hora"), QStringLiteral("Enviar Hora PC"),
         4, [this] { command(PanelLink::CmdSetClock, 13); });
}

void w_panel::pair(QGridLayout* g, QLabel*& image, QLabel*& label, const char* imageName, const char* labelName,
                   const QString& caption, const QString& tip, int row, std::function<void()> action)
{
    image = lamp(QLatin1String(imageName), tip);
    label = text(QLatin1String(labelName), caption, tip);
    g->addWidget(image, row, 0);
    g->addWidget(label, row, 1);
    // Every link and panel command also has its function key.
    ui::keyCommand(this, image, QLatin1String(imageName), action);
    m_fixedTips.insert(image, image->toolTip());
    m_fixedTips.insert(label, image->toolTip());
    label->setToolTip(image->toolTip());
    clickable(image, label, std::move(action));
}

// ---------------------------------------------------------------------------
// Rendering the link's indicator value

void w_panel::render()
{
    // Only what changed since the last drawing is touched: a turn that changes
    // nothing must not repaint or lay out anything.
    const LinkView& v = m_link.view();
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
            // What the colour says, for a screen reader.
            if (const LampText t = lampText(it.key(), ind.picture); !t.name.isEmpty()) {
                l->setAccessibleName(t.name);
                l->setAccessibleDescription(t.state);
            }
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
    for (QList<PanelLink::Message> m = m_link.takeMessages(); !m.isEmpty();
         m = m_link.takeMessages())
        for (const PanelLink::Message& one : m)
            m_ctx.messages.show(one.title, one.text, one.icon);
    m_showingLinkMessages = false;
}

// ---------------------------------------------------------------------------
// Commands

void w_panel::command(int code, int log, int pgm)
{
    if (lineIsMine() && m_link.queueCommand(code, pgm))
        logOperation(log, subscriberText());
}
