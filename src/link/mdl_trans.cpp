#include "link/mdl_trans.h"

#include "data/link_store.h"
#include "link/datagramsocket.h"
#include "link/frame_codec.h"
#include "link/link_view_builder.h"
#include "link/linkhost.h"
#include "link/linkconsole.h"
#include "link/serialport.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QRegularExpression>

Q_LOGGING_CATEGORY(lcLink, "sorvent.link")

namespace {

const QByteArray KeyModem = QByteArrayLiteral("CONNECT");
const QByteArray KeyIp = QByteArrayLiteral("CONNECT IP");
// Longest modem line kept ("CONNECT 115200/ARQ/V42BIS" fits).
constexpr int MaxModemLine = 64;

// Modem result codes that end a dial at once, and what the operator is told.
struct DialResult {
    const char* code;
    const char* reason;
};
const DialResult DialResults[] = {
    {"BUSY", "Ocupado"},         {"NO DIALTONE", "Sin tono de marcado"}, {"NO DIAL TONE", "Sin tono de marcado"},
    {"NO ANSWER", "No contesta"}, {"NO CARRIER", "Sin portadora"},        {"ERROR", "Error del módem"},
};
const char* const ReasonNoCarrier = "Sin portadora";
const char* const NoPort = "No se pudo abrir el puerto de comunicaciones";
const char* const Cancelled = "Llamada cancelada";

QString s(const char* t)
{
    return QString::fromUtf8(t);
}

} // namespace

mdl_trans& mdl_trans::instance()
{
    static mdl_trans t;
    return t;
}

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
    ipMode = waitingForCall = endAfterConnect = false;
    ipCallBack = keypadOpen = false;
    m_phase = LinkPhase::Idle;
    receiveBuffer.clear();
    replyPort = 0;
    peerHost.clear();
    peerPort = 0;
    allowedPanels.clear();
    strangerDatagrams = 0;
    lastStranger.clear();
    m_candidateHost.clear();
    m_candidatePort = 0;
    pendingCommand = waitCountdown = awaitingAnswer = retryCounter = 0;
    outstandingRequest = -1;
    rejectedAnswers = 0;
    frameError = clockKnown = status.faultView = ticksSuspended = false;
    clockOffsetMs = 0;
    rxFrame.fill(0);
    txFrame.fill(0);
    rxCount = 0;
    answersReceived.fill(0);
    framesSent = 0;
    writePending = readPending = eventsPending = false;
    progressPercent = progressTotal = 0;
    memoryImage.fill(0);
    transferMarks.fill(0);
    addressSection.fill(NoSection);
    addressType.fill(0);
    currentSubscriber = runStart = runEnd = 0;
    status.pgmIndex = 0;
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
    lineSpeed = 0;
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
// Transport

bool mdl_trans::reopenPort()
{
    // Closing and reopening drops the line: it also hangs up a call.
    if (!m_com)
        return false;
    if (m_com->isOpen())
        m_com->close();
    return m_com->open();
}

void mdl_trans::f_reseteamodem()
{
    // A console that opens starts without the last one's outcome.
    m_outcome.clear();
    if (!m_com)
        return;
    if (m_com->isOpen())
        m_com->close();
    if (m_host && m_host->portOpen() && m_com->open())
        m_com->write(QByteArrayLiteral("ATZ\r"));
}

void mdl_trans::f_llamar(const QString& phone, int wait)
{
    setLineReason(QString());
    m_outcome.clear();
    endSession();
    setPicture(QStringLiteral("img_connect"), QStringLiteral("amarillo"));
    stopListening();
    m_dialPhone = phone;
    m_dialWait = wait;
    if (!reopenPort()) {
        // No port: a failed dial at once, never a wait on nothing.
        afterCancelledOrFailedDial("img_connect", s(NoPort));
        return;
    }
    m_com->write("ATDT" + phone.toLatin1() + '\r');
    waitCountdown = wait;
    m_phase = LinkPhase::Calling;
    m_dialText.clear();
    changed();
    advanceDial();
}

void mdl_trans::f_doblellamada(const QString& phone)
{
    stopListening();
    setLineReason(QString());
    m_outcome.clear();
    endSession();
    setPicture(QStringLiteral("img_connect_AMO"), QStringLiteral("amarillo"));
    m_dialPhone = phone;
    if (!reopenPort()) {
        afterCancelledOrFailedDial("img_connect_AMO", s(NoPort));
        return;
    }
    m_com->write("ATDT" + phone.toLatin1() + '\r');
    waitCountdown = 100;
    m_phase = LinkPhase::Ringing;
    changed();
    advanceDial();
}

