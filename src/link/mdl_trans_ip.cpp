// The UDP side of the link: binding the socket from the settings, the
// panels allowed to call, and the datagrams taken or dropped.

#include "link/mdl_trans.h"

#include "data/link_store.h"
#include "link/datagramsocket.h"
#include "link/linkhost.h"
#include "link/mdl_trans_log.h"

#include <QRegularExpression>

bool mdl_trans::Open_IP()
{
    m_ipPort = 0;
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
    m_strangerDatagrams = m_refusedPanels = 0;
    lastStranger.clear();
    m_lastRefusedPanel.clear();
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

void mdl_trans::onDatagram(const QByteArray& data, const QHostAddress& sender, quint16 senderPort)
{
    const QHostAddress from = plain(sender);
    if (m_ipMode && connected()) {
        // The session belongs to its peer: anyone else is dropped before a
        // byte of theirs is decoded, and replies keep going to the peer.
        if (from != m_peerHost || senderPort != m_peerPort) {
            dropStranger(from, senderPort, DropReason::NotSessionPanel);
            return;
        }
        f_recibe(data);
        m_view.st_tx = LinkColour::ButtonFace;
        m_view.st_rx = LinkColour::Red;
    } else if (m_ipMode && waitingForConnect()) {
        if (!panelAllowed(from)) {
            dropStranger(from, senderPort, DropReason::NotAllowed);
            return;
        }
        // The keyword must come whole from one source.
        if (from != m_candidateHost || senderPort != m_candidatePort) {
            m_receiveBuffer.clear();
            m_candidateHost = from;
            m_candidatePort = senderPort;
        }
        f_conexion(data);
        if (connected()) {
            m_peerHost = from;
            m_peerPort = senderPort;
            qCInfo(lcLink, "conectado por IP con %s:%d", qPrintable(from.toString()), senderPort);
        }
        m_view.st_tx = LinkColour::ButtonFace;
    } else {
        // Neither connected nor waiting: fetched and dropped.
        return;
    }
    m_replyPort = senderPort;
    if (m_ip) {
        m_ip->setRemoteHost(from);
        m_ip->setRemotePort(m_replyPort);
    }
    changed();
}

void mdl_trans::dropStranger(const QHostAddress& from, quint16 port, DropReason why)
{
    ++m_strangerDatagrams;
    lastStranger = QStringLiteral("%1:%2").arg(from.toString()).arg(port);
    if (why == DropReason::NotAllowed) {
        ++m_refusedPanels;
        m_lastRefusedPanel = from.toString();
        qCWarning(lcLink, "datagrama de %s descartado: panel no permitido (%s) (%d descartados)",
                  qPrintable(lastStranger), qPrintable(m_lastRefusedPanel), m_strangerDatagrams);
    } else {
        qCWarning(lcLink, "datagrama de %s descartado: no es el panel de la sesión (%d descartados)",
                  qPrintable(lastStranger), m_strangerDatagrams);
    }
    f_muestraestado();
}

