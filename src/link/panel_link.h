#pragma once
// The panel link: the facade the station owns one of. Behind it are the
// connection's state machine (LinkConnection), the request scheduler
// (RequestScheduler, which answers fit which Request), the memory transfer
// (TransferSession), status decoding (link_status), the frame codec and the
// pure indicator view (link_view_builder). The facade's own code is split by
// concern over panel_link*.cpp.
//
// It reaches the world only through the serial port and the datagram socket
// (setDevices), the host (setHost: its LinkStore, the port state and the
// station's messages), the console (setConsole: notifications and a few
// controls) and a clock (setClock). Time enters only through tick(), which
// tmr_main calls every 100 ms: nothing here waits. A dial or a double call is
// a state that ticks and received characters move on.
//
// Whoever asks for a call, a transfer or a comparison hands over the
// subscriber it is for (LinkSubscriber); the link keeps it as the session's
// subscriber, puts its codes in every request and stores events under it.

#include "data/messages.h"
#include "link/link_connection.h"
#include "link/link_status.h"
#include "link/link_subscriber.h"
#include "link/linkview.h"
#include "link/request_scheduler.h"
#include "link/transfer_session.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <utility>

class DatagramSocket;
class LinkConsole;
class LinkHost;
class LineSharing;
struct LinkEventRow;
class SerialPort;

class PanelLink : public QObject, public LinkCommands {
    Q_OBJECT
public:
    using LinkPhase = LinkConnection::Phase;
    using ReadBack = TransferSession::ReadBack;
    static constexpr int MaxFrameBytes = codec::MaxBytes;
    static constexpr int MemorySize = TransferSession::MemorySize;
    static constexpr int NoSection = TransferSession::NoSection;

    explicit PanelLink(QObject* parent = nullptr);
    ~PanelLink() override;

    // ---- Wiring -----------------------------------------------------------
    // Connects the devices' events to the link (and drops the previous
    // devices' connections).
    void setDevices(SerialPort* com, DatagramSocket* ip);
    SerialPort* comPort() const;
    DatagramSocket* ipSocket() const;
    // The open console, or nullptr when none is open.
    void setConsole(LinkConsole* console)
    {
        m_windowConsole = console;
        m_console = m_jobConsole ? m_jobConsole : console;
    }
    LinkConsole* console() const { return m_windowConsole; }
    // A job on a panel hears what a console hears, in the open console's
    // place, until it sets nullptr.
    void setJobConsole(LinkConsole* console)
    {
        m_jobConsole = console;
        m_console = console ? console : m_windowConsole;
    }
    // Who else uses the line (a job runner), or nullptr.
    void setLineSharing(LineSharing* sharing) { m_lineSharing = sharing; }
    LineSharing* lineSharing() const { return m_lineSharing; }
    void setHost(LinkHost* host) { m_host = host; }
    void setClock(std::function<QDateTime()> now);
    QDateTime now() const { return m_now(); }
    // The virtual keypad owns the serial port while its handler is set: it
    // receives every serial event.
    void setKeypad(std::function<void(int event)> handler) { m_keypadHandler = std::move(handler); }
    void clearKeypad() { m_keypadHandler = nullptr; }
    bool keypadOpen() const { return bool(m_keypadHandler); }
    // Back to the state of a station that just started (devices, console and
    // clock stay).
    void reset();

    // ---- Session subscriber -------------------------------------------------
    // The subscriber the console shows (or read again). Outside a connection
    // it is the one the next session is for (a call-back wait takes whoever
    // is shown when the panel calls); in a connection only the session's own
    // subscriber is refreshed.
    void setSubscriber(const LinkSubscriber& subscriber);
    const LinkSubscriber& subscriber() const { return m_subscriber; }
    // The access code put in every request, chosen when a connection comes up.
    const QString& accessCode() const { return m_accessCode; }
    // The protocol code (cadena) as sent in byte 2; 0 when it is not 0-255.
    int protocolCode() const;

    // ---- What the parts hold, read only -------------------------------------
    // The connection (line speed and reason, the UDP peer, dropped
    // datagrams), the scheduler (queued command, countdown, unanswered turns,
    // answers counted) and the transfer (image, marks, runs, progress).
    const LinkConnection& connection() const { return m_connection; }
    const RequestScheduler& scheduler() const { return m_scheduler; }
    const TransferSession& transfer() const { return m_transfer; }

    // ---- Connection -------------------------------------------------------
    LinkPhase phase() const { return m_connection.phase; }
    bool connected() const { return m_connection.connected(); } // the scheduler runs
    bool dialling() const { return m_connection.dialling(); }
    bool waitingForConnect() const { return m_connection.listening(); }
    bool ipMode() const { return m_connection.ipMode; }
    // Call-back mode: the panel is to call us. It outlasts the phases.
    bool waitingForCall() const { return m_connection.waitingForCall; }