// The dial "loops": checked after every tick, every character read while
// calling, and whenever the end command is stored.
void mdl_trans::advanceDial()
{
    switch (m_phase) {
    case LinkPhase::Idle:
    case LinkPhase::Listening:
    case LinkPhase::Connected:
        return;
    case LinkPhase::Calling:
        if (m_dialText.contains(KeyModem)) {
            finishCall(true);
        } else if (pendingCommand == CmdEnd || waitCountdown <= 0) {
            finishCall(false);
        } else if (m_dialText.endsWith('\r') || m_dialText.endsWith('\n')) {
            // A whole line from the modem: a result code ends the dial now
            // rather than after the whole wait.
            const QByteArray line = m_dialText.trimmed();
            m_dialText.clear();
            for (const DialResult& r : DialResults) {
                if (line == r.code) {
                    setLineReason(s(r.reason));
                    finishCall(false);
                    break;
                }
            }
        } else if (m_dialText.size() > MaxModemLine) {
            m_dialText = m_dialText.right(MaxModemLine);
        }
        return;
    case LinkPhase::Ringing:
        if (pendingCommand != CmdEnd && waitCountdown > 0)
            return;
        m_phase = LinkPhase::Idle;
        if (m_com && m_com->isOpen())
            m_com->close();
        if (pendingCommand == CmdEnd) {
            afterCancelledOrFailedDial(nullptr, s(Cancelled));
            return;
        }
        // Ten seconds of ringing done: ten seconds on hook, then the call.
        setPicture(QStringLiteral("img_connect_AMO"), QStringLiteral("verde"));
        waitCountdown = 100;
        m_phase = LinkPhase::Pause;
        return;
    case LinkPhase::Pause:
        if (pendingCommand != CmdEnd && waitCountdown > 0)
            return;
        m_phase = LinkPhase::Idle;
        if (pendingCommand == CmdEnd) {
            // Same as a cancel while ringing, so an IP call-back choice is
            // kept here too.
            afterCancelledOrFailedDial(nullptr, s(Cancelled));
            return;
        }
        setPicture(QStringLiteral("img_connect_AMO"), QStringLiteral("gris"));
        f_llamar(m_dialPhone, 300);
        return;
    }
}

void mdl_trans::finishCall(bool connect)
{
    m_phase = LinkPhase::Idle;
    m_dialText.clear();
    if (!connect) {
        const bool cancelled = pendingCommand == CmdEnd;
        if (m_com && m_com->isOpen())
            m_com->close();
        QString why = s(Cancelled);
        if (!cancelled)
            why = lineReason.isEmpty()
                      ? QStringLiteral("No se pudo conectar: no hubo conexión en %1 s").arg(m_dialWait / 10)
                      : QStringLiteral("No se pudo conectar (%1)").arg(lineReason);
        afterCancelledOrFailedDial(cancelled ? nullptr : "img_connect", why);
        return;
    }
    enterConnected();
    f_muestraestado();
    awaitingAnswer = 0;
    pendingCommand = CmdReadClock;
    endAfterConnect = waitingForCall;
}

void mdl_trans::afterCancelledOrFailedDial(const char* redPicture, const QString& outcome)
{
    const bool viaIp = ipCallBack || ipMode;
    ipCallBack = false;
    endSession();
    if (redPicture)
        setPicture(QString::fromLatin1(redPicture), QStringLiteral("rojo"));
    setOutcome(outcome);
    if (waitingForCall) {
        if (viaIp)
            f_esperaip();
        else
            f_esperallamada();
    }
}

void mdl_trans::f_esperallamada()
{
    if (connected())
        return;
    if (!reopenPort()) {
        waitingForCall = ipMode = false;
        stopListening();
        f_muestraestado();
        setPicture(QStringLiteral("Img_wait_call"), QStringLiteral("rojo"));
        setOutcome(s(NoPort));
        return;
    }
    m_com->write(QByteArrayLiteral("ATS0=1\r"));
    ipMode = false;
    waitingForCall = true;
    m_phase = LinkPhase::Listening;
    f_muestraestado();
}

void mdl_trans::f_esperaip()
{
    if (connected())
        return;
    Close_IP();
    ipMode = true;
    ipCallBack = false;
    waitingForCall = true;
    m_phase = LinkPhase::Listening;
    if (!Open_IP()) {
        // Waiting on a socket that is not bound would never end.
        waitingForCall = ipMode = false;
        stopListening();
        f_muestraestado();
        setPicture(QStringLiteral("img_IP"), QStringLiteral("rojo"));
        setOutcome(m_ipPort > 0 ? QStringLiteral("No se pudo abrir el puerto IP %1").arg(m_ipPort)
                                : QStringLiteral("No se pudo abrir el puerto IP"));
        return;
    }
    f_muestraestado();
}

void mdl_trans::f_finespera()
{
    if (connected())
        return;
    if (m_com && m_com->isOpen())
        m_com->close();
    Close_IP();
    waitingForCall = ipMode = false;
    stopListening();
    f_muestraestado();
}

