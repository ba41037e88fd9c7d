// The UDP side of the link: binding the socket from the settings, the
// panels allowed to call, and the datagrams taken or dropped.

#include "link/panel_link.h"

#include "data/link_store.h"
#include "link/datagramsocket.h"
#include "link/linkhost.h"
#include "link/link_log.h"


bool PanelLink::openIpSocket()
{
    m_connection.ipPort = 0;
    if (!m_ip)
        return false;
    const std::optional<LinkIpSettings> settings = m_host ? m_host->linkStore()->ipSettings() : std::nullopt;
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
    if (!LinkConnection::parseAllowedPanels(allowed, &panels, &bad)) {
        qCWarning(lcLink, "lista de paneles permitidos ilegible: %s", qPrintable(bad));
        return false;
    }
    QHostAddress address;
    if (!listen.isEmpty() && !address.setAddress(listen)) {
        qCWarning(lcLink, "dirección de escucha ilegible: %s", qPrintable(listen));
        return false;
    }
    m_connection.allowedPanels = panels;
    m_connection.strangerDatagrams = m_connection.refusedPanels = 0;
    m_connection.lastStranger.clear();
    m_connection.lastRefusedPanel.clear();
    m_connection.ipPort = port;
    return m_ip->bind(address, quint16(port));
}

void PanelLink::closeIpSocket()
{
    if (m_ip)
        m_ip->close();
}

void PanelLink::onDatagram(const QByteArray& data, const QHostAddress& sender, quint16 senderPort)
{
    const QHostAddress from = LinkConnection::plain(sender);
    if (m_connection.ipMode && connected()) {
        // The session belongs to its peer: anyone else is dropped before a
        // byte of theirs is decoded, and replies keep going to the peer.
        if (from != m_connection.peerHost || senderPort != m_connection.peerPort) {
            dropStranger(from, senderPort, DropReason::NotSessionPanel);
            return;
        }
        receive(data);
        m_view.st_tx = LinkColour::ButtonFace;
        m_view.st_rx = LinkColour::Red;
    } else if (m_connection.ipMode && waitingForConnect()) {
        if (!m_connection.panelAllowed(from)) {
            dropStranger(from, senderPort, DropReason::NotAllowed);
            return;
        }
        // The keyword must come whole from one source.
        if (from != m_connection.candidateHost || senderPort != m_connection.candidatePort) {
            m_connection.receiveBuffer.clear();
            m_connection.candidateHost = from;
            m_connection.candidatePort = senderPort;
        }
        scanForConnect(data);
        if (connected()) {
            m_connection.peerHost = from;
            m_connection.peerPort = senderPort;
            qCInfo(lcLink, "conectado por IP con %s:%d", qPrintable(from.toString()), senderPort);
        }
        m_view.st_tx = LinkColour::ButtonFace;
    } else {
        // Neither connected nor waiting: fetched and dropped.
        return;
    }
    m_connection.replyPort = senderPort;
    if (m_ip) {
        m_ip->setRemoteHost(from);
        m_ip->setRemotePort(m_connection.replyPort);
    }
    changed();
}

void PanelLink::dropStranger(const QHostAddress& from, quint16 port, DropReason why)
{
    ++m_connection.strangerDatagrams;
    m_connection.lastStranger = QStringLiteral("%1:%2").arg(from.toString()).arg(port);
    if (why == DropReason::NotAllowed) {
        ++m_connection.refusedPanels;
        m_connection.lastRefusedPanel = from.toString();
        qCWarning(lcLink, "datagrama de %s descartado: panel no permitido (%s) (%d descartados)",
                  qPrintable(m_connection.lastStranger), qPrintable(m_connection.lastRefusedPanel), m_connection.strangerDatagrams);
    } else {
        qCWarning(lcLink, "datagrama de %s descartado: no es el panel de la sesión (%d descartados)",
                  qPrintable(m_connection.lastStranger), m_connection.strangerDatagrams);
    }
    updateView();
}

