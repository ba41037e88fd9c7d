#include "link/panel_link.h"

#include "link/datagramsocket.h"
#include "link/dial_string.h"
#include "link/link_view_builder.h"
#include "link/linkconsole.h"
#include "link/link_log.h"
#include "link/serialport.h"

Q_LOGGING_CATEGORY(lcLink, "sorvent.link")

namespace {

QString s(const char* t)
{
    return QString::fromUtf8(t);
}

} // namespace

PanelLink::PanelLink(QObject* parent) : QObject(parent), m_now([] { return QDateTime::currentDateTime(); })
{
    reset();
}

PanelLink::~PanelLink() = default;

void PanelLink::setDevices(SerialPort* com, DatagramSocket* ip)
{
    for (const auto& c : std::as_const(m_deviceConnections))
        disconnect(c);
    m_deviceConnections.clear();
    m_com = com;
    m_ip = ip;
    if (com)
        m_deviceConnections << connect(com, &SerialPort::commEvent, this, &PanelLink::onCommEvent);
    if (ip)
        m_deviceConnections << connect(ip, &DatagramSocket::datagramReceived, this, &PanelLink::onDatagram);
}

SerialPort* PanelLink::comPort() const
{
    return m_com;
}

DatagramSocket* PanelLink::ipSocket() const
{
    return m_ip;
}

void PanelLink::setClock(std::function<QDateTime()> now)
{
    m_now = now ? std::move(now) : [] { return QDateTime::currentDateTime(); };
}

void PanelLink::reset()
{
    storeHeldEvents();
    m_keypadHandler = nullptr;
    // Said before the connection forgets it, so the status bar clears too.
    setLineReason(QString());
    m_connection = LinkConnection{};
    m_scheduler.reset();
    m_transfer.reset();
    m_clockKnown = false;
    m_clockOffsetMs = 0;
    m_rxFrame.fill(0);
    m_rxCount = 0;
    m_status = LinkStatus{};
    m_subscriber = {};
    m_accessCode.clear();
    m_messages.clear();
    m_outcome.clear();
    m_view = LinkView();
    m_view.items[QStringLiteral("st_hora")].caption = QStringLiteral("--/--/-- --:--");
    endSession();
}

void PanelLink::changed()
{
    m_view.statusLine = statusText();
    emit viewChanged();
}

void PanelLink::queueMessage(const QString& title, const QString& text, MessageService::Icon icon)
{
    m_messages.append({title, text, icon});
    emit messageQueued();
}

void PanelLink::setPicture(const QString& name, const QString& key)
{
    m_view.items[name].picture = key;
    changed();
}

// ---------------------------------------------------------------------------
// Console actions

void PanelLink::setSubscriber(const LinkSubscriber& subscriber)
{
    if (!connected() || subscriber.number == m_subscriber.number)
        m_subscriber = subscriber;
}

bool PanelLink::beginDial(const LinkSubscriber& subscriber, QString* phone)
{
    // While a link is up (or a dial runs) the buttons do nothing at all: an
    // IP link must not lose its IP mode to a stray click.
    if (connected() || keypadOpen() || dialling())
        return false;
    m_subscriber = subscriber;
    if (m_connection.ipMode) {
        m_connection.ipCallBack = true;
        m_connection.ipMode = false;
    }
    *phone = m_console ? m_console->telephone() : QString();
    return true;
}

bool PanelLink::dialDirect(const LinkSubscriber& subscriber)
{
    QString phone;
    if (!beginDial(subscriber, &phone))
        return false;
    dial(phone, 900);
    // A number refused before dialling is no call to log.
    return dial::forbiddenCharacter(phone).isNull();
}

bool PanelLink::dialDoubleCall(const LinkSubscriber& subscriber)
{
    QString phone;
    if (!beginDial(subscriber, &phone))
        return false;
    dialTwice(phone);
    return dial::forbiddenCharacter(phone).isNull();
}

void PanelLink::toggleWait(const LinkSubscriber& subscriber, bool overIp)
{
    m_subscriber = subscriber;
    setLineReason(QString());
    m_outcome.clear();
    if (m_connection.waitingForCall)
        stopWaiting();
    else if (overIp)
        waitForIpCall();
    else
        waitForModemCall();
}