bool mdl_trans::Open_IP()
{
    m_ipPort = 0;
    if (!m_ip)
        return false;
    const std::optional<LinkIpSettings> settings = m_host ? m_host->linkStore().ipSettings() : std::nullopt;
    if (!settings) {
        if (m_host)
            m_host->showError(101);
        return false;
    }
    const int port = settings->port;
    const QString& allowed = settings->allowed;
    const QString& listen = settings->listen;
    if (port < 1 || port > 65535)
        return false;
    // A list or an address that cannot be read must not open the door to
    // every host: the socket stays closed.
    QList<QPair<QHostAddress, int>> panels;
    QString bad;
    if (!parseAllowedPanels(allowed, &panels, &bad)) {
        qCWarning(lcLink, "lista de paneles permitidos ilegible: %s", qPrintable(bad));
        return false;
    }
    QHostAddress address;
    if (!listen.isEmpty() && !address.setAddress(listen)) {
        qCWarning(lcLink, "dirección de escucha ilegible: %s", qPrintable(listen));
        return false;
    }
    allowedPanels = panels;
    strangerDatagrams = 0;
    lastStranger.clear();
    m_ipPort = port;
    return m_ip->bind(address, quint16(port));
}

bool mdl_trans::parseAllowedPanels(const QString& text, QList<QPair<QHostAddress, int>>* out, QString* bad)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    QList<QPair<QHostAddress, int>> list;
    for (const QString& entry : text.split(separators, Qt::SkipEmptyParts)) {
        QPair<QHostAddress, int> net;
        if (entry.contains(QLatin1Char('/'))) {
            net = QHostAddress::parseSubnet(entry);
        } else if (net.first.setAddress(entry)) {
            net.second = net.first.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32;
        }
        if (net.first.isNull() || net.second < 0) {
            if (bad)
                *bad = entry;
            return false;
        }
        list << net;
    }
    if (out)
        *out = list;
    return true;
}

namespace {
// An IPv4 sender seen through a dual-stack socket (::ffff:a.b.c.d) is the
// IPv4 address, as the settings write it.
QHostAddress plain(const QHostAddress& a)
{
    bool ok = false;
    const quint32 v4 = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : a;
}
} // namespace

bool mdl_trans::panelAllowed(const QHostAddress& address) const
{
    if (allowedPanels.isEmpty())
        return true;
    const QHostAddress a = plain(address);
    for (const auto& net : allowedPanels)
        if (a.isInSubnet(net.first, net.second))
            return true;
    return false;
}

void mdl_trans::Close_IP()
{
    if (m_ip)
        m_ip->close();
}

void mdl_trans::f_conexion(const QByteArray& received)
{
    const QByteArray& key = ipMode ? KeyIp : KeyModem;
    receiveBuffer += received;
    const qsizetype at = receiveBuffer.indexOf(key);
    if (at < 0) {
        // Keep only what may be the start of a keyword split across deliveries.
        if (receiveBuffer.size() > key.size())
            receiveBuffer = receiveBuffer.right(key.size());
        return;
    }
    // What followed the modem's keyword is the rest of its connect line.
    const QByteArray rest = ipMode ? QByteArray() : receiveBuffer.mid(at + key.size());
    if (ipMode)
        m_view.st_rx = LinkColour::Blue;
    enterConnected();
    endAfterConnect = false;
    f_muestraestado();
    awaitingAnswer = 0;
    pendingCommand = CmdReadClock;
    if (!rest.isEmpty())
        f_recibe(rest);
}

void mdl_trans::stopListening()
{
    if (m_phase == LinkPhase::Listening)
        m_phase = LinkPhase::Idle;
}

void mdl_trans::enterConnected()
{
    waitCountdown = 15;
    receiveBuffer.clear();
    m_rxOverflow = false;
    // Over the modem the rest of the connect line ("CONNECT 2400/ARQ") is
    // the modem's, not the panel's.
    m_connectLine = !ipMode;
    m_inFrame = false;
    m_modemLine.clear();
    lineSpeed = 0;
    setLineReason(QString());
    m_outcome.clear();
    m_endCause = EndCause::Requested;
    answeredSinceConnect = false;
    m_phase = LinkPhase::Connected;
    retryCounter = 0;
    rejectedAnswers = 0;
    outstandingRequest = -1;
    if (m_console)
        m_console->wf_muestraabonado(m_console->il_abonado);
    f_eligeclave();
}

void mdl_trans::f_eligeclave()
{
    if (!m_console)
        return;
    const QString special = m_console->restrictedCode();
    if (m_console->restrictedCodeChecked() && special.size() >= 4)
        m_console->is_password = special;
    else
        m_console->is_password = m_console->is_password_db;
}

