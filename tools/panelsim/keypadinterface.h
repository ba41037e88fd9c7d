#pragma once
// The simulated keypad interface on a pseudo-terminal it creates: what the
// station's virtual keypad talks to in interface mode. It takes "AT@L" (send
// the LED state), "AT@T" + key (a tap) and "AT@F" + key (a key held 1.5 s),
// each ended by a carriage return, and answers with lines ended by CR LF:
//
//   "LEDS f1,f2,f3,f4,f5"  the LED state (LISTO, ARMADO, SISTEMA in f1; zones
//                          1-8 in f2/f3 and 9-16 in f4/f5, steady/blinking)
//   "TECLADO BEEPS"        short beep: a code was accepted
//   "TECLADO BEEPL"        long beep: a wrong code, or arming refused
//
// A small keypad model over the simulated panel's state: four digits equal
// to the user code arm a disarmed panel (only when no zone is open, and
// clearing the alarm memory) and disarm an armed one; "*" and "#" clear the
// digits typed; holding "A" (AT@FZ) arms without a code. Open zones are lit,
// zones with alarm memory blink, "LISTO" is lit when disarmed with every
// zone closed, "SISTEMA" when a fault is present. Every change of the panel
// state sends a new LEDS line.

#include "panel.h"
#include "ptyline.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

class QTimer;

namespace panelsim {

class KeypadInterface : public QObject {
    Q_OBJECT
public:
    struct Options {
        QByteArray userCode = "1234";
    };

    explicit KeypadInterface(Panel* panel, QObject* parent = nullptr);
    ~KeypadInterface() override;

    Options options;

    // Creates the pseudo-terminal.
    bool open(QString* error = nullptr) { return m_pty->open(error); }
    QString slavePath() const { return m_pty->slavePath(); }
    // Makes `dir`/COMn point at the station's end of the line.
    bool linkAs(const QString& dir, int n, QString* error = nullptr) const { return m_pty->linkAs(dir, n, error); }
    bool lineOpen() const { return m_pty->isOpen(); }

    // The LED line for the panel's state now (without CR LF).
    QByteArray ledsLine() const;
    // One command line from the station (without its carriage return).
    void command(const QByteArray& line);

    QStringList commands; // "AT@" commands received, upper-cased
    int shortBeeps = 0;
    int longBeeps = 0;
    QByteArray typed;     // digits typed since the last code or clear

private:
    void write(const QByteArray& bytes);
    void tap(char key);
    void hold(char key);
    void arm(bool on);
    void beep(bool longBeep);

    Panel* m_panel;
    PtyLine* m_pty;
    QByteArray m_input;
};

} // namespace panelsim
