// The connection: modem reset, dial and double call, call-back waits over
// the modem and IP, the connect keyword, and the end of a connection.

#include "link/panel_link.h"

#include "link/datagramsocket.h"
#include "link/dial_string.h"
#include "link/linkconsole.h"
#include "link/linkhost.h"
#include "link/link_log.h"
#include "link/serialport.h"

namespace {

const char* const ReasonNoCarrier = "Sin portadora";
const char* const NoPort = "No se pudo abrir el puerto de comunicaciones";
const char* const Cancelled = "Llamada cancelada";

QString s(const char* t)
{
    return QString::fromUtf8(t);
}

} // namespace


bool PanelLink::reopenPort()
{
    // Closing and reopening drops the line: it also hangs up a call.
    if (!m_com)
        return false;
    if (m_com->isOpen())
        m_com->close();
    return m_com->open();
}

bool PanelLink::refuseNumber(const QString& phone, const char* picture)
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

void PanelLink::writeModemCommand(const QByteArray& command)
{
    // What the modem said before this command (the "NO CARRIER" of the last
    // hang-up, echoes of the end frames) must not be read as its result.
    m_com->discardInput();
    m_com->write(command + '\r');
}

void PanelLink::resetModem()
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

void PanelLink::dial(const QString& phone, int wait)
{
    setLineReason(QString());
    m_outcome.clear();
    endSession();
    setPicture(QStringLiteral("img_connect"), QStringLiteral("amarillo"));
    stopListening();
    m_connection.dialPhone = phone;
    m_connection.dialWait = wait;
    if (refuseNumber(phone, "img_connect"))
        return;
    if (!reopenPort()) {
        // No port: a failed dial at once, never a wait on nothing.
        afterCancelledOrFailedDial("img_connect", s(NoPort));
        return;
    }
    writeModemCommand("ATDT" + phone.toLatin1());
    qCInfo(lcLink, "marcando %s", qPrintable(phone));
    m_scheduler.waitCountdown = wait;
    m_connection.phase = LinkPhase::Calling;
    m_connection.dialText.clear();
    changed();
    advanceDial();
}

void PanelLink::dialTwice(const QString& phone)
{
    stopListening();
    setLineReason(QString());
    m_outcome.clear();
    endSession();
    setPicture(QStringLiteral("img_connect_AMO"), QStringLiteral("amarillo"));
    m_connection.dialPhone = phone;
    if (refuseNumber(phone, "img_connect_AMO"))
        return;
    if (!reopenPort()) {
        afterCancelledOrFailedDial("img_connect_AMO", s(NoPort));
        return;
    }
    writeModemCommand("ATDT" + phone.toLatin1());
    qCInfo(lcLink, "doble llamada: marcando %s", qPrintable(phone));
    m_scheduler.waitCountdown = 100;
    m_connection.phase = LinkPhase::Ringing;
    changed();
    advanceDial();
}