void mdl_trans::onCommEvent(int event)
{
    if (event == SerialPort::ErDevice) {
        if (keypadOpen) {
            if (m_host)
                m_host->portLost();
        } else {
            serialDeviceLost();
        }
    }
    if (keypadOpen) {
        if (keypadHandler)
            keypadHandler(event);
        return;
    }
    if (!m_com)
        return;
    if (event == SerialPort::EvReceive && m_com->inBufferCount() >= 1) {
        if (m_phase == LinkPhase::Calling) {
            m_dialText += m_com->input();
            advanceDial();
        } else if (connected() || waitingForConnect()) {
            const QByteArray c = m_com->input();
            if (!ipMode) {
                if (connected())
                    f_recibe(c);
                else
                    f_conexion(c);
            }
        }
        // Otherwise the character stays in the port's buffer.
    }
    if (!ipMode) {
        // Only traffic of a call lights the lamps: the modem's answer to a
        // reset or to the auto-answer command must not stay lit while idle.
        const bool call = connected() || dialling();
        m_view.st_rx = call && event == SerialPort::EvReceive ? LinkColour::Red : LinkColour::ButtonFace;
        m_view.st_tx = call && event == SerialPort::EvSend ? LinkColour::Green : LinkColour::ButtonFace;
        changed();
    }
}

void mdl_trans::onDatagram(const QByteArray& data, const QHostAddress& sender, quint16 senderPort)
{
    const QHostAddress from = plain(sender);
    if (ipMode && connected()) {
        // The session belongs to its peer: anyone else is dropped before a
        // byte of theirs is decoded, and replies keep going to the peer.
        if (from != peerHost || senderPort != peerPort) {
            dropStranger(from, senderPort);
            return;
        }
        f_recibe(data);
        m_view.st_tx = LinkColour::ButtonFace;
        m_view.st_rx = LinkColour::Red;
    } else if (ipMode && waitingForConnect()) {
        if (!panelAllowed(from)) {
            dropStranger(from, senderPort);
            return;
        }
        // The keyword must come whole from one source.
        if (from != m_candidateHost || senderPort != m_candidatePort) {
            receiveBuffer.clear();
            m_candidateHost = from;
            m_candidatePort = senderPort;
        }
        f_conexion(data);
        if (connected()) {
            peerHost = from;
            peerPort = senderPort;
        }
        m_view.st_tx = LinkColour::ButtonFace;
    } else {
        // Neither connected nor waiting: fetched and dropped.
        return;
    }
    replyPort = senderPort;
    if (m_ip) {
        m_ip->setRemoteHost(from);
        m_ip->setRemotePort(replyPort);
    }
    changed();
}

void mdl_trans::dropStranger(const QHostAddress& from, quint16 port)
{
    ++strangerDatagrams;
    lastStranger = QStringLiteral("%1:%2").arg(from.toString()).arg(port);
    qCWarning(lcLink, "datagrama de %s descartado: no es el panel de la sesión (%d descartados)",
              qPrintable(lastStranger), strangerDatagrams);
    f_muestraestado();
}

void mdl_trans::serialDeviceLost()
{
    if (m_com && m_com->isOpen())
        m_com->close();
    if (m_host)
        m_host->portLost();
    const LinkPhase phase = m_phase;
    const bool overModem = !ipMode && (connected() || waitingForConnect());
    if (!dialling() && !overModem)
        return;
    qCWarning(lcLink, "el dispositivo del puerto serie desapareció: se corta el enlace");
    const char* red = phase == LinkPhase::Ringing || phase == LinkPhase::Pause       ? "img_connect_AMO"
                      : phase == LinkPhase::Calling || phase == LinkPhase::Connected ? "img_connect"
                                                                                   : "Img_wait_call";
    m_phase = LinkPhase::Idle;
    m_dialText.clear();
    waitingForCall = false;
    endSession();
    setPicture(QString::fromLatin1(red), QStringLiteral("rojo"));
    // Shown once the serial handler has returned, never from inside it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_host)
                m_host->showError(102);
        },
        Qt::QueuedConnection);
}

void mdl_trans::endConnection()
{
    const EndCause cause = m_endCause;
    m_endCause = EndCause::Requested;
    // Not one answer since the connection came up: no session took place.
    const bool failed = cause != EndCause::Requested && !answeredSinceConnect;
    const bool callBackLeg = endAfterConnect;
    if (m_com && m_com->isOpen())
        m_com->close();
    if (ipCallBack)
        waitingForCall = true;
    const bool wasIp = ipMode;
    endSession();
    switch (cause) {
    case EndCause::NoAnswer:
        setOutcome(QStringLiteral("Colgado: el panel no respondió a 10 pedidos"));
        break;
    case EndCause::LineDropped:
        setOutcome(QStringLiteral("Se cortó la línea (%1)").arg(lineReason));
        break;
    case EndCause::Requested:
        // The leg that only asks the panel to call back is no session.
        setOutcome(callBackLeg ? QString() : QStringLiteral("Comunicación terminada"));
        break;
    }
    if (failed && m_console)
        m_console->connectionFailed();
    if (!waitingForCall)
        return;
    if (ipCallBack)
        f_esperaip();
    else if (wasIp)
        f_finespera();
    else
        f_esperallamada();
}

