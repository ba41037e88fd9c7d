#pragma once
// The line shared between the operator and a job runner working through a
// queue of panels. The console and the keypad ask before they take the
// line from a running job; the runner leaves it to the operator between
// panels and takes it back when the operator is done.

#include <QtGlobal>

class LineSharing {
public:
    virtual ~LineSharing() = default;
    // The subscriber whose panel a job is on now; 0 when none.
    virtual qint32 jobOnLine() const = 0;
    // The operator takes the line. `interrupt`: the current panel ends now
    // (its call ends with its end frames and is recorded cancelled);
    // otherwise the job finishes it and stops before the next one.
    virtual void operatorTakesLine(bool interrupt) = 0;
    // The window that took the line closed: jobs may use it again.
    virtual void operatorLeavesLine() = 0;
};

class MessageService;
class PanelLink;

// A console key or the keypad wants the line. With a job on it the operator
// is asked "Hay una tarea en curso con el abonado N. ¿La interrumpe?"
// (default No) and the runner is told the answer. True when the line is the
// operator's now; `asked`, when given, says whether a job was on it, and
// `interrupted` whether the operator chose to end its call.
bool takeLineFromJob(PanelLink& link, MessageService& messages, bool* asked = nullptr, bool* interrupted = nullptr);
