#include "link/mdl_trans.h"

#include "link/datagramsocket.h"
#include "link/dial_string.h"
#include "link/link_view_builder.h"
#include "link/linkconsole.h"
#include "link/mdl_trans_log.h"
#include "link/serialport.h"

Q_LOGGING_CATEGORY(lcLink, "sorvent.link")

namespace {

QString s(const char* t)
{
    return QString::fromUtf8(t);
}

} // namespace

mdl_trans::mdl_trans(QObject* parent) : QObject(parent), m_now([] { return QDateTime::currentDateTime(); })
{
    reset();
}

mdl_trans::~mdl_trans() = default;

void mdl_trans::setDevices(SerialPort* com, DatagramSocket* ip)
{
    for (const auto& c : std::as_const(m_deviceConnections))
        disconnect(c);
    m_deviceConnections.clear();
    m_com = com;
    m_ip = ip;
    if (com)
        m_deviceConnections << connect(com, &SerialPort::commEvent, this, &mdl_trans::onCommEvent);
    if (ip)
        m_deviceConnections << connect(ip, &DatagramSocket::datagramReceived, this, &mdl_trans::onDatagram);
}

SerialPort* mdl_trans::comPort() const
{
    return m_com;
}

DatagramSocket* mdl_trans::ipSocket() const
{
    return m_ip;
}

void mdl_trans::setClock(std::function<QDateTime()> now)
{
    m_now = now ? std::move(now) : [] { return QDateTime::currentDateTime(); };
}

void mdl_trans::reset()
{
    m_ipMode = m_waitingForCall = m_endAfterConnect = false;
    m_ipCallBack = false;
    m_keypadHandler = nullptr;
    m_phase = LinkPhase::Idle;
    m_receiveBuffer.clear();
    m_replyPort = 0;
    m_peerHost.clear();
    m_peerPort = 0;
    allowedPanels.clear();
    m_strangerDatagrams = m_refusedPanels = 0;
    lastStranger.clear();
    m_lastRefusedPanel.clear();
    m_doubledAnswers = 0;
    m_doubledToReport = m_doubledReported = false;
    m_rereadSections.clear();
    m_candidateHost.clear();
    m_candidatePort = 0;
    m_pendingCommand = m_waitCountdown = m_awaitingAnswer = m_retryCounter = 0;
    m_outstandingRequest = -1;
    m_rejectedAnswers = 0;
    m_frameError = m_clockKnown = m_status.faultView = m_ticksSuspended = false;
    clockOffsetMs = 0;
    m_rxFrame.fill(0);
    m_txFrame.fill(0);
    m_rxCount = 0;
    m_answersReceived.fill(0);
    m_framesSent = 0;
    m_writePending = m_readPending = m_eventsPending = false;
    progressPercent = m_progressTotal = 0;
    m_memoryImage.fill(0);
    m_transferMarks.fill(0);
    m_addressSection.fill(NoSection);
    addressType.fill(0);
    currentSubscriber = m_runStart = m_runEnd = 0;
    m_readBack = ReadBack::None;
    m_verifyPass = 0;
    m_status.pgmIndex = 0;
    m_dialText.clear();
    m_dialPhone.clear();
    m_messages.clear();
    m_dialWait = m_ipPort = 0;
    m_outcome.clear();
    m_endCause = EndCause::Requested;
    answeredSinceConnect = false;
    sectionsDone = eventsStored = 0;
    m_rxOverflow = false;
    m_connectLine = m_inFrame = false;
    m_modemLine.clear();
    m_lineSpeed = 0;
    setLineReason(QString());
    m_view = LinkView();
    m_view.items[QStringLiteral("st_hora")].caption = QStringLiteral("--/--/-- --:--");
    endSession();
}

void mdl_trans::setPicture(const QString& name, const QString& key)
{
    m_view.items[name].picture = key;
    changed();
}

// ---------------------------------------------------------------------------
// Console actions

bool mdl_trans::img_connect_Click()
{
    // While a link is up (or a dial runs) the button does nothing at all: an
    // IP link must not lose its IP mode to a stray click.
    if (connected() || keypadOpen() || dialling())
        return false;
    if (m_ipMode) {
        m_ipCallBack = true;
        m_ipMode = false;
    }
    const QString phone = m_console ? m_console->telephone() : QString();
    f_llamar(phone, 900);
    // A number refused before dialling is no call to log.
    return dial::forbiddenCharacter(phone).isNull();
}

