#pragma once
// The connection's state machine: one phase at a time (idle, a dial, a
// double call ringing or in its pause, listening for the connect keyword,
// connected), the call-back mode across phases, the modem's text around the
// frames, and the UDP session's peer with the panels allowed to call.
// PanelLink drives it from ticks, received characters and the buttons, and
// does the port and socket work; what is decided from text alone is here.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

class LinkConnection {
public:
    enum class Phase { Idle, Calling, Ringing, Pause, Listening, Connected };
    enum class EndCause { Requested, NoAnswer, LineDropped };

    bool connected() const { return phase == Phase::Connected; }
    bool dialling() const { return phase == Phase::Calling || phase == Phase::Ringing || phase == Phase::Pause; }
    bool listening() const { return phase == Phase::Listening; }

    // A whole line the modem wrote during a dial: the reason a result code
    // gives for the failed call ("Ocupado" ...), or null when the line is no
    // result code.
    static const char* dialFailure(const QByteArray& line);
    // The modem's connect keyword is among what it said during the dial.
    bool dialConnected() const;
    // Adds received text to the keyword scan. True when the connect keyword
    // (or "CONNECT IP" over the socket) is complete; `rest` is then what
    // followed it on the modem's line.
    bool scanKeyword(const QByteArray& received, QByteArray* rest);
    // Longest modem line kept ("CONNECT 115200/ARQ/V42BIS" fits).
    static constexpr int MaxModemLine = 64;

    // The modem's own text while connected: the rest of the connect line and
    // result codes between frames (a frame is never read as one).
    enum class ModemChar { Frame, Modem, Dropped };
    ModemChar modemText(char c);
    // The speed the connect line gave, 0 when none (the line is then done).
    int takeConnectLine();
    // A connection came up: the modem's rest of line, frames and the
    // session's counters start anew.
    void startSession();

    // Parses an allowed list ("10.0.0.7, 192.168.1.0/24"; commas, semicolons
    // or blanks between entries). False, with the bad entry, on an error.
    static bool parseAllowedPanels(const QString& text, QList<QPair<QHostAddress, int>>* out, QString* bad = nullptr);
    bool panelAllowed(const QHostAddress& address) const;
    // An IPv4 sender seen through a dual-stack socket (::ffff:a.b.c.d) is
    // the IPv4 address, as the settings write it.
    static QHostAddress plain(const QHostAddress& address);

    Phase phase = Phase::Idle;
    bool ipMode = false;          // the connection or the wait uses the socket
    bool waitingForCall = false;  // call-back mode
    bool endAfterConnect = false; // the first turn sends the end request
    bool ipCallBack = false;      // the end request asks for a call-back over IP
    EndCause endCause = EndCause::Requested;
    // A good frame has arrived since the connection came up: until then the
    // link is not shown as working (a wrong access code or model never gets
    // an answer).
    bool answeredSinceConnect = false;

    QByteArray receiveBuffer; // connect keyword scan, then frame assembly
    bool rxOverflow = false;  // the frame being assembled is longer than any
    bool connectLine = false; // the rest of the modem's connect line is arriving
    bool inFrame = false;     // between a frame's ":" and its carriage return
    QByteArray modemLine;     // modem text outside frames, up to its line end
    int lineSpeed = 0;        // from the connect line; 0 when it gave none
    QString lineReason;       // why the last call failed or the line dropped

    QByteArray dialText; // what the modem said during the dial
    QString dialPhone;
    int dialWait = 0;

    // UDP: the session's peer (null while no IP session is up), the source of
    // what the keyword scan holds, where replies go, and what was dropped.
    QHostAddress peerHost;
    quint16 peerPort = 0;
    QHostAddress candidateHost;
    quint16 candidatePort = 0;
    quint16 replyPort = 0;
    int ipPort = 0; // port openIpSocket last read
    QList<QPair<QHostAddress, int>> allowedPanels; // empty: any
    int strangerDatagrams = 0;
    int refusedPanels = 0;
    QString lastStranger;     // source of the last dropped datagram
    QString lastRefusedPanel; // address of the last panel the allowed list refused
};