// ---------------------------------------------------------------------------
// Console actions

bool mdl_trans::img_connect_Click()
{
    // While a link is up (or a dial runs) the button does nothing at all: an
    // IP link must not lose its IP mode to a stray click.
    if (connected() || keypadOpen || dialling())
        return false;
    if (ipMode) {
        ipCallBack = true;
        ipMode = false;
    }
    f_llamar(m_console ? m_console->telephone() : QString(), 900);
    return true;
}

bool mdl_trans::img_connect_AMO_Click()
{
    if (connected() || keypadOpen || dialling())
        return false;
    if (ipMode) {
        ipCallBack = true;
        ipMode = false;
    }
    f_doblellamada(m_console ? m_console->telephone() : QString());
    return true;
}

void mdl_trans::Img_wait_call_Click()
{
    // Not while dialling either: reopening the port would hang up the call.
    if (connected() || keypadOpen || dialling())
        return;
    setLineReason(QString());
    m_outcome.clear();
    if (waitingForCall)
        f_finespera();
    else
        f_esperallamada();
}

void mdl_trans::Command1_Click()
{
    if (!connected() && !dialling() && !keypadOpen) {
        setLineReason(QString());
        m_outcome.clear();
        if (waitingForCall)
            f_finespera();
        else
            f_esperaip();
        return;
    }
    if (connected() && !waitingForCall && !ipMode) {
        ipCallBack = !ipCallBack;
        f_muestraestado();
    }
}

bool mdl_trans::img_end_Click()
{
    if (!connected() && !dialling())
        return false;
    pendingCommand = CmdEnd;
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
    if (!connected() || pendingCommand != CmdNone)
        return false;
    if (command == CmdPgm) {
        if (pgm < 0 || pgm > 7)
            return false;
        status.pgmIndex = pgm;
    }
    pendingCommand = command;
    f_muestraestado();
    return true;
}

int mdl_trans::zoneBypassClick(int zone)
{
    // Without a link nothing would ever be sent: nothing changes, nothing
    // is logged.
    if (zone < 0 || zone > 15 || !connected())
        return 0;
    int& e = status.zoneBypass[size_t(zone)];
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
    if (k < 0 || k > 3 || !connected() || status.partition < 0 || status.partition == k + 4)
        return false;
    status.partition = k + 4;
    f_muestraestado();
    return true;
}

void mdl_trans::setPendingCommand(int command)
{
    pendingCommand = command;
    if (command == CmdEnd)
        advanceDial();
}

// ---------------------------------------------------------------------------
// Frames and scheduler

void mdl_trans::f_enviatrama(int n)
{
    n = qBound(1, n, MaxFrameBytes - 1);
    awaitingAnswer = 1;
    ++framesSent;
    const QByteArray text = codec::encode(txFrame.data(), n);
    pendingCommand = CmdNone;
    outstandingRequest = txFrame[3];
    if (ipMode) {
        if (m_ip) {
            if (!peerHost.isNull()) {
                m_ip->setRemoteHost(peerHost);
                m_ip->setRemotePort(peerPort);
            } else {
                m_ip->setRemotePort(replyPort);
            }
            m_ip->send(text);
        }
        m_view.st_rx = LinkColour::ButtonFace;
        m_view.st_tx = LinkColour::Green;
    } else {
        if (m_com && m_com->isOpen())
            m_com->write(text);
        m_view.st_tx = LinkColour::ButtonFace;
    }
    changed();
}

void mdl_trans::f_recibe(const QByteArray& received)
{
    m_view.st_rx = LinkColour::ButtonFace;
    if (ipMode) {
        // One datagram, one frame: without its ":" and its carriage return.
        m_rxOverflow = received.size() - 2 > codec::MaxChars;
        receiveBuffer = received.size() >= 2 && !m_rxOverflow ? received.mid(1, received.size() - 2) : QByteArray();
        awaitingAnswer = 0;
        f_decodifica();
        waitCountdown = 3;
        return;
    }
    for (const char c : received) {
        if (modemText(c)) {
            if (!connected())
                return; // the line dropped
            continue;
        }
        if (c == ':') {
            receiveBuffer.clear();
            m_rxOverflow = false;
        } else if (c == '\r') {
            if (receiveBuffer.size() >= 2) {
                awaitingAnswer = 0;
                f_decodifica();
                waitCountdown = 3;
                // A second carriage return must not hand the same answer over
                // twice (events would be stored twice).
                receiveBuffer.clear();
                m_rxOverflow = false;
            }
        } else if (receiveBuffer.size() < codec::MaxChars) {
            receiveBuffer += c;
        } else {
            // Longer than any frame: remembered, and the frame is bad.
            m_rxOverflow = true;
        }
    }
}