void PanelLink::toggleModemWait(const LinkSubscriber& subscriber)
{
    // Not while dialling either: reopening the port would hang up the call.
    if (connected() || keypadOpen() || dialling())
        return;
    toggleWait(subscriber, false);
}

void PanelLink::pressIpButton(const LinkSubscriber& subscriber)
{
    if (!connected() && !dialling() && !keypadOpen()) {
        toggleWait(subscriber, true);
        return;
    }
    if (connected() && !m_connection.waitingForCall && !m_connection.ipMode) {
        m_connection.ipCallBack = !m_connection.ipCallBack;
        updateView();
    }
}

bool PanelLink::hangUp()
{
    if (!connected() && !dialling())
        return false;
    m_scheduler.pendingCommand = CmdEnd;
    updateView();
    advanceDial();
    return true;
}

bool PanelLink::endCallNow()
{
    if (!connected())
        return hangUp();
    // A cancelled job waits for no call-back: the end frames say so.
    m_connection.ipCallBack = false;
    m_connection.waitingForCall = false;
    m_connection.endAfterConnect = false;
    sendEnd();
    return true;
}

bool PanelLink::queueCommand(int command, int pgm)
{
    switch (command) {
    case CmdArm: case CmdDisarm: case CmdPanic: case CmdSetClock: case CmdPgm: case CmdFaults:
        break;
    default:
        return false;
    }
    if (!connected() || m_scheduler.pendingCommand != CmdNone)
        return false;
    if (command == CmdPgm) {
        if (pgm < 0 || pgm > 7)
            return false;
        m_status.pgmIndex = pgm;
    }
    m_scheduler.pendingCommand = command;
    updateView();
    return true;
}

int PanelLink::zoneBypassClick(int zone)
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
    updateView();
    return log;
}

bool PanelLink::partitionClick(int k)
{
    if (k < 0 || k > 3 || !connected() || m_status.partition < 0 || m_status.partition == k + 4)
        return false;
    m_status.partition = k + 4;
    updateView();
    return true;
}

void PanelLink::setPendingCommand(int command)
{
    m_scheduler.pendingCommand = command;
    if (command == CmdEnd)
        advanceDial();
}

// ---------------------------------------------------------------------------
// Status

void PanelLink::storeStatus(int count)
{
    decodeStatus(m_rxFrame, count, m_status);
}

void PanelLink::clearSession()
{
    // What the panel sent before the session ended is stored all the same.
    if (!m_transfer.heldEvents.isEmpty())
        storeHeldEvents();
    const int pgmIndex = m_status.pgmIndex;
    m_status = LinkStatus{};
    m_status.pgmIndex = pgmIndex;
    // Whatever the session was asked to move ends with it: nothing pending
    // may start by itself on the next call.
    m_transfer.readPending = m_transfer.eventsPending = m_transfer.writePending = false;
    m_transfer.readBack = ReadBack::None;
    m_transfer.transferMarks.fill(0);
    m_scheduler.taken = {};
    m_transfer.eventsStored = 0;
    m_transfer.progressPercent = 0;
    m_transfer.progressTotal = 0;
    m_view.items[QStringLiteral("st_progreso")].caption.clear();
    if (m_connection.phase == LinkPhase::Connected)
        m_connection.phase = LinkPhase::Idle;
    m_connection.ipMode = false;
    m_scheduler.frameError = false;
    m_clockKnown = false;
    m_scheduler.pendingCommand = CmdNone;
    m_connection.answeredSinceConnect = false;
    m_connection.lineSpeed = 0;
    m_view.st_tx = m_view.st_rx = m_view.st_err = LinkColour::ButtonFace;
    m_view.pb_progreso = 0;
    m_connection.peerHost.clear();
    m_connection.peerPort = 0;
    m_scheduler.outstanding.reset();
}

void PanelLink::endSession()
{
    clearSession();
    updateView();
}