// The dial "loops": checked after every tick, every character read while
// calling, and whenever the end command is stored.
void PanelLink::advanceDial()
{
    switch (m_connection.phase) {
    case LinkPhase::Idle:
    case LinkPhase::Listening:
    case LinkPhase::Connected:
        return;
    case LinkPhase::Calling:
        if (m_connection.dialConnected()) {
            finishCall(true);
        } else if (m_scheduler.pendingCommand == CmdEnd || m_scheduler.waitCountdown <= 0) {
            finishCall(false);
        } else if (m_connection.dialText.endsWith('\r') || m_connection.dialText.endsWith('\n')) {
            // A whole line from the modem: a result code ends the dial now
            // rather than after the whole wait.
            const QByteArray line = m_connection.dialText.trimmed();
            m_connection.dialText.clear();
            if (const char* reason = LinkConnection::dialFailure(line)) {
                setLineReason(s(reason));
                finishCall(false);
            }
        } else if (m_connection.dialText.size() > LinkConnection::MaxModemLine) {
            m_connection.dialText = m_connection.dialText.right(LinkConnection::MaxModemLine);
        }
        return;
    case LinkPhase::Ringing:
        if (m_scheduler.pendingCommand != CmdEnd && m_scheduler.waitCountdown > 0)
            return;
        m_connection.phase = LinkPhase::Idle;
        if (m_com && m_com->isOpen())
            m_com->close();
        if (m_scheduler.pendingCommand == CmdEnd) {
            afterCancelledOrFailedDial(nullptr, s(Cancelled));
            return;
        }
        // Ten seconds of ringing done: ten seconds on hook, then the call.
        setPicture(QStringLiteral("img_connect_AMO"), QStringLiteral("verde"));
        m_scheduler.waitCountdown = 100;
        m_connection.phase = LinkPhase::Pause;
        return;
    case LinkPhase::Pause:
        if (m_scheduler.pendingCommand != CmdEnd && m_scheduler.waitCountdown > 0)
            return;
        m_connection.phase = LinkPhase::Idle;
        if (m_scheduler.pendingCommand == CmdEnd) {
            // Same as a cancel while ringing, so an IP call-back choice is
            // kept here too.
            afterCancelledOrFailedDial(nullptr, s(Cancelled));
            return;
        }
        setPicture(QStringLiteral("img_connect_AMO"), QStringLiteral("gris"));
        dial(m_connection.dialPhone, 300);
        return;
    }
}

void PanelLink::finishCall(bool connect)
{
    m_connection.phase = LinkPhase::Idle;
    m_connection.dialText.clear();
    if (!connect) {
        const bool cancelled = m_scheduler.pendingCommand == CmdEnd;
        if (m_com && m_com->isOpen())
            m_com->close();
        QString why = s(Cancelled);
        if (!cancelled)
            why = m_connection.lineReason.isEmpty()
                      ? QStringLiteral("No se pudo conectar: no hubo conexión en %1 s").arg(m_connection.dialWait / 10)
                      : QStringLiteral("No se pudo conectar (%1)").arg(m_connection.lineReason);
        afterCancelledOrFailedDial(cancelled ? nullptr : "img_connect", why);
        return;
    }
    enterConnected();
    updateView();
    m_scheduler.awaitingAnswer = 0;
    m_scheduler.pendingCommand = CmdReadClock;
    m_connection.endAfterConnect = m_connection.waitingForCall;
}

void PanelLink::afterCancelledOrFailedDial(const char* redPicture, const QString& outcome)
{
    const bool viaIp = m_connection.ipCallBack || m_connection.ipMode;
    m_connection.ipCallBack = false;
    endSession();
    if (redPicture)
        setPicture(QString::fromLatin1(redPicture), QStringLiteral("rojo"));
    setOutcome(outcome);
    if (m_connection.waitingForCall) {
        if (viaIp)
            waitForIpCall();
        else
            waitForModemCall();
    }
}

void PanelLink::waitForModemCall()
{
    if (connected())
        return;
    if (!reopenPort()) {
        m_connection.waitingForCall = m_connection.ipMode = false;
        stopListening();
        updateView();
        setPicture(QStringLiteral("Img_wait_call"), QStringLiteral("rojo"));
        setOutcome(s(NoPort));
        return;
    }
    writeModemCommand(QByteArrayLiteral("ATS0=1"));
    m_connection.ipMode = false;
    m_connection.waitingForCall = true;
    m_connection.phase = LinkPhase::Listening;
    updateView();
}

void PanelLink::waitForIpCall()
{
    if (connected())
        return;
    closeIpSocket();
    m_connection.ipMode = true;
    m_connection.ipCallBack = false;
    m_connection.waitingForCall = true;
    m_connection.phase = LinkPhase::Listening;
    if (!openIpSocket()) {
        // Waiting on a socket that is not bound would never end.
        m_connection.waitingForCall = m_connection.ipMode = false;
        stopListening();
        updateView();
        setPicture(QStringLiteral("img_IP"), QStringLiteral("rojo"));
        setOutcome(m_connection.ipPort > 0 ? QStringLiteral("No se pudo abrir el puerto IP %1").arg(m_connection.ipPort)
                                : QStringLiteral("No se pudo abrir el puerto IP"));
        return;
    }
    updateView();
}

