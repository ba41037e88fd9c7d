#pragma once
// The simulated alarm panel: answers the station's request frames as a real
// panel would, and ignores frames with a bad checksum, a wrong access code
// or a wrong panel code. Its state can be set and read (also as JSON) so
// that tests and demonstrations can script it.

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

namespace panelsim {

enum class Via { Modem, Ip };

// A request the panel accepted: all its bytes without the checksum.
struct Request {
    int code = 0;
    QList<int> bytes;
    Via via = Via::Modem;
};

// One record of the panel's event log: the event byte (bit 7 = kind), the
// parameter (0-3999) and the time (sent only in dated records).
struct EventRecord {
    int event = 0;
    int parameter = 0;
    QDateTime time;
};

class Panel : public QObject {
    Q_OBJECT
public:
    static constexpr int MemorySize = 5001;
    struct State {
        QString accessCode = QStringLiteral("1234"); // four hexadecimal digits
        int panelCode = 1;            // protocol code of the model (cadena)
        quint16 zonesOpen = 0;        // bit i: zone i + 1
        quint16 bypassed = 0;
        quint16 alarmMemory = 0;
        quint8 faults = 0;            // bit i: fault i + 1 (communicator, AC, battery ...)
        bool armed = false;
        int armMode = -1;             // mode of the last arm request (0-3)
        bool siren = false;
        bool entryDelay = false;
        bool exitDelay = false;
        bool autoArm = false;
        bool systemLamp = false;
        int partition = 0;            // 0-3
        quint8 pgm = 0;               // bit i: output i + 1
        bool extensionBytes = true;   // status answers carry partition and PGM bytes
        bool callBack = true;         // calls the station back when asked
        qint64 clockOffsetSecs = 0;   // panel clock minus host clock
        // Programming memory (addresses 0-5000) and event log: panel_memory.cpp.
        QByteArray programMemory = QByteArray(MemorySize, '\0');
        QList<EventRecord> eventLog;  // oldest first; handed out and removed
        int eventsPerAnswer = 3;
        // Faults (panel_memory.cpp). The next `lateAcks` writes are stored
        // but their acknowledgement comes late: it goes out when the second
        // request after the write arrives, collides with it on the line and
        // that request is lost (a slow line: the station has meanwhile sent
        // the write again and moved on).
        int lateAcks = 0;
        // The next `unstoredWrites` writes covering `unstoredAddress` are
        // acknowledged but that byte is not stored (when it is -1: the next
        // writes, none of their bytes).
        int unstoredWrites = 0;
        int unstoredAddress = -1;
        // Bytes (address, value) that change when the next connection starts.
        QList<QPair<int, int>> nextSessionChanges;
    };

    explicit Panel(QObject* parent = nullptr);

    State state;
    QList<Request> received; // accepted requests, oldest first
    int ignored = 0;         // frames dropped
    int lost = 0;            // requests lost under a late acknowledgement
    // A misbehaving panel for tests: what it sends instead of `answer` (the
    // frame it would have sent) to an accepted request.
    std::function<QByteArray(const Request& request, const QByteArray& answer)> rewrite;
    // Host clock (tests set it); the panel clock runs at its offset.
    std::function<QDateTime()> hostClock;

    QDateTime clock() const;
    void setClock(const QDateTime& t);
    int requestsOf(int code) const;

    // A new connection starts (the modem went online, or the communicator
    // called the station): an end request as its first request asks for a
    // call-back.
    void beginSession(Via via);
    // One request (the text between ":" and the carriage return); returns
    // the whole answer frame, or nothing when the panel does not answer.
    QByteArray handleFrame(const QByteArray& text, Via via);

    QJsonObject toJson() const;
    // Applies the keys present in `o`; false (and `error`) on a bad value.
    bool fromJson(const QJsonObject& o, QString* error = nullptr);

    // Frame text of the given answer bytes (":" pairs checksum CR).
    static QByteArray encode(const QList<int>& bytes);
    // The memory address of the access code for a demo model's protocol
    // code; -1 for any other model.
    static int accessCodeAddress(int panelCode);
    // Writes the state's access code into its memory at that address.
    static void placeAccessCode(State& s);

signals:
    // The station ended the connection. `callBack`: it asked to be called
    // back (over IP when `overIp`).
    void endOfConnection(panelsim::Via via, bool callBack, bool overIp);
    void changed();

private:
    QByteArray statusAnswer(bool faultVariant) const;
    QByteArray clockAnswer() const;
    // Programming memory (requests 0 and 1) and event log (6 and 13), with
    // their JSON keys (panel_memory.cpp).
    QByteArray memoryRequest(const Request& r);
    QByteArray eventRequest(const Request& r);
    void memoryToJson(QJsonObject& o) const;
    QString memoryFromJson(const QJsonObject& o, State& s) const; // the bad key, or empty
    QString faultsFromJson(const QJsonObject& o, State& s) const;
    void faultsToJson(QJsonObject& o) const;
    // The late acknowledgement, when one is due with this request.
    QByteArray takeLateAck();

    int m_sessionRequests = 0;
    QByteArray m_heldAck;  // a late acknowledgement not yet sent
    int m_heldAckTurns = 0; // requests until it goes out
};

} // namespace panelsim
