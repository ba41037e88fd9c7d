#pragma once
// Link module: the facade of the panel link; the station owns one. Its parts live in
// their own files: the frame codec (frame_codec), status decoding
// (link_status), the indicator view (link_view_builder), the connection
// (mdl_trans_connection, mdl_trans_ip), the scheduler (mdl_trans_scheduler)
// and the transfer (mdl_trans_transfer).
//
// It reaches the world only through the serial port and the datagram socket
// (setDevices), the host (setHost: its LinkStore, the port state and the
// station's messages), the console (setConsole) and a clock (setClock). Time enters only through tick(), which tmr_main calls
// every 100 ms: nothing here waits. A dial or a double call is a state that
// ticks (the wait countdown) and received characters move on.
//
// f_muestraestado computes the indicator value (view()) that the console
// renders, through the pure indicatorView; viewChanged() says when it may
// have changed.

#include "data/messages.h"
#include "link/comparison_image.h"
#include "link/frame_codec.h"
#include "link/link_status.h"
#include "link/linkview.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <array>
#include <functional>
#include <utility>

class DatagramSocket;
class LinkConsole;
class LinkHost;
struct LinkEventRow;
class SerialPort;

class mdl_trans : public QObject, public LinkCommands {
    Q_OBJECT
public:
    explicit mdl_trans(QObject* parent = nullptr);
    ~mdl_trans() override;

    // ---- Wiring -----------------------------------------------------------
    // Connects the devices' events to the handlers below (and drops the
    // previous devices' connections).
    void setDevices(SerialPort* com, DatagramSocket* ip);
    SerialPort* comPort() const;
    DatagramSocket* ipSocket() const;
    // The open console, or nullptr when none is open.
    void setConsole(LinkConsole* console) { m_console = console; }
    LinkConsole* console() const { return m_console; }
    // The station around the link: its store, serial port state and messages.
    void setHost(LinkHost* host) { m_host = host; }
    void setClock(std::function<QDateTime()> now);
    QDateTime now() const { return m_now(); }
    // The virtual keypad owns the serial port while its handler (teclado_Comm)
    // is set: it receives every serial event.
    void setKeypad(std::function<void(int event)> handler) { m_keypadHandler = std::move(handler); }
    void clearKeypad() { m_keypadHandler = nullptr; }
    bool keypadOpen() const { return bool(m_keypadHandler); }
    // Back to the state of a station that just started (devices, console and
    // clock stay).
    void reset();

    // ---- Connection -------------------------------------------------------
    // Where the connection is, one state at a time: idle, a dial (a direct
    // call, or a double call ringing or in its pause), listening for the
    // connect keyword (a call-back wait over the modem or IP), connected.
    enum class LinkPhase { Idle, Calling, Ringing, Pause, Listening, Connected };
    LinkPhase phase() const { return m_phase; }
    bool connected() const { return m_phase == LinkPhase::Connected; } // the scheduler runs
    bool dialling() const { return m_phase == LinkPhase::Calling || m_phase == LinkPhase::Ringing || m_phase == LinkPhase::Pause; }
    bool waitingForConnect() const { return m_phase == LinkPhase::Listening; } // received text is scanned for the keyword
    bool ipMode() const { return m_ipMode; } // the connection or the wait uses the socket
    // Call-back mode: the panel is to call us. It outlasts the phases: a dial
    // made in it ends by asking for the call-back, and the wait resumes
    // when a call-back session ends.
    bool waitingForCall() const { return m_waitingForCall; }
    bool endAfterConnect() const { return m_endAfterConnect; } // the first turn sends the end request
    bool ipCallBack() const { return m_ipCallBack; } // the end request asks for a call-back over IP
    // Connect keyword scan, then frame assembly.
    const QByteArray& receiveBuffer() const { return m_receiveBuffer; }
    // What the modem said: the speed on its connect line (0 when it gave
    // none), and why the last call failed or the line dropped ("Ocupado" ...;
    // empty when it did not).
    int lineSpeed() const { return m_lineSpeed; }
    const QString& lineReason() const { return m_lineReason; }
    quint16 replyPort() const { return m_replyPort; } // sender port of the last datagram taken