bool mdl_trans::img_connect_AMO_Click()
{
    if (connected() || keypadOpen() || dialling())
        return false;
    if (m_ipMode) {
        m_ipCallBack = true;
        m_ipMode = false;
    }
    const QString phone = m_console ? m_console->telephone() : QString();
    f_doblellamada(phone);
    return dial::forbiddenCharacter(phone).isNull();
}

void mdl_trans::Img_wait_call_Click()
{
    // Not while dialling either: reopening the port would hang up the call.
    if (connected() || keypadOpen() || dialling())
        return;
    setLineReason(QString());
    m_outcome.clear();
    if (m_waitingForCall)
        f_finespera();
    else
        f_esperallamada();
}

void mdl_trans::Command1_Click()
{
    if (!connected() && !dialling() && !keypadOpen()) {
        setLineReason(QString());
        m_outcome.clear();
        if (m_waitingForCall)
            f_finespera();
        else
            f_esperaip();
        return;
    }
    if (connected() && !m_waitingForCall && !m_ipMode) {
        m_ipCallBack = !m_ipCallBack;
        f_muestraestado();
    }
}

bool mdl_trans::img_end_Click()
{
    if (!connected() && !dialling())
        return false;
    m_pendingCommand = CmdEnd;
    f_muestraestado();
    advanceDial();
    return true;
}

bool mdl_trans::queueCommand(int command, int pgm)
{
    switch (command) {
    case CmdArm: case CmdDisarm: case CmdPanic: case CmdSetClock: case CmdPgm: case CmdFaults:
        break;
    default:
        return false;
    }
    if (!connected() || m_pendingCommand != CmdNone)
        return false;
    if (command == CmdPgm) {
        if (pgm < 0 || pgm > 7)
            return false;
        m_status.pgmIndex = pgm;
    }
    m_pendingCommand = command;
    f_muestraestado();
    return true;
}

int mdl_trans::zoneBypassClick(int zone)
{
    // Without a link nothing would ever be sent: nothing changes, nothing
    // is logged.
    if (zone < 0 || zone > 15 || !connected())
        return 0;
    int& e = m_status.zoneBypass[size_t(zone)];
    int log = 0;
    if (e == 0 || e == 2) {
        e = 3;
        log = 10;
    } else if (e == 1 || e == 3) {
        e = 2;
        log = 11;
    }
    f_muestraestado();
    return log;
}

bool mdl_trans::partitionClick(int k)
{
    if (k < 0 || k > 3 || !connected() || m_status.partition < 0 || m_status.partition == k + 4)
        return false;
    m_status.partition = k + 4;
    f_muestraestado();
    return true;
}

void mdl_trans::setPendingCommand(int command)
{
    m_pendingCommand = command;
    if (command == CmdEnd)
        advanceDial();
}

// ---------------------------------------------------------------------------
// Status

void mdl_trans::f_guardaestado(int count)
{
    decodeStatus(m_rxFrame, count, m_status);
}

void mdl_trans::clearSession()
{
    const int pgmIndex = m_status.pgmIndex;
    m_status = LinkStatus{};
    m_status.pgmIndex = pgmIndex;
    // Whatever the session was asked to move ends with it: nothing pending
    // may start by itself on the next call.
    m_readPending = m_eventsPending = m_writePending = false;
    m_readBack = ReadBack::None;
    m_transferMarks.fill(0);
    m_taken = {};
    eventsStored = 0;
    progressPercent = 0;
    m_progressTotal = 0;
    m_view.items[QStringLiteral("st_progreso")].caption.clear();
    if (m_phase == LinkPhase::Connected)
        m_phase = LinkPhase::Idle;
    m_ipMode = false;
    m_frameError = false;
    m_clockKnown = false;
    m_pendingCommand = CmdNone;
    answeredSinceConnect = false;
    m_lineSpeed = 0;
    m_view.st_tx = m_view.st_rx = m_view.st_err = LinkColour::ButtonFace;
    m_view.pb_progreso = 0;
    m_peerHost.clear();
    m_peerPort = 0;
    m_outstandingRequest = -1;
}