// The modem's own text while connected: the rest of the connect line, and
// result codes between frames (a frame is never read as one). True when the
// character was the modem's and is not part of frame assembly.
bool mdl_trans::modemText(char c)
{
    const bool lineEnd = c == '\r' || c == '\n';
    if (m_connectLine) {
        if (!lineEnd && c != ':') {
            if (m_modemLine.size() < MaxModemLine)
                m_modemLine += c;
            return true;
        }
        // A modem that ends its line with nothing but the first frame.
        takeConnectLine();
        if (lineEnd)
            return true;
    }
    if (c == ':') {
        m_inFrame = true;
        m_modemLine.clear();
        return false;
    }
    if (m_inFrame) {
        if (c == '\r')
            m_inFrame = false;
        return false;
    }
    if (!lineEnd) {
        if (m_modemLine.size() < MaxModemLine)
            m_modemLine += c;
        return false;
    }
    const bool dropped = m_modemLine.trimmed() == "NO CARRIER";
    m_modemLine.clear();
    if (dropped)
        lineDropped();
    return dropped;
}

void mdl_trans::takeConnectLine()
{
    // " 2400/ARQ", "2400", or nothing at all.
    const QByteArray rest = m_modemLine.trimmed();
    m_modemLine.clear();
    m_connectLine = false;
    int speed = 0;
    for (const char d : rest) {
        if (d < '0' || d > '9' || speed > 10000000)
            break;
        speed = speed * 10 + (d - '0');
    }
    if (speed > 0) {
        lineSpeed = speed;
        f_muestraestado();
    }
}

void mdl_trans::lineDropped()
{
    // The carrier is gone: an end request would reach nobody, so the
    // connection ends here as the turn after ten unanswered ones ends it.
    receiveBuffer.clear();
    setLineReason(s(ReasonNoCarrier));
    m_endCause = EndCause::LineDropped;
    endConnection();
}

void mdl_trans::setLineReason(const QString& reason)
{
    if (lineReason == reason)
        return;
    lineReason = reason;
    emit lineMessage(reason);
}

void mdl_trans::f_decodifica()
{
    codec::Bytes bytes{};
    const int pairs = m_rxOverflow ? -1 : codec::decode(receiveBuffer, bytes);
    bool bad = pairs < 0;
    if (!bad && !answerFits(bytes[0], pairs - 1)) {
        // Well formed, but not an answer to what was asked: nothing of it
        // is stored and no mark changes.
        rejectAnswer(bytes[0], pairs - 1);
        bad = true;
    } else if (!bad) {
        rxFrame = bytes;
        rxCount = pairs - 1;
        const int code = rxFrame[0];
        frameError = false;
        outstandingRequest = -1;
        switch (code) {
        case 0:
            f_recibememoria(rxCount);
            if (m_console)
                m_console->wf_muestrasecciones();
            break;
        case 1:
            f_confirmaescritura(rxCount);
            if (m_console)
                m_console->wf_muestrasecciones();
            break;
        case 2:
        case 12:
            status.faultView = code == 12;
            f_guardaestado(rxCount);
            break;
        case 6:
            f_guardaeventos(rxCount);
            if (m_console)
                m_console->wf_muestraeventos();
            break;
        case 10:
            panelClock(rxCount);
            break;
        case 13:
            f_guardaeventosfecha(rxCount);
            if (m_console)
                m_console->wf_muestraeventos();
            break;
        default:
            bad = true;
        }
        if (!bad)
            ++answersReceived[size_t(code)];
    }
    if (bad) {
        frameError = true;
    } else {
        retryCounter = 0;
        answeredSinceConnect = true;
    }
    f_muestraestado();
}

bool mdl_trans::answerFits(int code, int count) const
{
    switch (outstandingRequest) {
    case 0:
        // Exactly the run's bytes: fewer would leave addresses unread, more
        // belong to some other run.
        return code == 0 && runEnd > runStart && count - 1 == runEnd - runStart;
    case 1:
        return code == 1;
    case 2: case 3: case 4: case 7: case 8: case 9: case 11: case 12: case 15:
        // Status and commands are answered with a status; bytes 1-8 are
        // read in every one.
        return (code == 2 || code == 12) && count >= 9;
    case 10:
        return code == 10 && count >= 6;
    case 6:
    case 13:
        return code == outstandingRequest;
    default:
        // Nothing asked (or only the end of the connection).
        return false;
    }
}