    // ---- IP session peer --------------------------------------------------
    // The address and port that sent "CONNECT IP". Until the session ends,
    // datagrams from any other source are dropped and never change where
    // replies go. Null while no IP session is up.
    const QHostAddress& peerHost() const { return m_peerHost; }
    quint16 peerPort() const { return m_peerPort; }
    // Datagrams dropped since the socket was bound (the last one's source is
    // kept privately for the tool-tip), and of them those whose sender the
    // allowed list refused.
    int strangerDatagrams() const { return m_strangerDatagrams; }
    int refusedPanels() const { return m_refusedPanels; }
    // Parses an allowed list ("10.0.0.7, 192.168.1.0/24"; commas, semicolons
    // or blanks between entries). False, with the bad entry, on an error.
    static bool parseAllowedPanels(const QString& text, QList<QPair<QHostAddress, int>>* out, QString* bad = nullptr);
    bool panelAllowed(const QHostAddress& address) const;

    // ---- Scheduler state --------------------------------------------------
    int pendingCommand() const { return m_pendingCommand; } // console command for the next turn (codes below)
    int waitCountdown() const { return m_waitCountdown; }   // ticks until the next turn
    int awaitingAnswer() const { return m_awaitingAnswer; } // 1 from a request until any frame arrives
    int retryCounter() const { return m_retryCounter; }     // consecutive turns that found no answer
    // Code of the request whose answer is awaited, -1 when none: an answer
    // is taken only with a code that request can be answered with.
    int outstandingRequest() const { return m_outstandingRequest; }
    int rejectedAnswers() const { return m_rejectedAnswers; } // well-formed answers refused in this connection
    // A second, different answer to a request already answered: one of the
    // two was not the panel's. Counted in this connection.
    int doubledAnswers() const { return m_doubledAnswers; }
    bool frameError() const { return m_frameError; }          // last turn unanswered or last frame bad
    bool clockKnown() const { return m_clockKnown; }
    bool ticksSuspended() const { return m_ticksSuspended; } // while an answer is being stored
    static constexpr int MaxFrameBytes = codec::MaxBytes;
    // The answer being decoded: bytes 0 (answer code) ... rxCount, the last
    // one being the checksum; rxCount is the byte count without it.
    const std::array<int, MaxFrameBytes>& rxFrame() const { return m_rxFrame; }
    int rxCount() const { return m_rxCount; }
    // Good answers received, by answer code (0-15), and requests sent.
    const std::array<int, 16>& answersReceived() const { return m_answersReceived; }
    int framesSent() const { return m_framesSent; }

    // ---- Transfer and events state (memory map and event log) -------------
    bool writePending() const { return m_writePending; }
    bool readPending() const { return m_readPending; }
    bool eventsPending() const { return m_eventsPending; }
    double progressTotal() const { return m_progressTotal; } // sections the transfer moves
    // The console starts a write, read or event download; the scheduler
    // takes it on its next turn.
    enum class Transfer { Write, Read, Events };
    void requestTransfer(Transfer kind);
    // Memory image of the subscriber being transferred, one entry per panel
    // address 0-5000 (f_cargatransferencia builds it).
    static constexpr int MemorySize = 5001;
    static constexpr int NoSection = 1000;
    const std::array<qint16, MemorySize>& memoryImage() const { return m_memoryImage; }
    const std::array<qint16, MemorySize>& transferMarks() const { return m_transferMarks; } // 1 write, -1 read, 0 nothing
    const std::array<qint16, MemorySize>& addressSection() const { return m_addressSection; } // id_seccion; NoSection = none
    int runStart() const { return m_runStart; } // first address of the last memory request
    int runEnd() const { return m_runEnd; }     // address after its last byte

    // ---- Panel status -----------------------------------------------------
    const LinkStatus& status() const { return m_status; }