void mdl_trans::endSession()
{
    clearSession();
    f_muestraestado();
}

const LinkView& mdl_trans::f_muestraestado()
{
    const IndicatorState state{m_status,        connected(),      answeredSinceConnect, m_waitingForCall,
                               waitingForConnect(), m_ipMode,     m_ipCallBack,           m_frameError,
                               m_pendingCommand, m_lineSpeed,     m_lineReason,           m_rejectedAnswers,
                               m_strangerDatagrams, lastStranger, m_doubledAnswers, m_refusedPanels,
                               m_lastRefusedPanel};
    m_view = indicatorView(state, std::move(m_view));
    changed();
    return m_view;
}

// ---------------------------------------------------------------------------
// Status line

QString mdl_trans::counted(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(s(n == 1 ? one : many));
}

void mdl_trans::appendOutcome(const QString& sentence)
{
    setOutcome(m_outcome.isEmpty() ? sentence : m_outcome + QStringLiteral(". ") + sentence);
}

void mdl_trans::setOutcome(const QString& text)
{
    // How a dial, a call, a transfer or a read-back ended goes to the
    // diagnostics log too, for support.
    if (!text.isEmpty() && text != m_outcome)
        qCInfo(lcLink, "%s", qPrintable(text));
    m_outcome = text;
    changed();
}

QString mdl_trans::statusText() const
{
    switch (m_phase) {
    case LinkPhase::Calling:
        return QStringLiteral("Marcando %1…").arg(m_dialPhone);
    case LinkPhase::Ringing:
        return QStringLiteral("Doble llamada: marcando %1…").arg(m_dialPhone);
    case LinkPhase::Pause:
        return QStringLiteral("Doble llamada: en pausa antes de volver a marcar…");
    case LinkPhase::Idle:
    case LinkPhase::Listening:
    case LinkPhase::Connected:
        break;
    }
    if (connected()) {
        if (m_retryCounter > 0 && !answeredSinceConnect)
            return QStringLiteral("El panel no responde: verifique el código de acceso y el modelo");
        if (m_retryCounter > 0)
            return QStringLiteral("El panel no contesta: %1 de 10 pedidos sin respuesta").arg(m_retryCounter);
        if (const QString readBack = readBackStatus(); !readBack.isEmpty())
            return readBack;
        const auto sections = [this](const char* doing) {
            const QString done = m_progressTotal > 0
                                     ? QStringLiteral("%1 de %2").arg(sectionsDone).arg(
                                           counted(int(m_progressTotal), "sección", "secciones"))
                                     : counted(sectionsDone, "sección", "secciones");
            return QStringLiteral("%1: %2").arg(QLatin1String(doing), done);
        };
        if (m_writePending)
            return sections("Subiendo");
        if (m_readPending)
            return sections("Bajando");
        if (m_eventsPending)
            return QStringLiteral("Bajando eventos: %1").arg(counted(eventsStored, "evento", "eventos"));
        if (!m_outcome.isEmpty())
            return m_outcome;
        if (m_ipMode)
            return QStringLiteral("Conectado por IP");
        return m_lineSpeed > 0 ? QStringLiteral("Conectado por módem (%1 bps)").arg(m_lineSpeed)
                             : QStringLiteral("Conectado por módem");
    }
    if (!m_waitingForCall)
        return m_outcome.isEmpty() ? QStringLiteral("Sin conexión") : m_outcome;
    QString wait = m_ipMode ? QStringLiteral("Esperando la llamada del panel por IP en el puerto %1")
                                      .arg(m_ip ? m_ip->localPort() : m_ipPort)
                                : QStringLiteral("Esperando la llamada del panel por módem");
    // A panel knocking from an address the list does not allow would
    // otherwise wait in silence.
    if (m_ipMode && !m_lastRefusedPanel.isEmpty())
        wait = QStringLiteral("Se rechazó un panel no permitido: %1. %2").arg(m_lastRefusedPanel, wait);
    return m_outcome.isEmpty() ? wait : m_outcome + QStringLiteral(". ") + wait;
}
