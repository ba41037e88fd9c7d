// Frames and the scheduler: sending requests, assembling and decoding
// answers, and the turns the ticks drive.

#include "link/panel_link.h"

#include "link/datagramsocket.h"
#include "link/frame_codec.h"
#include "link/linkconsole.h"
#include "link/link_log.h"
#include "link/serialport.h"

#include <algorithm>

void PanelLink::sendFrame(int n, int deadline)
{
    const Request request{m_scheduler.txFrame[3], m_transfer.runStart, m_transfer.runEnd, deadline};
    const QByteArray text = m_scheduler.send(n, request);
    if (m_connection.ipMode) {
        if (m_ip) {
            if (!m_connection.peerHost.isNull()) {
                m_ip->setRemoteHost(m_connection.peerHost);
                m_ip->setRemotePort(m_connection.peerPort);
            } else {
                m_ip->setRemotePort(m_connection.replyPort);
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

void PanelLink::receive(const QByteArray& received)
{
    m_view.st_rx = LinkColour::ButtonFace;
    if (m_connection.ipMode) {
        // One datagram, one frame: without its ":" and its carriage return.
        m_connection.rxOverflow = received.size() - 2 > codec::MaxChars;
        m_connection.receiveBuffer = received.size() >= 2 && !m_connection.rxOverflow ? received.mid(1, received.size() - 2) : QByteArray();
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
            m_connection.receiveBuffer.clear();
            m_connection.rxOverflow = false;
        } else if (c == '\r') {
            if (m_connection.receiveBuffer.size() >= 2) {
                takeFrame();
                // A second carriage return must not hand the same answer over
                // twice (events would be stored twice).
                m_connection.receiveBuffer.clear();
                m_connection.rxOverflow = false;
            }
        } else if (m_connection.receiveBuffer.size() < codec::MaxChars) {
            m_connection.receiveBuffer += c;
        } else {
            // Longer than any frame: remembered, and the frame is bad.
            m_connection.rxOverflow = true;
        }
    }
}

void PanelLink::takeFrame()
{
    // Only an answer taken ends the wait: an echo of our own request (a
    // modem back in command mode) or a refused frame is as if nothing came,
    // so ten of them in a row still end the call.
    if (decodeFrame()) {
        m_scheduler.awaitingAnswer = 0;
        m_scheduler.waitCountdown = 3;
    }
}

bool PanelLink::decodeFrame()
{
    codec::Bytes bytes{};
    const int pairs = m_connection.rxOverflow ? -1 : codec::decode(m_connection.receiveBuffer, bytes);
    bool bad = pairs < 0;
    if (!bad && !m_scheduler.fits(bytes[0], pairs - 1)) {
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
        m_scheduler.frameError = false;
        m_scheduler.outstanding.reset();
        switch (code) {
        case 0:
            takeMemoryAnswer(m_rxCount);
            if (m_console)
                m_console->showSections();
            break;
        case 1:
            takeWriteAnswer(m_rxCount);
            if (m_console)
                m_console->showSections();
            break;
        case 2:
        case 12:
            m_status.faultView = code == 12;
            storeStatus(m_rxCount);
            break;
        case 6:
            // The console is shown the events once they are stored.
            storeShortEvents(m_rxCount);
            break;
        case 10:
            panelClock(m_rxCount);
            break;
        case 13:
            storeDatedEvents(m_rxCount);
            break;
        default:
            bad = true;
        }
    }
    if (bad) {
        m_scheduler.frameError = true;
    } else {
        m_scheduler.answered(bytes[0]);
        m_connection.answeredSinceConnect = true;
    }
    updateView();
    return !bad;
}

void PanelLink::rejectAnswer(int code, int count)
{
    ++m_scheduler.rejectedAnswers;
    qCWarning(lcLink, "respuesta %d de %d bytes rechazada: no responde a la petición %d", code, count,
              m_scheduler.outstandingCode());
}

void PanelLink::panelClock(int count)
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
    m_clockOffsetMs = panel.msecsTo(now());
    m_clockKnown = true;
}

void PanelLink::showClock()
{
    m_view.items[QStringLiteral("st_hora")].caption =
        m_clockKnown ? now().addMSecs(-m_clockOffsetMs).toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                   : QStringLiteral("--/--/-- --:--");
    changed();
}

void PanelLink::tick()
{
    if (m_scheduler.ticksSuspended)
        return;
    takeTick();
    emit ticked();
}

void PanelLink::takeTick()
{
    if (!m_transfer.heldEvents.isEmpty() && ++m_transfer.heldTicks >= TransferSession::heldEventsTicks)
        storeHeldEvents();
    if (m_scheduler.waitCountdown >= 1) {
        --m_scheduler.waitCountdown;
        advanceDial();
        return;
    }
    if (dialling()) {
        advanceDial();
        return;
    }
    if (!connected())
        return;
    if (m_scheduler.awaitingAnswer == 1) {
        if (m_scheduler.missedTurn())
            m_connection.endCause = LinkConnection::EndCause::NoAnswer;
        updateView();
    }
    m_scheduler.waitCountdown = 1000;
    sendTurn();
    // The command picture goes back to grey once its request is out.
    if (connected())
        updateView();
    showClock();
}

void PanelLink::sendTurn()
{
    if (m_connection.endAfterConnect) {
        sendEnd();
        return;
    }
    switch (m_scheduler.pendingCommand) {
    case CmdArm: {
        header(3);
        const int mode = m_console ? m_console->armingModeIndex() : 0;
        m_scheduler.txFrame[4] = qBound(0, mode, 3);
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
    if (m_transfer.writePending) {
        nextWriteRun();
        return;
    }
    if (m_transfer.readPending) {
        nextReadRun();
        return;
    }
    if (m_transfer.eventsPending) {
        requestEvents();
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

void PanelLink::header(int code)
{
    m_scheduler.header(m_accessCode, protocolCode(), code);
}

int PanelLink::protocolCode() const
{
    return codec::protocolCodeOf(m_subscriber.protocolCode);
}

void PanelLink::send(int n, int countdown)
{
    sendFrame(n, countdown);
}

void PanelLink::sendStatus(bool faultVariant)
{
    header(faultVariant ? 12 : 2);
    send(4, 50);
}

void PanelLink::sendEnd()
{
    header(5);
    m_scheduler.txFrame[4] = m_connection.ipCallBack ? 1 : 0;
    // The 4800 baud interface mode repeats it far more often.
    const bool interface = m_com && m_com->settings().startsWith(QLatin1String("48"));
    const int times = interface ? 30 : 3;
    for (int i = 0; i < times; ++i)
        sendFrame(5, 200);
    endConnection();
}

void PanelLink::sendBypass()
{
    header(7);
    m_scheduler.txFrame[4] = 0;
    m_scheduler.txFrame[5] = 0;
    for (int i = 0; i < 16; ++i) {
        int& e = m_status.zoneBypass[size_t(i)];
        if (e == 1 || e == 3) {
            m_scheduler.txFrame[size_t(4 + i / 8)] |= 1 << (i % 8);
            e = 1;
        } else if (e == 0 || e == 2) {
            e = 0;
        }
    }
    send(6, 50);
}

void PanelLink::sendPartition()
{
    m_status.partition &= 3;
    header(15);
    m_scheduler.txFrame[4] = m_status.partition;
    send(5, 50);
}

void PanelLink::sendSetClock()
{
    const QDateTime t = now();
    header(8);
    m_scheduler.txFrame[4] = t.time().minute();
    m_scheduler.txFrame[5] = t.time().hour();
    m_scheduler.txFrame[6] = t.date().day();
    m_scheduler.txFrame[7] = t.date().month();
    m_scheduler.txFrame[8] = t.date().year() % 100;
    send(9, 50);
}

void PanelLink::sendPgm()
{
    header(9);
    m_scheduler.txFrame[4] = (m_status.pgmMask ^ (1 << (m_status.pgmIndex & 7))) & 0xFF;
    send(5, 50);
}

void PanelLink::requestMemory(int start, int count)
{
    header(0);
    m_scheduler.txFrame[4] = start % 256;
    m_scheduler.txFrame[5] = start / 256;
    m_scheduler.txFrame[6] = count;
    send(7, 70);
}

void PanelLink::writeMemory(int start, const QList<int>& data)
{
    const int n = int(qMin<qsizetype>(data.size(), 16));
    header(1);
    m_scheduler.txFrame[4] = start % 256;
    m_scheduler.txFrame[5] = start / 256;
    for (int k = 0; k < n; ++k)
        m_scheduler.txFrame[size_t(6 + k)] = data.at(k) & 0xFF;
    send(6 + n, 70);
}

void PanelLink::requestEvents()
{
    const bool shortRecords = protocolCode() < 2;
    header(shortRecords ? 6 : 13);
    m_scheduler.txFrame[4] = shortRecords ? 8 : 2;
    send(5, 170);
}