    // ---- Transport --------------------------------------------------------
    void f_reseteamodem();
    void f_llamar(const QString& phone, int wait);
    void f_doblellamada(const QString& phone);
    void f_esperallamada();
    void f_esperaip();
    void f_finespera();
    void f_conexion(const QByteArray& received);
    void f_eligeclave();
    // Bind and close the socket on ip_port (w_main forwards its Open_IP and
    // Close_IP here). Open_IP is false when the socket could not be bound.
    bool Open_IP();
    void Close_IP();
    // Device handlers (connected by setDevices).
    void onCommEvent(int event);
    void onDatagram(const QByteArray& data, const QHostAddress& sender, quint16 senderPort);
    // The serial device is gone (unplugged, or a fatal port error): a dial,
    // a connection or a wait over it ends as a hang-up does, and the port is
    // freed; clicking the status bar's modem panel opens it again.
    void serialDeviceLost();

    // ---- Console actions --------------------------------------------------
    // Link buttons. The two dial buttons return true when a dial started
    // (the console then logs it).
    bool img_connect_Click();
    bool img_connect_AMO_Click();
    void Img_wait_call_Click();
    void Command1_Click();
    // "Cortar": pending command 3 while connected or dialling (a dial stops
    // at once). True when it acted (the console logs it).
    bool img_end_Click();
    // Arm, disarm, panic, faults, clock, PGM (codes 1, 2, 6, 14, 9, 12): only
    // while connected with nothing pending. True when queued (then log).
    bool queueCommand(int command, int pgm = 0);
    // Zone bypass click (zone index 0-15): returns the log code (10 bypass,
    // 11 removal) or 0 when nothing changed.
    int zoneBypassClick(int zone);
    // Partition click (0-3): true when a change was queued.
    bool partitionClick(int k);
    // Stores a pending command; command 3 also ends a dial in progress.
    void setPendingCommand(int command);

    // ---- Frames and scheduler ---------------------------------------------
    void tick();
    void f_enviatrama(int n);
    void f_recibe(const QByteArray& received);
    // True when the answer was taken: only that counts as an answer for the
    // hang-up rule (an echo of our own request or a refused answer does not).
    bool f_decodifica();
    // Whether a well-formed answer with this code and byte count (checksum
    // excluded) answers the outstanding request.
    bool answerFits(int code, int count) const;
    // Request builders: header, parameters, wait countdown, send.
    void f_pidememoria(int start, int count);              // 0 read memory
    void f_escribememoria(int start, const QList<int>& data); // 1 write memory
    void f_pideeventos();                                   // 6 or 13 event log
    // The protocol code (cadena) as sent in byte 2; 0 when it is not 0-255.
    int protocolCode() const;

    // ---- Status ----------------------------------------------------------
    void f_guardaestado(int count);
    // The indicators from the link's state (the session stays as it is).
    const LinkView& f_muestraestado();
    // Ends the session: status, progress, connection flags and lamps back
    // to none, then the indicators.
    void endSession();
    const LinkView& view() const { return m_view; }
    // Adds a sentence to how the last transfer ended, in the status line.
    void appendOutcome(const QString& sentence);

    // ---- Memory transfer and event download (their own module) -----------
    void f_siguienteescritura();          // next write run, or end of the write
    void f_siguientelectura();            // next read run, or end of the read
    void f_recibememoria(int count);      // answer 0: read data
    void f_confirmaescritura(int count);  // answer 1: write acknowledged
    void f_guardaeventos(int count);      // answer 6: short records
    void f_guardaeventosfecha(int count); // answer 13: dated records
    // Builds the memory image of one subscriber from its values and marks.
    // False when a value cannot be encoded: then the message has been shown
    // and no mark is left, so nothing of a half-built image goes out.
    bool f_cargatransferencia(qint32 id_abonado);
    // Stores one section read from the panel; false when the database refused it.
    bool f_guardaseccion(int id_seccion);

