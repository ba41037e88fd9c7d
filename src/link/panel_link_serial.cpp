// The serial device's side of the link: its events (received characters,
// the keypad owning the port, the device going away) and the modem's own
// text while connected.

#include "link/panel_link.h"

#include "link/linkhost.h"
#include "link/link_log.h"
#include "link/serialport.h"

void PanelLink::onCommEvent(int event)
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
        if (m_connection.phase == LinkPhase::Calling) {
            m_connection.dialText += m_com->input();
            advanceDial();
        } else if (connected() || waitingForConnect()) {
            const QByteArray c = m_com->input();
            if (!m_connection.ipMode) {
                if (connected())
                    receive(c);
                else
                    scanForConnect(c);
            }
        }
        // Otherwise the character stays in the port's buffer.
    }
    if (!m_connection.ipMode) {
        // Only traffic of a call lights the lamps: the modem's answer to a
        // reset or to the auto-answer command must not stay lit while idle.
        const bool call = connected() || dialling();
        m_view.st_rx = call && event == SerialPort::EvReceive ? LinkColour::Red : LinkColour::ButtonFace;
        m_view.st_tx = call && event == SerialPort::EvSend ? LinkColour::Green : LinkColour::ButtonFace;
        changed();
    }
}

void PanelLink::serialDeviceLost()
{
    if (m_com && m_com->isOpen())
        m_com->close();
    if (m_host)
        m_host->portLost();
    const LinkPhase phase = m_connection.phase;
    const bool overModem = !m_connection.ipMode && (connected() || waitingForConnect());
    if (!dialling() && !overModem)
        return;
    qCWarning(lcLink, "el dispositivo del puerto serie desapareció: se corta el enlace");
    const char* red = phase == LinkPhase::Ringing || phase == LinkPhase::Pause       ? "img_connect_AMO"
                      : phase == LinkPhase::Calling || phase == LinkPhase::Connected ? "img_connect"
                                                                                   : "Img_wait_call";
    m_connection.phase = LinkPhase::Idle;
    m_connection.dialText.clear();
    m_connection.waitingForCall = false;
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

// The modem's own text while connected. True when the character was the
// modem's and is not part of frame assembly.
bool PanelLink::modemText(char c)
{
    const bool lineOpen = m_connection.connectLine;
    const LinkConnection::ModemChar kind = m_connection.modemText(c);
    if (lineOpen && !m_connection.connectLine) {
        if (m_connection.lineSpeed > 0) {
            updateView();
            qCInfo(lcLink, "conectado por módem (%d bps)", m_connection.lineSpeed);
        } else {
            qCInfo(lcLink, "conectado por módem");
        }
    }
    if (kind == LinkConnection::ModemChar::Dropped)
        lineDropped();
    return kind != LinkConnection::ModemChar::Frame;
}
