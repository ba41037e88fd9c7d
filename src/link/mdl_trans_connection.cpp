// The connection: modem reset, dial and double call, call-back waits over
// the modem and IP, the connect keyword, the modem's own text while
// connected, the serial device's events, and the end of a connection.

#include "link/mdl_trans.h"

#include "link/datagramsocket.h"
#include "link/dial_string.h"
#include "link/linkconsole.h"
#include "link/linkhost.h"
#include "link/mdl_trans_log.h"
#include "link/serialport.h"

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


bool mdl_trans::reopenPort()
{
    // Closing and reopening drops the line: it also hangs up a call.
    if (!m_com)
        return false;
    if (m_com->isOpen())
        m_com->close();
    return m_com->open();
}

bool mdl_trans::refuseNumber(const QString& phone, const char* picture)
{
    // A number from an older database or a copy is checked here too: it
    // never reaches the modem with a command hidden in it.
    const QChar bad = dial::forbiddenCharacter(phone);
    if (bad.isNull())
        return false;
    const QString why = QStringLiteral("No se marcó: el número de teléfono tiene un carácter que no se puede marcar (%1)")
                            .arg(dial::describe(bad));
    qCWarning(lcLink, "%s", qPrintable(why));
    afterCancelledOrFailedDial(picture, why);
    return true;
}

void mdl_trans::writeModemCommand(const QByteArray& command)
{
    // What the modem said before this command (the "NO CARRIER" of the last
    // hang-up, echoes of the end frames) must not be read as its result.
    m_com->discardInput();
    m_com->write(command + '\r');
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
    if (refuseNumber(phone, "img_connect"))
        return;
    if (!reopenPort()) {
        // No port: a failed dial at once, never a wait on nothing.
        afterCancelledOrFailedDial("img_connect", s(NoPort));
        return;
    }
    writeModemCommand("ATDT" + phone.toLatin1());
    qCInfo(lcLink, "marcando %s", qPrintable(phone));
    m_waitCountdown = wait;
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
    if (refuseNumber(phone, "img_connect_AMO"))
        return;
    if (!reopenPort()) {
        afterCancelledOrFailedDial("img_connect_AMO", s(NoPort));
        return;
    }
    writeModemCommand("ATDT" + phone.toLatin1());
    qCInfo(lcLink, "doble llamada: marcando %s", qPrintable(phone));
    m_waitCountdown = 100;
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
        } else if (m_pendingCommand == CmdEnd || m_waitCountdown <= 0) {
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
        if (m_pendingCommand != CmdEnd && m_waitCountdown > 0)
            return;
        m_phase = LinkPhase::Idle;
        if (m_com && m_com->isOpen())
            m_com->close();
        if (m_pendingCommand == CmdEnd) {
            afterCancelledOrFailedDial(nullptr, s(Cancelled));
            return;
        }
        // Ten seconds of ringing done: ten seconds on hook, then the call.
        setPicture(QStringLiteral("img_connect_AMO"), QStringLiteral("verde"));
        m_waitCountdown = 100;
        m_phase = LinkPhase::Pause;
        return;
    case LinkPhase::Pause:
        if (m_pendingCommand != CmdEnd && m_waitCountdown > 0)
            return;
        m_phase = LinkPhase::Idle;
        if (m_pendingCommand == CmdEnd) {
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
        const bool cancelled = m_pendingCommand == CmdEnd;
        if (m_com && m_com->isOpen())
            m_com->close();
        QString why = s(Cancelled);
        if (!cancelled)
            why = m_lineReason.isEmpty()
                      ? QStringLiteral("No se pudo conectar: no hubo conexión en %1 s").arg(m_dialWait / 10)
                      : QStringLiteral("No se pudo conectar (%1)").arg(m_lineReason);
        afterCancelledOrFailedDial(cancelled ? nullptr : "img_connect", why);
        return;
    }
    enterConnected();
    f_muestraestado();
    m_awaitingAnswer = 0;
    m_pendingCommand = CmdReadClock;
    m_endAfterConnect = m_waitingForCall;
}

void mdl_trans::afterCancelledOrFailedDial(const char* redPicture, const QString& outcome)
{
    const bool viaIp = m_ipCallBack || m_ipMode;
    m_ipCallBack = false;
    endSession();
    if (redPicture)
        setPicture(QString::fromLatin1(redPicture), QStringLiteral("rojo"));
    setOutcome(outcome);
    if (m_waitingForCall) {
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
        m_waitingForCall = m_ipMode = false;
        stopListening();
        f_muestraestado();
        setPicture(QStringLiteral("Img_wait_call"), QStringLiteral("rojo"));
        setOutcome(s(NoPort));
        return;
    }
    writeModemCommand(QByteArrayLiteral("ATS0=1"));
    m_ipMode = false;
    m_waitingForCall = true;
    m_phase = LinkPhase::Listening;
    f_muestraestado();
}