    // ---- Test hooks --------------------------------------------------------
    // Puts the link in a phase without going through a dial or a wait.
    void forTestSetPhase(LinkPhase p) { m_phase = p; }
    void forTestSetEndAfterConnect(bool on) { m_endAfterConnect = on; }
    void forTestSetIpCallBack(bool on) { m_ipCallBack = on; }
    // Scheduler state as a given turn would find it.
    void forTestSetWaitCountdown(int ticks) { m_waitCountdown = ticks; }
    void forTestSetAwaitingAnswer(int awaiting) { m_awaitingAnswer = awaiting; }
    void forTestSetRetryCounter(int turns) { m_retryCounter = turns; }
    void forTestSetOutstandingRequest(int code) { m_outstandingRequest = code; }
    void forTestSetClockKnown(bool known) { m_clockKnown = known; }
    // Starts or stops a write, read or event download without the console.
    void forTestSetWritePending(bool on) { m_writePending = on; }
    void forTestSetReadPending(bool on) { m_readPending = on; }
    void forTestSetEventsPending(bool on) { m_eventsPending = on; }
    // The memory run an answer is taken for.
    void forTestSetRun(int start, int end)
    {
        m_runStart = start;
        m_runEnd = end;
    }
    // Gives a memory address a section and a value type, as an image built
    // from the database would.
    void forTestSetAddress(int address, int section, int type)
    {
        m_addressSection[size_t(address)] = qint16(section);
        addressType[size_t(address)] = qint16(type);
    }
    // The panel status as an earlier answer or click would have left it.
    LinkStatus& forTestStatus() { return m_status; }
    // An answer as the decoder leaves it (code first, checksum excluded),
    // for calling its handler directly.
    void forTestSetAnswer(const QList<int>& bytes);
    // The request bytes f_enviatrama sends.
    void forTestSetRequest(const QList<int>& bytes);

    // ---- Messages ---------------------------------------------------------
    // A frame handler never opens a box: its nested event loop would feed the
    // decoder again half way through an answer. The message waits here and
    // messageQueued() is emitted; whoever shows link messages connects to it
    // queued and takes them after the handler has returned.
    struct Message {
        QString title, text;
        MessageService::Icon icon;
    };
    QList<Message> takeMessages() { return std::exchange(m_messages, {}); }

signals:
    // The indicator value may have changed.
    void viewChanged();
    // lineReason changed (the main window's status bar shows it).
    void lineMessage(const QString& text);
    void messageQueued();

private:
    enum class EndCause { Requested, NoAnswer, LineDropped };