void PanelLink::stopWaiting()
{
    if (connected())
        return;
    if (m_com && m_com->isOpen())
        m_com->close();
    closeIpSocket();
    m_connection.waitingForCall = m_connection.ipMode = false;
    stopListening();
    updateView();
}

void PanelLink::scanForConnect(const QByteArray& received)
{
    QByteArray rest;
    if (!m_connection.scanKeyword(received, &rest))
        return;
    if (m_connection.ipMode)
        m_view.st_rx = LinkColour::Blue;
    enterConnected();
    m_connection.endAfterConnect = false;
    updateView();
    m_scheduler.awaitingAnswer = 0;
    m_scheduler.pendingCommand = CmdReadClock;
    if (!rest.isEmpty())
        receive(rest);
}

void PanelLink::stopListening()
{
    if (m_connection.phase == LinkPhase::Listening)
        m_connection.phase = LinkPhase::Idle;
}

void PanelLink::enterConnected()
{
    m_scheduler.waitCountdown = 15;
    m_connection.startSession();
    setLineReason(QString());
    m_outcome.clear();
    m_scheduler.retryCounter = 0;
    m_scheduler.rejectedAnswers = 0;
    m_scheduler.doubledAnswers = 0;
    m_scheduler.doubledToReport = m_scheduler.doubledReported = false;
    m_transfer.rereadSections.clear();
    m_scheduler.taken = {};
    m_transfer.storeFailureSaid = false;
    m_scheduler.outstanding.reset();
    if (m_console)
        m_console->sessionStarted(m_subscriber.number);
    chooseAccessCode();
}

void PanelLink::chooseAccessCode()
{
    // The console's restricted code, when ticked and long enough, stands in
    // for the stored one for this session.
    const QString special = m_console ? m_console->restrictedCode() : QString();
    if (m_console && m_console->restrictedCodeChecked() && special.size() >= 4)
        m_accessCode = special;
    else
        m_accessCode = m_subscriber.accessCode;
}

void PanelLink::endConnection()
{
    const EndCause cause = m_connection.endCause;
    m_connection.endCause = EndCause::Requested;
    // Not one answer since the connection came up: no session took place.
    const bool failed = cause != EndCause::Requested && !m_connection.answeredSinceConnect;
    const bool callBackLeg = m_connection.endAfterConnect;
    if (m_com && m_com->isOpen())
        m_com->close();
    if (m_connection.ipCallBack)
        m_connection.waitingForCall = true;
    const bool wasIp = m_connection.ipMode;
    reportDoubledAnswers();
    endSession();
    switch (cause) {
    case EndCause::NoAnswer:
        setOutcome(QStringLiteral("Colgado: el panel no respondió a 10 pedidos"));
        break;
    case EndCause::LineDropped:
        setOutcome(QStringLiteral("Se cortó la línea (%1)").arg(m_connection.lineReason));
        break;
    case EndCause::Requested:
        // The leg that only asks the panel to call back is no session.
        setOutcome(callBackLeg ? QString() : QStringLiteral("Comunicación terminada"));
        break;
    }
    if (failed && m_console)
        m_console->connectionFailed();
    if (!m_connection.waitingForCall)
        return;
    if (m_connection.ipCallBack)
        waitForIpCall();
    else if (wasIp)
        stopWaiting();
    else
        waitForModemCall();
}


void PanelLink::lineDropped()
{
    // The carrier is gone: an end request would reach nobody, so the
    // connection ends here as the turn after ten unanswered ones ends it.
    m_connection.receiveBuffer.clear();
    setLineReason(s(ReasonNoCarrier));
    m_connection.endCause = EndCause::LineDropped;
    endConnection();
}

void PanelLink::setLineReason(const QString& reason)
{
    if (m_connection.lineReason == reason)
        return;
    m_connection.lineReason = reason;
    emit lineMessage(reason);
}

