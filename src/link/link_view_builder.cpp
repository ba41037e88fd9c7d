#include "link/link_view_builder.h"

#include <QStringList>

namespace {

const char* const NoAnswerYet = "Conectado, sin respuesta del panel";

const char* const FaultTexts[8] = {
    "Falla de comunicador", "Falla de CA", "Falla de batería", "Falla de línea telefónica",
    "Falla de campana", "Falla de 12V periféricos", "Falla de reloj", "Llamador inhabilitado por usuario",
};

// System flag entry -> indicator and its picture when lit.
struct FlagLamp {
    int entry;
    const char* name;
    const char* picture;
};
const FlagLamp FlagLamps[] = {
    {0, "img_armado", "rojo"}, {3, "img_out", "rojo"},   {4, "img_in", "rojo"},
    {5, "img_bell", "rojo"},   {10, "img_aa", "rojo"},   {11, "img_listo", "verde"},
    {12, "img_sistema", "amarillo"}, {13, "img_fallas", "azul"},
};

// Names and picture keys built once: the view is built after every frame.
struct ViewNames {
    QString zona[16], memo[16], exclusion[16], cbexclusion[16], stzona[16], number[16];
    QString particion[4], cbparticion[4], pgm[8], cbpgm[8], fault[8];
    QString gris = QStringLiteral("gris"), verde = QStringLiteral("verde"), rojo = QStringLiteral("rojo"),
            amarillo = QStringLiteral("amarillo"), naranja = QStringLiteral("naranja"), azul = QStringLiteral("azul");
    QString flagName[8], flagPicture[8];
    QString commands[6] = {QStringLiteral("img_stime"), QStringLiteral("img_panico"), QStringLiteral("img_arm"),
                           QStringLiteral("img_disarm"), QStringLiteral("img_end"), QStringLiteral("img_falla")};
    ViewNames()
    {
        for (int i = 0; i < 16; ++i) {
            zona[i] = LinkView::indexed("img_zona", i);
            memo[i] = LinkView::indexed("img_memo", i);
            exclusion[i] = LinkView::indexed("img_exclusion", i);
            cbexclusion[i] = LinkView::indexed("img_cbexclusion", i);
            stzona[i] = LinkView::indexed("st_zona", i);
            number[i] = QString::number(i + 1);
        }
        for (int i = 0; i < 4; ++i) {
            particion[i] = LinkView::indexed("img_particion", i);
            cbparticion[i] = LinkView::indexed("img_cbparticion", i);
        }
        for (int i = 0; i < 8; ++i) {
            pgm[i] = LinkView::indexed("img_pgm", i);
            cbpgm[i] = LinkView::indexed("img_cbpgm", i);
            fault[i] = QString::fromUtf8(FaultTexts[i]);
            flagName[i] = QString::fromLatin1(FlagLamps[i].name);
            flagPicture[i] = QString::fromLatin1(FlagLamps[i].picture);
        }
    }
};

const ViewNames& names()
{
    static const ViewNames n;
    return n;
}

void counters(const IndicatorState& s, LinkView& v)
{
    if (v.rejectedAnswers == s.rejectedAnswers && v.strangerDatagrams == s.strangerDatagrams &&
        v.doubledAnswers == s.doubledAnswers && v.refusedPanels == s.refusedPanels)
        return;
    v.rejectedAnswers = s.rejectedAnswers;
    v.strangerDatagrams = s.strangerDatagrams;
    v.doubledAnswers = s.doubledAnswers;
    v.refusedPanels = s.refusedPanels;
    QStringList err;
    if (s.rejectedAnswers)
        err << QStringLiteral("Respuestas rechazadas en esta conexión: %1").arg(s.rejectedAnswers);
    if (s.doubledAnswers)
        err << QStringLiteral("Pedidos con dos respuestas distintas: %1").arg(s.doubledAnswers);
    v.items[QStringLiteral("st_err")].toolTip = err.join(QLatin1Char('\n'));
    QStringList ip;
    if (s.strangerDatagrams)
        ip << QStringLiteral("Datagramas descartados de otros orígenes: %1 (el último de %2)")
                  .arg(s.strangerDatagrams)
                  .arg(s.lastStranger);
    if (s.refusedPanels)
        ip << QStringLiteral("Paneles no permitidos: %1 (el último %2)").arg(s.refusedPanels).arg(s.lastRefusedPanel);
    v.items[QStringLiteral("img_IP")].toolTip = ip.join(QLatin1Char('\n'));
}

void partitions(const LinkStatus& st, bool working, LinkView& v)
{
    const ViewNames& n = names();
    v.items[QStringLiteral("st_particion_t")].visible = true;
    v.items[QStringLiteral("st_cbpart")].visible = true;
    for (int i = 0; i < 4; ++i) {
        LinkIndicator& cb = v.items[n.cbparticion[i]];
        cb.visible = true;
        cb.picture = st.partition == i + 4 ? n.verde : n.gris;
        LinkIndicator& p = v.items[n.particion[i]];
        p.visible = true;
        // Partition 1 stands for "none reported" only once the panel answers.
        p.picture = st.partition == i || (i == 0 && working && st.partition < 0) ? n.verde : n.gris;
    }
}

void zones(const LinkStatus& st, LinkView& v)
{
    const ViewNames& n = names();
    auto pic = [&v](const QString& name) -> QString& { return v.items[name].picture; };
    for (int i = 0; i < 16; ++i) {
        const size_t z = size_t(i);
        LinkIndicator& zone = v.items[n.zona[i]];
        zone.toolTip.clear();
        if (!st.faultView) {
            zone.picture = st.zoneState[z] == 1 ? n.rojo : n.gris;
        } else {
            if (i < 8)
                zone.toolTip = n.fault[i];
            zone.picture = st.zoneState[z] == 1 ? n.azul : n.gris;
        }
        pic(n.memo[i]) = st.zoneMemory[z] == 1 ? n.naranja : n.gris;
        switch (st.zoneBypass[z]) {
        case 0:
            pic(n.exclusion[i]) = n.gris;
            pic(n.cbexclusion[i]) = n.gris;
            break;
        case 1:
            pic(n.exclusion[i]) = n.amarillo;
            pic(n.cbexclusion[i]) = n.gris;
            break;
        case 2:
        case 3:
            pic(n.cbexclusion[i]) = n.amarillo;
            break;
        default:
            break;
        }
        v.items[n.stzona[i]].caption = n.number[i];
    }
}

// The connection's pictures, the modem's last word and the waiting commands.
void link(const IndicatorState& s, LinkView& v)
{
    const ViewNames& n = names();
    auto pic = [&v](const QString& name) -> QString& { return v.items[name].picture; };
    // Connected without a single answer (a wrong access code or model) is
    // not shown as a working link.
    const QString& linkPicture = s.connected && s.answeredSinceConnect ? n.verde : n.amarillo;
    pic(QStringLiteral("img_connect")) = s.connected && !s.waitingForCall ? linkPicture : n.gris;
    // The modem's last word, on the picture that shows the modem link: the
    // speed while connected, else why the last call failed or dropped.
    QString note = s.connected ? QString() : s.lineReason;
    if (s.connected && s.lineSpeed > 0)
        note = QStringLiteral("Conectado a %1 bps").arg(s.lineSpeed);
    if (s.connected && !s.answeredSinceConnect)
        note = QString::fromUtf8(NoAnswerYet);
    v.items[QStringLiteral("img_connect")].toolTip = s.waitingForCall ? QString() : note;
    v.items[QStringLiteral("Img_wait_call")].toolTip = s.waitingForCall ? note : QString();
    v.items[QStringLiteral("st_estado_t")].caption = s.status.faultView ? QStringLiteral("Fallas") : QStringLiteral("Estado");
    v.st_err = s.frameError ? LinkColour::Red : LinkColour::ButtonFace;

    for (const QString& name : n.commands)
        pic(name) = n.gris;
    for (int i = 0; i < 8; ++i)
        pic(n.cbpgm[i]) = n.gris;
    pic(QStringLiteral("Img_wait_call")) = s.ipCallBack ? n.naranja : n.gris;
    pic(QStringLiteral("img_IP")) = s.ipCallBack ? n.naranja : n.gris;
    switch (s.pendingCommand) {
    case LinkCommands::CmdArm: pic(QStringLiteral("img_arm")) = n.verde; break;
    case LinkCommands::CmdDisarm: pic(QStringLiteral("img_disarm")) = n.verde; break;
    case LinkCommands::CmdEnd: pic(QStringLiteral("img_end")) = n.verde; break;
    case LinkCommands::CmdSetClock: pic(QStringLiteral("img_stime")) = n.verde; break;
    case LinkCommands::CmdPgm: pic(n.cbpgm[s.status.pgmIndex & 7]) = n.verde; break;
    case LinkCommands::CmdPanic: pic(QStringLiteral("img_panico")) = n.verde; break;
    case LinkCommands::CmdFaults: pic(QStringLiteral("img_falla")) = n.verde; break;
    default: break;
    }

    if (s.waitingForCall) {
        if (s.ipMode)
            pic(QStringLiteral("img_IP")) = n.amarillo;
        else if (s.ipCallBack)
            pic(QStringLiteral("img_IP")) = n.naranja;
        pic(QStringLiteral("Img_wait_call")) = s.connected ? linkPicture : s.waitingForConnect ? n.amarillo : n.naranja;
    }
}

} // namespace

LinkView indicatorView(const IndicatorState& s, LinkView v)
{
    const ViewNames& n = names();
    counters(s, v);
    partitions(s.status, s.connected && s.answeredSinceConnect, v);
    zones(s.status, v);
    v.items[QStringLiteral("img_connect_AMO")].picture = n.gris;
    for (int i = 0; i < 8; ++i)
        v.items[n.flagName[i]].picture =
            s.status.systemFlags[size_t(FlagLamps[i].entry)] == 1 ? n.flagPicture[i] : n.gris;
    for (int i = 0; i < 8; ++i)
        v.items[n.pgm[i]].picture = (s.status.pgmMask >> i) & 1 ? n.rojo : n.gris;
    link(s, v);
    return v;
}