    void enterConnected();
    // A wait for the connect keyword ends (the call-back mode stays).
    void stopListening();
    void advanceDial();
    void finishCall(bool connect);
    void afterCancelledOrFailedDial(const char* redPicture, const QString& outcome);
    bool modemText(char c);
    void takeConnectLine();
    void lineDropped();
    void setLineReason(const QString& reason);
    bool reopenPort();
    // True when the number holds a character that may not be dialled: then
    // the dial has failed with the reason, and nothing was written.
    bool refuseNumber(const QString& phone, const char* picture);
    // A modem command whose result is awaited: what came before it is dropped.
    void writeModemCommand(const QByteArray& command);
    // Ends the connection for m_endCause (which it resets).
    void endConnection();
    // How the last dial, session or transfer ended, kept for the status line
    // until the next one starts.
    void setOutcome(const QString& text);
    QString statusText() const;
    void sendTurn();
    void header(int code);
    void send(int n, int countdown);
    void sendStatus(bool faultVariant);
    void sendEnd();
    void sendBypass();
    void sendPartition();
    void sendSetClock();
    void sendPgm();
    void panelClock(int count);
    void showClock();
    void setPicture(const QString& name, const QString& key);
    void clearSession();
    void changed()
    {
        m_view.statusLine = statusText();
        emit viewChanged();
    }
    void nextRun(int mark);
    bool loadFailed();
    LinkEventRow eventRow(int eventByte, int parametro, const QString& fecha) const;
    void storeEvents(const QList<LinkEventRow>& rows);
    void eventsDone(); // an answer without records ends the download
    void progressStep();
    void showProgress();
    void unexpectedErrorInAnswer();
    bool m_storeFailureSaid = false; // a store failure was said in this connection
    // "1 sección", "41 secciones".
    static QString counted(int n, const char* one, const char* many);
    enum class DropReason { NotSessionPanel, NotAllowed };
    void dropStranger(const QHostAddress& from, quint16 port, DropReason why);
    void rejectAnswer(int code, int count);
    // A whole frame has arrived: decoded, and the wait ends if it was taken.
    void takeFrame();
    // The answer last taken, to notice a second, different one to the same
    // request.
    struct TakenAnswer {
        int code = -1;
        QList<int> bytes; // code first, checksum excluded
        int runStart = 0, runEnd = 0;
        int readBack = 0; // ReadBack of a memory answer, as an int
        int framesSent = 0; // requests sent when it was taken
    };
    void rememberTaken(const codec::Bytes& bytes, int count);
    bool isDoubled(const codec::Bytes& bytes, int count) const;
    void doubledAnswer();
    // Reads a memory run again after a doubled answer; false when no
    // transfer can take it now.
    bool readRunAgain(int start, int end, int readBack);
    // The warning about doubled answers, once a connection, when what they
    // put in doubt has been read again.
    void reportDoubledAnswers();
    // A transfer ended, however: the bar does not stay part way.
    void finishProgress();

    QPointer<SerialPort> m_com;
    QPointer<DatagramSocket> m_ip;
    LinkConsole* m_console = nullptr;
    LinkHost* m_host = nullptr;
    std::function<QDateTime()> m_now;
    QList<QMetaObject::Connection> m_deviceConnections;
    std::function<void(int event)> m_keypadHandler;

    LinkPhase m_phase = LinkPhase::Idle;
    int m_pendingCommand = 0;
    int m_waitCountdown = 0;
    int m_awaitingAnswer = 0;
    int m_retryCounter = 0;
    int m_outstandingRequest = -1;
    bool m_clockKnown = false;
    int m_rejectedAnswers = 0;
    bool m_frameError = false;
    bool m_ticksSuspended = false;
    std::array<int, 16> m_answersReceived{};
    int m_framesSent = 0;
    bool m_ipMode = false;
    bool m_waitingForCall = false;
    bool m_endAfterConnect = false;
    bool m_ipCallBack = false;
    QByteArray m_receiveBuffer;
    int m_lineSpeed = 0;
    QString m_lineReason;
    quint16 m_replyPort = 0;
    QHostAddress m_peerHost;
    quint16 m_peerPort = 0;
    int m_strangerDatagrams = 0;
    int m_refusedPanels = 0;
    QString m_lastRefusedPanel; // address of the last panel the allowed list refused
    int m_doubledAnswers = 0;
    bool m_doubledToReport = false; // a doubled answer not yet told to the operator
    bool m_doubledReported = false; // told once in this connection
    TakenAnswer m_taken;
    QSet<int> m_rereadSections; // sections read again after a doubled answer
    QSet<int> m_storedSections; // sections the download has stored (progress counts each once)
    bool m_writePending = false;
    bool m_readPending = false;
    bool m_eventsPending = false;
    double m_progressTotal = 0;
    int m_runStart = 0;
    int m_runEnd = 0;
    std::array<int, MaxFrameBytes> m_rxFrame{};
    int m_rxCount = 0;
    std::array<int, MaxFrameBytes> m_txFrame{}; // the request being built
    std::array<qint16, MemorySize> m_memoryImage{};
    std::array<qint16, MemorySize> m_transferMarks{};
    std::array<qint16, MemorySize> m_addressSection{};
    LinkStatus m_status;
    // Session and transfer state no one outside the link reads.
    // Panel addresses or networks allowed to connect (empty: any), from the
    // settings; Open_IP reads them.
    QList<QPair<QHostAddress, int>> allowedPanels;
    QString lastStranger; // source of the last dropped datagram
    // A good frame has arrived since the connection came up: until then the
    // link is not shown as working (a wrong access code or model never
    // gets an answer).
    bool answeredSinceConnect = false;
    qint64 clockOffsetMs = 0; // station time minus panel time
    double progressPercent = 0;
    int sectionsDone = 0;  // sections of the transfer completed so far
    int eventsStored = 0;  // event records stored by the download so far
    std::array<qint16, MemorySize> addressType{};     // 1-4; 0 = none
    qint32 currentSubscriber = 0;
    QByteArray m_dialText;
    QString m_dialPhone;
    int m_dialWait = 0;
    QString m_outcome;
    int m_ipPort = 0;       // port Open_IP last read
    EndCause m_endCause = EndCause::Requested;
    bool m_rxOverflow = false;
    bool m_connectLine = false; // the rest of the modem's connect line is arriving
    bool m_inFrame = false;     // between a frame's ":" and its carriage return
    QByteArray m_modemLine;     // modem text outside frames, up to its line end
    // Source of what the connect keyword scan holds (IP waits).
    QHostAddress m_candidateHost;
    quint16 m_candidatePort = 0;
    LinkView m_view;
    QList<Message> m_messages;