void mdl_trans::f_esperaip()
{
    if (connected())
        return;
    Close_IP();
    m_ipMode = true;
    m_ipCallBack = false;
    m_waitingForCall = true;
    m_phase = LinkPhase::Listening;
    if (!Open_IP()) {
        // Waiting on a socket that is not bound would never end.
        m_waitingForCall = m_ipMode = false;
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
    m_waitingForCall = m_ipMode = false;
    stopListening();
    f_muestraestado();
}

void mdl_trans::f_conexion(const QByteArray& received)
{
    const QByteArray& key = m_ipMode ? KeyIp : KeyModem;
    m_receiveBuffer += received;
    const qsizetype at = m_receiveBuffer.indexOf(key);
    if (at < 0) {
        // Keep only what may be the start of a keyword split across deliveries.
        if (m_receiveBuffer.size() > key.size())
            m_receiveBuffer = m_receiveBuffer.right(key.size());
        return;
    }
    // What followed the modem's keyword is the rest of its connect line.
    const QByteArray rest = m_ipMode ? QByteArray() : m_receiveBuffer.mid(at + key.size());
    if (m_ipMode)
        m_view.st_rx = LinkColour::Blue;
    enterConnected();
    m_endAfterConnect = false;
    f_muestraestado();
    m_awaitingAnswer = 0;
    m_pendingCommand = CmdReadClock;
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
    m_waitCountdown = 15;
    m_receiveBuffer.clear();
    m_rxOverflow = false;
    // Over the modem the rest of the connect line ("CONNECT 2400/ARQ") is
    // the modem's, not the panel's.
    m_connectLine = !m_ipMode;
    m_inFrame = false;
    m_modemLine.clear();
    m_lineSpeed = 0;
    setLineReason(QString());
    m_outcome.clear();
    m_endCause = EndCause::Requested;
    answeredSinceConnect = false;
    m_phase = LinkPhase::Connected;
    m_retryCounter = 0;
    m_rejectedAnswers = 0;
    m_doubledAnswers = 0;
    m_doubledToReport = m_doubledReported = false;
    m_rereadSections.clear();
    m_taken = {};
    m_storeFailureSaid = false;
    m_outstandingRequest = -1;
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
        if (keypadOpen()) {
            if (m_host)
                m_host->portLost();
        } else {
            serialDeviceLost();
        }
    }
    if (keypadOpen()) {
        m_keypadHandler(event);
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
            if (!m_ipMode) {
                if (connected())
                    f_recibe(c);
                else
                    f_conexion(c);
            }
        }
        // Otherwise the character stays in the port's buffer.
    }
    if (!m_ipMode) {
        // Only traffic of a call lights the lamps: the modem's answer to a
        // reset or to the auto-answer command must not stay lit while idle.
        const bool call = connected() || dialling();
        m_view.st_rx = call && event == SerialPort::EvReceive ? LinkColour::Red : LinkColour::ButtonFace;
        m_view.st_tx = call && event == SerialPort::EvSend ? LinkColour::Green : LinkColour::ButtonFace;
        changed();
    }
}

void mdl_trans::serialDeviceLost()
{
    if (m_com && m_com->isOpen())
        m_com->close();
    if (m_host)
        m_host->portLost();
    const LinkPhase phase = m_phase;
    const bool overModem = !m_ipMode && (connected() || waitingForConnect());
    if (!dialling() && !overModem)
        return;
    qCWarning(lcLink, "el dispositivo del puerto serie desapareció: se corta el enlace");
    const char* red = phase == LinkPhase::Ringing || phase == LinkPhase::Pause       ? "img_connect_AMO"
                      : phase == LinkPhase::Calling || phase == LinkPhase::Connected ? "img_connect"
                                                                                   : "Img_wait_call";
    m_phase = LinkPhase::Idle;
    m_dialText.clear();
    m_waitingForCall = false;
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
    const bool callBackLeg = m_endAfterConnect;
    if (m_com && m_com->isOpen())
        m_com->close();
    if (m_ipCallBack)
        m_waitingForCall = true;
    const bool wasIp = m_ipMode;
    reportDoubledAnswers();
    endSession();
    switch (cause) {
    case EndCause::NoAnswer:
        setOutcome(QStringLiteral("Colgado: el panel no respondió a 10 pedidos"));
        break;
    case EndCause::LineDropped:
        setOutcome(QStringLiteral("Se cortó la línea (%1)").arg(m_lineReason));
        break;
    case EndCause::Requested:
        // The leg that only asks the panel to call back is no session.
        setOutcome(callBackLeg ? QString() : QStringLiteral("Comunicación terminada"));
        break;
    }
    if (failed && m_console)
        m_console->connectionFailed();
    if (!m_waitingForCall)
        return;
    if (m_ipCallBack)
        f_esperaip();
    else if (wasIp)
        f_finespera();
    else
        f_esperallamada();
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
        m_lineSpeed = speed;
        f_muestraestado();
        qCInfo(lcLink, "conectado por módem (%d bps)", speed);
    } else {
        qCInfo(lcLink, "conectado por módem");
    }
}

void mdl_trans::lineDropped()
{
    // The carrier is gone: an end request would reach nobody, so the
    // connection ends here as the turn after ten unanswered ones ends it.
    m_receiveBuffer.clear();
    setLineReason(s(ReasonNoCarrier));
    m_endCause = EndCause::LineDropped;
    endConnection();
}

void mdl_trans::setLineReason(const QString& reason)
{
    if (m_lineReason == reason)
        return;
    m_lineReason = reason;
    emit lineMessage(reason);
}