void mdl_trans::rejectAnswer(int code, int count)
{
    ++rejectedAnswers;
    qCWarning(lcLink, "respuesta %d de %d bytes rechazada: no responde a la petición %d", code, count,
              outstandingRequest);
}

void mdl_trans::panelClock(int count)
{
    Q_UNUSED(count);
    const int minute = rxFrame[1], hour = rxFrame[2], day = rxFrame[3], month = rxFrame[4], year = rxFrame[5];
    // Two-digit years: the panel is set from the station's year mod 100.
    const QDate date(2000 + year, month, day);
    const QTime time(hour, minute);
    const QDateTime panel(date, time);
    if (year > 99 || !date.isValid() || !time.isValid() || !panel.isValid()) {
        clockKnown = false;
        return;
    }
    clockOffsetMs = panel.msecsTo(now());
    clockKnown = true;
}

void mdl_trans::showClock()
{
    m_view.items[QStringLiteral("st_hora")].caption =
        clockKnown ? now().addMSecs(-clockOffsetMs).toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                   : QStringLiteral("--/--/-- --:--");
    changed();
}

void mdl_trans::tick()
{
    if (ticksSuspended)
        return;
    if (waitCountdown >= 1) {
        --waitCountdown;
        advanceDial();
        return;
    }
    if (dialling()) {
        advanceDial();
        return;
    }
    if (!connected())
        return;
    if (awaitingAnswer == 1) {
        frameError = true;
        ++retryCounter;
        if (retryCounter >= 10) {
            pendingCommand = CmdEnd;
            m_endCause = EndCause::NoAnswer;
        }
        f_muestraestado();
    }
    waitCountdown = 1000;
    sendTurn();
    // The command picture goes back to grey once its request is out.
    if (connected())
        f_muestraestado();
    showClock();
}

void mdl_trans::sendTurn()
{
    if (endAfterConnect) {
        sendEnd();
        return;
    }
    switch (pendingCommand) {
    case CmdArm: {
        header(3);
        const int mode = m_console ? m_console->armingModeIndex() : 0;
        txFrame[4] = qBound(0, mode, 3);
        send(5, 50);
        return;
    }
    case CmdDisarm:
        header(4);
        send(4, 50);
        return;
    case CmdEnd:
        sendEnd();
        return;
    case CmdReadClock:
        header(10);
        send(4, 50);
        return;
    case CmdSetClock:
        sendSetClock();
        return;
    case CmdPgm:
        sendPgm();
        return;
    case CmdPanic:
        header(11);
        send(4, 50);
        return;
    case CmdFaults:
        sendStatus(status.systemFlags[13] == 1 && !status.faultView);
        return;
    default:
        break;
    }
    if (writePending) {
        f_siguienteescritura();
        return;
    }
    if (readPending) {
        f_siguientelectura();
        return;
    }
    if (eventsPending) {
        f_pideeventos();
        return;
    }
    bool bypassWaiting = false;
    for (int e : status.zoneBypass)
        bypassWaiting = bypassWaiting || e > 1;
    if (bypassWaiting)
        sendBypass();
    else if (status.partition >= 4)
        sendPartition();
    else
        sendStatus(status.systemFlags[13] == 1 && status.faultView);
}

void mdl_trans::header(int code)
{
    const QString pw = m_console ? m_console->is_password : QString();
    txFrame[0] = codec::accessCodeByte(pw, 0);
    txFrame[1] = codec::accessCodeByte(pw, 2);
    txFrame[2] = protocolCode();
    txFrame[3] = code;
}

int mdl_trans::protocolCode() const
{
    return m_console ? codec::protocolCodeOf(m_console->is_strpanel) : 0;
}

void mdl_trans::send(int n, int countdown)
{
    waitCountdown = countdown;
    f_enviatrama(n);
}

void mdl_trans::sendStatus(bool faultVariant)
{
    header(faultVariant ? 12 : 2);
    send(4, 50);
}

void mdl_trans::sendEnd()
{
    header(5);
    txFrame[4] = ipCallBack ? 1 : 0;
    waitCountdown = 200;
    // The 4800 baud interface mode repeats it far more often.
    const bool interface = m_com && m_com->settings().startsWith(QLatin1String("48"));
    const int times = interface ? 30 : 3;
    for (int i = 0; i < times; ++i)
        f_enviatrama(5);
    endConnection();
}

void mdl_trans::sendBypass()
{
    header(7);
    txFrame[4] = 0;
    txFrame[5] = 0;
    for (int i = 0; i < 16; ++i) {
        int& e = status.zoneBypass[size_t(i)];
        if (e == 1 || e == 3) {
            txFrame[size_t(4 + i / 8)] |= 1 << (i % 8);
            e = 1;
        } else if (e == 0 || e == 2) {
            e = 0;
        }
    }
    send(6, 50);
}