    // ---- Read-back: verified uploads and comparison (mdl_trans_verify.cpp) --
public:
    // While an upload is verified the write-pending flag stays set and the
    // write turns send read runs; a comparison runs under the read-pending
    // flag. Both read into comparison(), never into the stored values.
    enum class ReadBack { None, Verify, Compare };
    ReadBack readBack() const { return m_readBack; }
    const ComparisonImage& comparison() const { return m_comparison; }
    // Reads every address of the subscriber's sections into comparison()
    // (only while connected with nothing pending); the console hears
    // comparisonDone(). False when it did not start.
    bool f_comparar(qint32 id_abonado);
    // "Subir cambios": uploads only the addresses whose stored value differs
    // from the last panel image known to be true (an address never read or
    // verified counts as different). Only while connected with nothing
    // pending. Only with verified uploads: an unverified one never proves
    // what the panel took, so the differences would go out again forever.
    enum class ChangesUpload { Started, NoKnownImage, NothingToSend, NeedsVerification, NotStarted };
    ChangesUpload f_subircambios(qint32 id_abonado);
    // Sections whose panel bytes differ from the image, by the last read-back.
    QList<int> differingSections() const;
    // A section's values as a download would store them: from the panel's
    // bytes of the last read-back, or from the image of the stored values.
    QList<QPair<int, QString>> panelValues(int section) const;
    QList<QPair<int, QString>> imageValues(int section) const;

private:
    // After the last write run: reads back what was written. False when
    // there is nothing to verify (then the upload ends as before).
    bool beginVerification();
    void nextReadBackRun();
    void readBackReceived();
    void finishVerification();
    void finishComparison();
    void verificationFailed(const QList<int>& sections);
    QList<int> sectionsOf(const std::array<bool, MemorySize>& addresses) const;
    QString readBackStatus() const;
    // What the last read-back found is what the panel holds: remembered.
    void rememberReadBack();
    // What a download read, remembered once when it ends.
    void rememberDownload();
    void rememberPanelBytes(const QByteArray& bytes, const QByteArray& known);

    ReadBack m_readBack = ReadBack::None;
    ComparisonImage m_comparison;
    std::array<bool, MemorySize> m_toVerify{}; // addresses the upload wrote
    int m_verifyPass = 0;   // read-backs of this upload so far
    int m_uploadSections = 0; // sections of the upload, for "Verificado: N secciones"
    bool m_verifyUploads = true; // the station's setting, read when an image is loaded
    // Bytes the download has read so far (a byte per address, and 1 where read).
    QByteArray m_downloadBytes = QByteArray(MemorySize, '\0');
    QByteArray m_downloadKnown = QByteArray(MemorySize, '\0');
};
