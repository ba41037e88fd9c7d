// The datagram path with several senders: the session's panel, another port
// of its host, and hosts inside and outside the allowed networks. Once a
// session is up its peer never changes, and every reply goes to it.

#include "link_harness.h"

namespace {

struct Sender {
    const char* host;
    quint16 port;
};
const Sender kSenders[] = {{"127.0.0.1", 4000}, {"127.0.0.1", 4001}, {"10.0.0.5", 4000}, {"192.168.1.7", 5000}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static LinkHarness h;
    QHostAddress peer;
    quint16 peerPort = 0;
    const auto watchPeer = [&] {
        if (!h.link.connected() || !h.link.ipMode()) {
            peer.clear();
            return;
        }
        if (peer.isNull()) {
            peer = h.link.connection().peerHost;
            peerPort = h.link.connection().peerPort;
        }
        fuzz::require(h.link.connection().peerHost == peer && h.link.connection().peerPort == peerPort, "el panel de la sesión cambió");
        for (const auto& sent : h.ip.sent)
            fuzz::require(sent.host == peer && sent.port == peerPort, "una respuesta fue a otro destino");
        h.ip.sent.clear();
    };
    h.run(data, size, [&](const QByteArray& chunk, uint8_t from) {
        watchPeer();
        const Sender& s = kSenders[from & 3];
        h.ip.arrive(chunk, s.port, QHostAddress(QString::fromLatin1(s.host)));
        watchPeer();
    });
    h.ip.sent.clear();
    return 0;
}
