#include "keypadinterface.h"

#include <QTimer>

namespace panelsim {

namespace {
constexpr int MaxCommand = 64;
} // namespace

KeypadInterface::KeypadInterface(Panel* panel, QObject* parent)
    : QObject(parent), m_panel(panel), m_pty(new PtyLine(this))
{
    connect(m_pty, &PtyLine::received, this, [this](const QByteArray& bytes) {
        for (const char c : bytes) {
            if (c == '\r') {
                const QByteArray line = m_input;
                m_input.clear();
                command(line);
            } else if (c != '\n' && m_input.size() < MaxCommand) {
                m_input += c;
            }
        }
    });
    // The station closes its end when it reopens the port after an error.
    connect(m_pty, &PtyLine::closed, this, [this] { m_input.clear(); });
    connect(m_panel, &Panel::changed, this, [this] { write(ledsLine() + "\r\n"); });
}

KeypadInterface::~KeypadInterface() = default;

void KeypadInterface::write(const QByteArray& bytes)
{
    m_pty->write(bytes);
}

QByteArray KeypadInterface::ledsLine() const
{
    const Panel::State& s = m_panel->state;
    int steady = 0;
    if (!s.armed && s.zonesOpen == 0)
        steady |= 1; // LISTO
    if (s.armed)
        steady |= 2; // ARMADO
    if (s.faults != 0)
        steady |= 4; // SISTEMA
    const int memory = s.alarmMemory;
    return QByteArray("LEDS ") + QByteArray::number(steady) + ',' + QByteArray::number(s.zonesOpen & 0xFF) + ',' +
           QByteArray::number(memory & 0xFF) + ',' + QByteArray::number(s.zonesOpen >> 8) + ',' +
           QByteArray::number(memory >> 8);
}

void KeypadInterface::command(const QByteArray& raw)
{
    const QByteArray line = raw.trimmed().toUpper();
    if (!line.startsWith("AT@"))
        return;
    commands << QString::fromLatin1(line);
    const QByteArray body = line.mid(3);
    if (body == "L")
        write(ledsLine() + "\r\n");
    else if (body.size() == 2 && body[0] == 'T')
        tap(body[1]);
    else if (body.size() == 2 && body[0] == 'F')
        hold(body[1]);
}

void KeypadInterface::tap(char key)
{
    if (key >= '0' && key <= '9') {
        typed += key;
        if (typed.size() < options.userCode.size())
            return;
        const bool right = typed == options.userCode;
        typed.clear();
        if (!right)
            beep(true);
        else if (m_panel->state.armed)
            arm(false);
        else if (m_panel->state.zonesOpen != 0)
            beep(true); // not ready: a zone is open
        else
            arm(true);
    } else {
        typed.clear();
    }
}

void KeypadInterface::hold(char key)
{
    // "A" held: quick arming, no code needed (still only when ready).
    if (key != 'Z' || m_panel->state.armed)
        return;
    if (m_panel->state.zonesOpen != 0)
        beep(true);
    else
        arm(true);
}

void KeypadInterface::arm(bool on)
{
    Panel::State& s = m_panel->state;
    s.armed = on;
    if (on)
        s.alarmMemory = 0; // arming clears the memory, as on the panel
    emit m_panel->changed(); // sends the new LED line
    beep(false);
}

void KeypadInterface::beep(bool longBeep)
{
    ++(longBeep ? longBeeps : shortBeeps);
    write(longBeep ? "TECLADO BEEPL\r\n" : "TECLADO BEEPS\r\n");
}

} // namespace panelsim
