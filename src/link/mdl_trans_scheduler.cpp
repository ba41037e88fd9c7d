// Frames and the scheduler: sending requests, assembling and decoding
// answers, and the turns the ticks drive.

#include "link/mdl_trans.h"

#include "link/datagramsocket.h"
#include "link/frame_codec.h"
#include "link/linkconsole.h"
#include "link/mdl_trans_log.h"
#include "link/serialport.h"

#include <algorithm>

void mdl_trans::forTestSetAnswer(const QList<int>& bytes)
{
    const auto n = std::min<qsizetype>(bytes.size(), MaxFrameBytes);
    std::copy_n(bytes.begin(), n, m_rxFrame.begin());
    m_rxCount = int(n);
}

void mdl_trans::forTestSetRequest(const QList<int>& bytes)
{
    std::copy_n(bytes.begin(), std::min<qsizetype>(bytes.size(), MaxFrameBytes), m_txFrame.begin());
}

void mdl_trans::f_enviatrama(int n)
{
    n = qBound(1, n, MaxFrameBytes - 1);
    m_awaitingAnswer = 1;
    ++m_framesSent;
    const QByteArray text = codec::encode(m_txFrame.data(), n);
    m_pendingCommand = CmdNone;
    m_outstandingRequest = m_txFrame[3];
    if (m_ipMode) {
        if (m_ip) {
            if (!m_peerHost.isNull()) {
                m_ip->setRemoteHost(m_peerHost);
                m_ip->setRemotePort(m_peerPort);
            } else {
                m_ip->setRemotePort(m_replyPort);
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
    if (m_ipMode) {
        // One datagram, one frame: without its ":" and its carriage return.
        m_rxOverflow = received.size() - 2 > codec::MaxChars;
        m_receiveBuffer = received.size() >= 2 && !m_rxOverflow ? received.mid(1, received.size() - 2) : QByteArray();
        takeFrame();
        return;
    }
    for (const char c : received) {
        if (modemText(c)) {
            if (!connected())
                return; // the line dropped
            continue;
        }
        if (c == ':') {
            m_receiveBuffer.clear();
            m_rxOverflow = false;
        } else if (c == '\r') {
            if (m_receiveBuffer.size() >= 2) {
                takeFrame();
                // A second carriage return must not hand the same answer over
                // twice (events would be stored twice).
                m_receiveBuffer.clear();
                m_rxOverflow = false;
            }
        } else if (m_receiveBuffer.size() < codec::MaxChars) {
            m_receiveBuffer += c;
        } else {
            // Longer than any frame: remembered, and the frame is bad.
            m_rxOverflow = true;
        }
    }
}

void mdl_trans::takeFrame()
{
    // Only an answer taken ends the wait: an echo of our own request (a
    // modem back in command mode) or a refused frame is as if nothing came,
    // so ten of them in a row still end the call.
    if (f_decodifica()) {
        m_awaitingAnswer = 0;
        m_waitCountdown = 3;
    }
}

bool mdl_trans::f_decodifica()
{
    codec::Bytes bytes{};
    const int pairs = m_rxOverflow ? -1 : codec::decode(m_receiveBuffer, bytes);
    bool bad = pairs < 0;
    if (!bad && !answerFits(bytes[0], pairs - 1)) {
        // Well formed, but not an answer to what was asked: nothing of it
        // is stored and no mark changes.
        if (isDoubled(bytes, pairs - 1))
            doubledAnswer();
        else
            rejectAnswer(bytes[0], pairs - 1);
        bad = true;
    } else if (!bad) {
        rememberTaken(bytes, pairs - 1);
        m_rxFrame = bytes;
        m_rxCount = pairs - 1;
        const int code = m_rxFrame[0];
        m_frameError = false;
        m_outstandingRequest = -1;
        switch (code) {
        case 0:
            f_recibememoria(m_rxCount);
            if (m_console)
                m_console->wf_muestrasecciones();
            break;
        case 1:
            f_confirmaescritura(m_rxCount);
            if (m_console)
                m_console->wf_muestrasecciones();
            break;
        case 2:
        case 12:
            m_status.faultView = code == 12;
            f_guardaestado(m_rxCount);
            break;
        case 6:
            f_guardaeventos(m_rxCount);
            if (m_console)
                m_console->wf_muestraeventos();
            break;
        case 10:
            panelClock(m_rxCount);
            break;
        case 13:
            f_guardaeventosfecha(m_rxCount);
            if (m_console)
                m_console->wf_muestraeventos();
            break;
        default:
            bad = true;
        }
        if (!bad)
            ++m_answersReceived[size_t(code)];
    }
    if (bad) {
        m_frameError = true;
    } else {
        m_retryCounter = 0;
        answeredSinceConnect = true;
    }
    f_muestraestado();
    return !bad;
}

bool mdl_trans::answerFits(int code, int count) const
{
    switch (m_outstandingRequest) {
    case 0:
        // Exactly the run's bytes: fewer would leave addresses unread, more
        // belong to some other run.
        return code == 0 && m_runEnd > m_runStart && count - 1 == m_runEnd - m_runStart;
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
        return code == m_outstandingRequest;
    default:
        // Nothing asked (or only the end of the connection).
        return false;
    }
}

void mdl_trans::rejectAnswer(int code, int count)
{
    ++m_rejectedAnswers;
    qCWarning(lcLink, "respuesta %d de %d bytes rechazada: no responde a la petición %d", code, count,
              m_outstandingRequest);
}

void mdl_trans::panelClock(int count)
{
    Q_UNUSED(count);
    const int minute = m_rxFrame[1], hour = m_rxFrame[2], day = m_rxFrame[3], month = m_rxFrame[4], year = m_rxFrame[5];
    // Two-digit years: the panel is set from the station's year mod 100.
    const QDate date(2000 + year, month, day);
    const QTime time(hour, minute);
    const QDateTime panel(date, time);
    if (year > 99 || !date.isValid() || !time.isValid() || !panel.isValid()) {
        m_clockKnown = false;
        return;
    }
    clockOffsetMs = panel.msecsTo(now());
    m_clockKnown = true;
}

void mdl_trans::showClock()
{
    m_view.items[QStringLiteral("st_hora")].caption =
        m_clockKnown ? now().addMSecs(-clockOffsetMs).toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                   : QStringLiteral("--/--/-- --:--");
    changed();
}

void mdl_trans::tick()
{
    if (m_ticksSuspended)
        return;
    if (m_waitCountdown >= 1) {
        --m_waitCountdown;
        advanceDial();
        return;
    }
    if (dialling()) {
        advanceDial();
        return;
    }
    if (!connected())
        return;
    if (m_awaitingAnswer == 1) {
        m_frameError = true;
        ++m_retryCounter;
        if (m_retryCounter >= 10) {
            m_pendingCommand = CmdEnd;
            m_endCause = EndCause::NoAnswer;
        }
        f_muestraestado();
    }
    m_waitCountdown = 1000;
    sendTurn();
    // The command picture goes back to grey once its request is out.
    if (connected())
        f_muestraestado();
    showClock();
}

void mdl_trans::sendTurn()
{
    if (m_endAfterConnect) {
        sendEnd();
        return;
    }
    switch (m_pendingCommand) {
    case CmdArm: {
        header(3);
        const int mode = m_console ? m_console->armingModeIndex() : 0;
        m_txFrame[4] = qBound(0, mode, 3);
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
        sendStatus(m_status.systemFlags[13] == 1 && !m_status.faultView);
        return;
    default:
        break;
    }
    if (m_writePending) {
        f_siguienteescritura();
        return;
    }
    if (m_readPending) {
        f_siguientelectura();
        return;
    }
    if (m_eventsPending) {
        f_pideeventos();
        return;
    }
    bool bypassWaiting = false;
    for (int e : m_status.zoneBypass)
        bypassWaiting = bypassWaiting || e > 1;
    if (bypassWaiting)
        sendBypass();
    else if (m_status.partition >= 4)
        sendPartition();
    else
        sendStatus(m_status.systemFlags[13] == 1 && m_status.faultView);
}

void mdl_trans::header(int code)
{
    const QString pw = m_console ? m_console->is_password : QString();
    m_txFrame[0] = codec::accessCodeByte(pw, 0);
    m_txFrame[1] = codec::accessCodeByte(pw, 2);
    m_txFrame[2] = protocolCode();
    m_txFrame[3] = code;
}

int mdl_trans::protocolCode() const
{
    return m_console ? codec::protocolCodeOf(m_console->is_strpanel) : 0;
}

void mdl_trans::send(int n, int countdown)
{
    m_waitCountdown = countdown;
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
    m_txFrame[4] = m_ipCallBack ? 1 : 0;
    m_waitCountdown = 200;
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
    m_txFrame[4] = 0;
    m_txFrame[5] = 0;
    for (int i = 0; i < 16; ++i) {
        int& e = m_status.zoneBypass[size_t(i)];
        if (e == 1 || e == 3) {
            m_txFrame[size_t(4 + i / 8)] |= 1 << (i % 8);
            e = 1;
        } else if (e == 0 || e == 2) {
            e = 0;
        }
    }
    send(6, 50);
}

void mdl_trans::sendPartition()
{
    m_status.partition &= 3;
    header(15);
    m_txFrame[4] = m_status.partition;
    send(5, 50);
}

void mdl_trans::sendSetClock()
{
    const QDateTime t = now();
    header(8);
    m_txFrame[4] = t.time().minute();
    m_txFrame[5] = t.time().hour();
    m_txFrame[6] = t.date().day();
    m_txFrame[7] = t.date().month();
    m_txFrame[8] = t.date().year() % 100;
    send(9, 50);
}

void mdl_trans::sendPgm()
{
    header(9);
    m_txFrame[4] = (m_status.pgmMask ^ (1 << (m_status.pgmIndex & 7))) & 0xFF;
    send(5, 50);
}

void mdl_trans::f_pidememoria(int start, int count)
{
    header(0);
    m_txFrame[4] = start % 256;
    m_txFrame[5] = start / 256;
    m_txFrame[6] = count;
    send(7, 70);
}

void mdl_trans::f_escribememoria(int start, const QList<int>& data)
{
    const int n = int(qMin<qsizetype>(data.size(), 16));
    header(1);
    m_txFrame[4] = start % 256;
    m_txFrame[5] = start / 256;
    for (int k = 0; k < n; ++k)
        m_txFrame[size_t(6 + k)] = data.at(k) & 0xFF;
    send(6 + n, 70);
}

void mdl_trans::f_pideeventos()
{
    m_waitCountdown = 500;
    const bool shortRecords = protocolCode() < 2;
    header(shortRecords ? 6 : 13);
    m_txFrame[4] = shortRecords ? 8 : 2;
    send(5, 170);
}