    void resetModem();
    void dial(const QString& phone, int wait);
    void dialTwice(const QString& phone);
    void waitForModemCall();
    void waitForIpCall();
    void stopWaiting();
    // Bind and close the socket on ip_port; false when it could not be bound.
    bool openIpSocket();
    void closeIpSocket();
    // The serial device is gone (unplugged, or a fatal port error): a dial,
    // a connection or a wait over it ends as a hang-up does.
    void serialDeviceLost();

    // ---- Console actions --------------------------------------------------
    // The two dial buttons return true when a dial started (then log it).
    bool dialDirect(const LinkSubscriber& subscriber);
    bool dialDoubleCall(const LinkSubscriber& subscriber);
    void toggleModemWait(const LinkSubscriber& subscriber);
    // "IP": starts or ends the wait over IP, or while connected over the
    // modem switches the IP call-back.
    void pressIpButton(const LinkSubscriber& subscriber);
    // "Cortar": the end command while connected or dialling (a dial stops at
    // once). True when it acted.
    bool hangUp();
    // Ends a call now: connected, its end frames go out at once (asking for
    // no call-back); a dial stops. True when it acted.
    bool endCallNow();
    // Arm, disarm, panic, faults, clock, PGM: only while connected with
    // nothing pending. True when queued.
    bool queueCommand(int command, int pgm = 0);
    // Zone bypass click (0-15): the log code (10 bypass, 11 removal) or 0.
    int zoneBypassClick(int zone);
    // Partition click (0-3): true when a change was queued.
    bool partitionClick(int k);
    // Stores a pending command; command 3 also ends a dial in progress.
    void setPendingCommand(int command);

    // ---- Scheduler --------------------------------------------------------
    void tick();
    bool clockKnown() const { return m_clockKnown; }
    // The last answer taken: code first, then rxCount bytes (checksum excluded).
    const std::array<int, MaxFrameBytes>& rxFrame() const { return m_rxFrame; }
    int rxCount() const { return m_rxCount; }

    // ---- Transfer ---------------------------------------------------------
    bool writePending() const { return m_transfer.writePending; }
    bool readPending() const { return m_transfer.readPending; }
    bool eventsPending() const { return m_transfer.eventsPending; }
    // The console starts a write, read or event download; the scheduler
    // takes it on its next turn.
    enum class Transfer { Write, Read, Events };
    void requestTransfer(Transfer kind);
    // Builds the memory image of the subscriber from its values and marks,
    // and makes it the session's subscriber. False when a value cannot be
    // encoded: the message has been shown and no mark is left.
    bool loadTransfer(const LinkSubscriber& subscriber);

    // ---- Read-back: verified uploads and comparison -----------------------
    const ComparisonImage& comparison() const { return m_transfer.comparison; }
    // Reads every address of the subscriber's sections into comparison()
    // (only while connected with nothing pending); the console hears
    // comparisonDone(). False when it did not start.
    bool compare(const LinkSubscriber& subscriber);
    // "Subir cambios": uploads only the addresses whose stored value differs
    // from the last panel image known to be true. Only while connected with
    // nothing pending, and only with verified uploads.
    enum class ChangesUpload { Started, NoKnownImage, NothingToSend, NeedsVerification, NotStarted };
    ChangesUpload uploadChanges(const LinkSubscriber& subscriber);
    QList<int> differingSections() const { return m_transfer.differingSections(); }
    QList<QPair<int, QString>> panelValues(int section) const { return m_transfer.panelValues(section); }
    QList<QPair<int, QString>> imageValues(int section) const { return m_transfer.imageValues(section); }

    // ---- Status and view --------------------------------------------------
    const LinkStatus& status() const { return m_status; }
    // The indicators from the link's state (the session stays as it is).
    const LinkView& updateView();
    // Ends the session: status, progress, connection flags and lamps back
    // to none, then the indicators.
    void endSession();
    const LinkView& view() const { return m_view; }
    // Adds a sentence to how the last transfer ended, in the status line.
    void appendOutcome(const QString& sentence);

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
    void viewChanged();
    // lineReason changed (the main window's status bar shows it).
    void lineMessage(const QString& text);
    void messageQueued();
    // A tick has been taken (whoever follows the link in ticks counts them).
    void ticked();

private:
    // What both dial buttons do first; false when no dial may start now.
    bool beginDial(const LinkSubscriber& subscriber, QString* phone);
    // What both wait buttons do when idle: start the wait, or end the one running.
    void toggleWait(const LinkSubscriber& subscriber, bool overIp);
    // Tests put a part in a state no short exchange of frames reaches (a
    // retry count, a run, a status as an earlier answer left it) and call a
    // handler on an answer directly. One friend, defined in tests/common,
    // instead of setters in this header.
    friend struct LinkTestAccess;
    using EndCause = LinkConnection::EndCause;

