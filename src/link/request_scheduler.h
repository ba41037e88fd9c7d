#pragma once
// The request scheduler's bookkeeping: the command the console queued for
// the next turn, the countdown to that turn, the request whose answer is
// awaited and the turns that found none, and the request frame being built.
// PanelLink decides what each turn sends; this part numbers, counts and
// times it, and says which answers are taken.

#include "link/frame_codec.h"
#include "link/request.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <optional>

class RequestScheduler {
public:
    static constexpr int MaxFrameBytes = codec::MaxBytes;

    void reset();

    // Bytes 0-3 of the next request: the access code, the protocol code and
    // the request code.
    void header(const QString& accessCode, int protocolCode, int code);
    // The first n bytes of the request built are going out as `request`:
    // the answer to it is awaited, the queued command is spent. Returns the
    // frame's text.
    QByteArray send(int n, const Request& request);
    // A turn came and the last request had no answer. True when the call is
    // to end: ten in a row (the end command is then queued).
    bool missedTurn();
    // Whether a well-formed answer is the one the outstanding request waits for.
    bool fits(int code, int count) const { return outstanding && outstanding->fits(code, count); }
    // A good answer with this code has been handled: counted, and the
    // unanswered turns start again from none.
    void answered(int code);
    // The code of the outstanding request, -1 when none.
    int outstandingCode() const { return outstanding ? outstanding->code : -1; }

    int pendingCommand = 0;  // console command for the next turn (LinkCommands)
    int waitCountdown = 0;   // ticks until the next turn
    int awaitingAnswer = 0;  // 1 from a request until an answer is taken
    int retryCounter = 0;    // consecutive turns that found no answer
    std::optional<Request> outstanding;
    int rejectedAnswers = 0; // well-formed answers refused in this connection
    bool frameError = false; // last turn unanswered or last frame bad
    bool ticksSuspended = false; // while an answer is being stored
    std::array<int, 16> answersReceived{}; // good answers by code
    int framesSent = 0;
    std::array<int, MaxFrameBytes> txFrame{}; // the request being built

    // The answer last taken, to notice a second, different one to the same
    // request (an answer forged from the panel's address, a crossed line).
    struct TakenAnswer {
        int code = -1;
        QList<int> bytes; // code first, checksum excluded
        int runStart = 0, runEnd = 0;
        int readBack = 0;   // the transfer's read-back of a memory answer, as an int
        int framesSent = 0; // requests sent when it was taken
    };
    TakenAnswer taken;
    int doubledAnswers = 0;        // in this connection
    bool doubledToReport = false;  // a doubled answer not yet told to the operator
    bool doubledReported = false;  // told once in this connection
};
