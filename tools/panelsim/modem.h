#pragma once
// The simulated Hayes modem on a pseudo-terminal it creates: the station
// opens the other end (through a "COMn" link in its program directory). In
// command mode it answers "AT" commands ("ATZ", "ATDT", "ATS0=1" ...); a
// call it places reaches the simulated panel and puts it online (a connect
// line with the speed, as real modems say it), where request frames go to
// the panel and its answers come back; or it fails with a result code
// ("BUSY" ...). The station closing its end of the line is a hang-up;
// dropLine() is the line failing under a session ("NO CARRIER"). After an end
// request that asks for it the panel calls the station back: the modem
// rings, and answers when the station has armed auto-answer ("ATS0=1").

#include "panel.h"
#include "ptyline.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <functional>

class QTimer;

namespace panelsim {

class Modem : public QObject {
    Q_OBJECT
public:
    struct Options {
        int dialDelayMs = 1500;     // from "ATDT" to "CONNECT"
        QByteArray connectText = "CONNECT 2400"; // the line that puts a call online
        QByteArray dialResult;      // when set, every call ends with it ("BUSY", "NO CARRIER" ...)
        bool requireDoubleCall = false; // answer only a call that follows an abandoned one
        int callBackDelayMs = 2000; // from the end request to the first ring
        int ringIntervalMs = 1000;
        int maxRings = 10;
        int answerDelayMs = 0;      // panel answer time for a request
    };
    enum class Line { Command, Dialling, Online };

    explicit Modem(Panel* panel, QObject* parent = nullptr);
    ~Modem() override;

    Options options;
    // Many panels: the number dialled picks the panel that answers. Returns
    // it, or null with the result code the call ends with ("NO ANSWER",
    // "BUSY"). Unset: the one panel answers every number.
    std::function<Panel*(const QString& number, QByteArray* result)> route;

    // Creates the pseudo-terminal.
    bool open(QString* error = nullptr) { return m_pty->open(error); }
    QString slavePath() const { return m_pty->slavePath(); }
    // Makes `dir`/COMn point at the station's end of the line.
    bool linkAs(const QString& dir, int n, QString* error = nullptr) const { return m_pty->linkAs(dir, n, error); }

    Line line() const { return m_line; }
    bool lineOpen() const { return m_pty->isOpen(); } // the station holds its end open
    int autoAnswer() const { return m_s0; }
    bool callBackPending() const { return m_ringsLeft > 0; }

    // What the station did.
    QStringList commands; // "AT" command lines, upper-cased
    QStringList dialled;
    int hangUps = 0;      // online calls ended by the station closing its end

    // The panel calls the station now (rings until answered or given up).
    void callStation();
    // The line drops under an online call: "NO CARRIER", back to command mode.
    // False when no call was online.
    bool dropLine();

signals:
    void online();
    void offline();

private:
    void lineClosed();
    void input(const QByteArray& bytes);
    void command(const QByteArray& line);
    void dialResult();
    void goOnline();
    void goOffline();
    void ring();
    void write(const QByteArray& bytes);
    void reply(const char* text);
    void onEnd(Via via, bool callBack, bool overIp);
    void usePanel(Panel* panel);

    Panel* m_panel;
    PtyLine* m_pty;
    QTimer* m_dialTimer;
    QTimer* m_ringTimer;
    Line m_line = Line::Command;
    bool m_echo = true;
    int m_s0 = 0;
    QByteArray m_command;
    QByteArray m_frame;
    QByteArray m_routedResult; // how the call to an unknown or busy panel ends
    QMetaObject::Connection m_endConnection;
    bool m_inFrame = false;
    QDateTime m_abandonedAt;
    int m_ringsLeft = 0;
};

} // namespace panelsim