void mdl_trans::sendPartition()
{
    status.partition &= 3;
    header(15);
    txFrame[4] = status.partition;
    send(5, 50);
}

void mdl_trans::sendSetClock()
{
    const QDateTime t = now();
    header(8);
    txFrame[4] = t.time().minute();
    txFrame[5] = t.time().hour();
    txFrame[6] = t.date().day();
    txFrame[7] = t.date().month();
    txFrame[8] = t.date().year() % 100;
    send(9, 50);
}

void mdl_trans::sendPgm()
{
    header(9);
    txFrame[4] = (status.pgmMask ^ (1 << (status.pgmIndex & 7))) & 0xFF;
    send(5, 50);
}

void mdl_trans::f_pidememoria(int start, int count)
{
    header(0);
    txFrame[4] = start % 256;
    txFrame[5] = start / 256;
    txFrame[6] = count;
    send(7, 70);
}

void mdl_trans::f_escribememoria(int start, const QList<int>& data)
{
    const int n = int(qMin<qsizetype>(data.size(), 16));
    header(1);
    txFrame[4] = start % 256;
    txFrame[5] = start / 256;
    for (int k = 0; k < n; ++k)
        txFrame[size_t(6 + k)] = data.at(k) & 0xFF;
    send(6 + n, 70);
}

void mdl_trans::f_pideeventos()
{
    waitCountdown = 500;
    const bool shortRecords = protocolCode() < 2;
    header(shortRecords ? 6 : 13);
    txFrame[4] = shortRecords ? 8 : 2;
    send(5, 170);
}

// ---------------------------------------------------------------------------
// Status

void mdl_trans::f_guardaestado(int count)
{
    decodeStatus(rxFrame, count, status);
}

void mdl_trans::clearSession()
{
    const int pgmIndex = status.pgmIndex;
    status = LinkStatus{};
    status.pgmIndex = pgmIndex;
    writePending = false;
    progressPercent = 0;
    progressTotal = 0;
    m_view.items[QStringLiteral("st_progreso")].caption.clear();
    if (m_phase == LinkPhase::Connected)
        m_phase = LinkPhase::Idle;
    ipMode = false;
    frameError = false;
    clockKnown = false;
    pendingCommand = CmdNone;
    answeredSinceConnect = false;
    lineSpeed = 0;
    m_view.st_tx = m_view.st_rx = m_view.st_err = LinkColour::ButtonFace;
    m_view.pb_progreso = 0;
    peerHost.clear();
    peerPort = 0;
    outstandingRequest = -1;
}

void mdl_trans::endSession()
{
    clearSession();
    f_muestraestado();
}

const LinkView& mdl_trans::f_muestraestado()
{
    const IndicatorState state{status,        connected(),      answeredSinceConnect, waitingForCall,
                               waitingForConnect(), ipMode,     ipCallBack,           frameError,
                               pendingCommand, lineSpeed,     lineReason,           rejectedAnswers,
                               strangerDatagrams, lastStranger};
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

void mdl_trans::setOutcome(const QString& text)
{
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
        if (retryCounter > 0 && !answeredSinceConnect)
            return QStringLiteral("El panel no responde: verifique el código de acceso y el modelo");
        if (retryCounter > 0)
            return QStringLiteral("El panel no contesta: %1 de 10 pedidos sin respuesta").arg(retryCounter);
        const auto sections = [this](const char* doing) {
            const QString done = progressTotal > 0
                                     ? QStringLiteral("%1 de %2").arg(sectionsDone).arg(
                                           counted(int(progressTotal), "sección", "secciones"))
                                     : counted(sectionsDone, "sección", "secciones");
            return QStringLiteral("%1: %2").arg(QLatin1String(doing), done);
        };
        if (writePending)
            return sections("Subiendo");
        if (readPending)
            return sections("Bajando");
        if (eventsPending)
            return QStringLiteral("Bajando eventos: %1").arg(counted(eventsStored, "evento", "eventos"));
        if (!m_outcome.isEmpty())
            return m_outcome;
        if (ipMode)
            return QStringLiteral("Conectado por IP");
        return lineSpeed > 0 ? QStringLiteral("Conectado por módem (%1 bps)").arg(lineSpeed)
                             : QStringLiteral("Conectado por módem");
    }
    if (!waitingForCall)
        return m_outcome.isEmpty() ? QStringLiteral("Sin conexión") : m_outcome;
    const QString wait = ipMode ? QStringLiteral("Esperando la llamada del panel por IP en el puerto %1")
                                      .arg(m_ip ? m_ip->localPort() : m_ipPort)
                                : QStringLiteral("Esperando la llamada del panel por módem");
    return m_outcome.isEmpty() ? wait : m_outcome + QStringLiteral(". ") + wait;
}