    void takeTick();
    void onCommEvent(int event);
    void onDatagram(const QByteArray& data, const QHostAddress& sender, quint16 senderPort);

    // Connection (panel_link_connection.cpp, panel_link_serial.cpp, panel_link_ip.cpp).
    void enterConnected();
    void chooseAccessCode();
    void scanForConnect(const QByteArray& received);
    void stopListening();
    void advanceDial();
    void finishCall(bool connect);
    void afterCancelledOrFailedDial(const char* redPicture, const QString& outcome);
    bool modemText(char c);
    void lineDropped();
    void setLineReason(const QString& reason);
    bool reopenPort();
    bool refuseNumber(const QString& phone, const char* picture);
    void writeModemCommand(const QByteArray& command);
    void endConnection();
    enum class DropReason { NotSessionPanel, NotAllowed };
    void dropStranger(const QHostAddress& from, quint16 port, DropReason why);

    // Frames and turns (panel_link_frames.cpp).
    void sendFrame(int n, int deadline);
    void receive(const QByteArray& received);
    void takeFrame();
    bool decodeFrame();
    void rejectAnswer(int code, int count);
    void sendTurn();
    void header(int code);
    void send(int n, int countdown);
    void sendStatus(bool faultVariant);
    void sendEnd();
    void sendBypass();
    void sendPartition();
    void sendSetClock();
    void sendPgm();
    void requestMemory(int start, int count);
    void writeMemory(int start, const QList<int>& data);
    void requestEvents();
    void storeStatus(int count);
    void panelClock(int count);
    void showClock();

    // Transfer (panel_link_transfer.cpp, panel_link_verify.cpp).
    void nextWriteRun();
    void nextReadRun();
    void nextRun(int mark);
    bool loadFailed();
    void takeMemoryAnswer(int count);
    void takeWriteAnswer(int count);
    void storeShortEvents(int count);
    void storeDatedEvents(int count);
    LinkEventRow eventRow(int eventByte, int parametro, const QString& fecha) const;
    void holdEvents(const QList<LinkEventRow>& rows);
    bool storeHeldEvents();
    void eventsDone();
    bool storeSections(const QList<int>& sections);
    void progressStep();
    void finishProgress();
    void showProgress();
    void unexpectedErrorInAnswer();
    bool beginVerification();
    void nextReadBackRun();
    void readBackReceived();
    void finishVerification();
    void finishComparison();
    void verificationFailed(const QList<int>& sections);
    QString readBackStatus() const;
    void rememberReadBack();
    void rememberDownload();
    void rememberPanelBytes(const QByteArray& bytes, const QByteArray& known);

    // Doubled answers (panel_link_doubled.cpp).
    void rememberTaken(const codec::Bytes& bytes, int count);
    bool isDoubled(const codec::Bytes& bytes, int count) const;
    void doubledAnswer();
    bool readRunAgain(int start, int end, int readBack);
    void reportDoubledAnswers();

    // View and status line (panel_link.cpp).
    void setPicture(const QString& name, const QString& key);
    void clearSession();
    void changed();
    void setOutcome(const QString& text);
    QString statusText() const;
    void queueMessage(const QString& title, const QString& text, MessageService::Icon icon);
    static QString counted(int n, const char* one, const char* many);

    QPointer<SerialPort> m_com;
    QPointer<DatagramSocket> m_ip;
    LinkConsole* m_console = nullptr; // the job's while one is set, else the window's
    LinkConsole* m_windowConsole = nullptr;
    LinkConsole* m_jobConsole = nullptr;
    LineSharing* m_lineSharing = nullptr;
    LinkHost* m_host = nullptr;
    std::function<QDateTime()> m_now;
    QList<QMetaObject::Connection> m_deviceConnections;
    std::function<void(int event)> m_keypadHandler;

    LinkConnection m_connection;
    RequestScheduler m_scheduler;
    TransferSession m_transfer;
    LinkStatus m_status;
    LinkSubscriber m_subscriber;
    QString m_accessCode;
    bool m_clockKnown = false;
    qint64 m_clockOffsetMs = 0; // station time minus panel time
    std::array<int, MaxFrameBytes> m_rxFrame{};
    int m_rxCount = 0;
    QString m_outcome; // how the last dial, session or transfer ended
    LinkView m_view;
    QList<Message> m_messages;
};