const LinkView& PanelLink::updateView()
{
    const IndicatorState state{m_status,        connected(),      m_connection.answeredSinceConnect, m_connection.waitingForCall,
                               waitingForConnect(), m_connection.ipMode,     m_connection.ipCallBack,           m_scheduler.frameError,
                               m_scheduler.pendingCommand, m_connection.lineSpeed,     m_connection.lineReason,           m_scheduler.rejectedAnswers,
                               m_connection.strangerDatagrams, m_connection.lastStranger, m_scheduler.doubledAnswers, m_connection.refusedPanels,
                               m_connection.lastRefusedPanel};
    m_view = indicatorView(state, std::move(m_view));
    changed();
    return m_view;
}

// ---------------------------------------------------------------------------
// Status line

QString PanelLink::counted(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(s(n == 1 ? one : many));
}

void PanelLink::appendOutcome(const QString& sentence)
{
    setOutcome(m_outcome.isEmpty() ? sentence : m_outcome + QStringLiteral(". ") + sentence);
}

void PanelLink::setOutcome(const QString& text)
{
    // How a dial, a call, a transfer or a read-back ended goes to the
    // diagnostics log too, for support.
    if (!text.isEmpty() && text != m_outcome)
        qCInfo(lcLink, "%s", qPrintable(text));
    m_outcome = text;
    changed();
}

QString PanelLink::statusText() const
{
    switch (m_connection.phase) {
    case LinkPhase::Calling:
        return QStringLiteral("Marcando %1…").arg(m_connection.dialPhone);
    case LinkPhase::Ringing:
        return QStringLiteral("Doble llamada: marcando %1…").arg(m_connection.dialPhone);
    case LinkPhase::Pause:
        return QStringLiteral("Doble llamada: en pausa antes de volver a marcar…");
    case LinkPhase::Idle:
    case LinkPhase::Listening:
    case LinkPhase::Connected:
        break;
    }
    if (connected()) {
        if (m_scheduler.retryCounter > 0 && !m_connection.answeredSinceConnect)
            return QStringLiteral("El panel no responde: verifique el código de acceso y el modelo");
        if (m_scheduler.retryCounter > 0)
            return QStringLiteral("El panel no contesta: %1 de 10 pedidos sin respuesta").arg(m_scheduler.retryCounter);
        if (const QString readBack = readBackStatus(); !readBack.isEmpty())
            return readBack;
        const auto sections = [this](const char* doing) {
            const QString done = m_transfer.progressTotal > 0
                                     ? QStringLiteral("%1 de %2").arg(m_transfer.sectionsDone).arg(
                                           counted(int(m_transfer.progressTotal), "sección", "secciones"))
                                     : counted(m_transfer.sectionsDone, "sección", "secciones");
            return QStringLiteral("%1: %2").arg(QLatin1String(doing), done);
        };
        if (m_transfer.writePending)
            return sections("Subiendo");
        if (m_transfer.readPending)
            return sections("Bajando");
        if (m_transfer.eventsPending)
            return QStringLiteral("Bajando eventos: %1").arg(counted(m_transfer.eventsStored + int(m_transfer.heldEvents.size()), "evento", "eventos"));
        if (!m_outcome.isEmpty())
            return m_outcome;
        if (m_connection.ipMode)
            return QStringLiteral("Conectado por IP");
        return m_connection.lineSpeed > 0 ? QStringLiteral("Conectado por módem (%1 bps)").arg(m_connection.lineSpeed)
                             : QStringLiteral("Conectado por módem");
    }
    if (!m_connection.waitingForCall)
        return m_outcome.isEmpty() ? QStringLiteral("Sin conexión") : m_outcome;
    QString wait = m_connection.ipMode ? QStringLiteral("Esperando la llamada del panel por IP en el puerto %1")
                                      .arg(m_ip ? m_ip->localPort() : m_connection.ipPort)
                                : QStringLiteral("Esperando la llamada del panel por módem");
    // A panel knocking from an address the list does not allow would
    // otherwise wait in silence.
    if (m_connection.ipMode && !m_connection.lastRefusedPanel.isEmpty())
        wait = QStringLiteral("Se rechazó un panel no permitido: %1. %2").arg(m_connection.lastRefusedPanel, wait);
    return m_outcome.isEmpty() ? wait : m_outcome + QStringLiteral(". ") + wait;
}
