#include "keypadinterface.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace panelsim {

namespace {
constexpr int MaxCommand = 64;
} // namespace

KeypadInterface::KeypadInterface(Panel* panel, QObject* parent)
    : QObject(parent), m_panel(panel), m_linePoll(new QTimer(this))
{
    // Until the station opens its end the master reports a hang-up on every
    // poll: watch it with a timer meanwhile.
    m_linePoll->setInterval(20);
    connect(m_linePoll, &QTimer::timeout, this, &KeypadInterface::checkLine);
    connect(m_panel, &Panel::changed, this, [this] { write(ledsLine() + "\r\n"); });
}

KeypadInterface::~KeypadInterface()
{
    delete m_notifier;
    if (m_master >= 0)
        ::close(m_master);
}

bool KeypadInterface::open(QString* error)
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = QStringLiteral("no se pudo crear la pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    m_master = master;
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &KeypadInterface::onReadable);
    m_linePoll->start();
    return true;
}

bool KeypadInterface::linkAs(const QString& dir, int n, QString* error) const
{
    const QString link = QDir(dir).filePath(QStringLiteral("COM%1").arg(n));
    QFile::remove(link);
    if (m_slavePath.isEmpty() || !QFile::link(m_slavePath, link)) {
        if (error)
            *error = QStringLiteral("no se pudo crear el enlace %1").arg(link);
        return false;
    }
    return true;
}

void KeypadInterface::checkLine()
{
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0 || (p.revents & POLLHUP))
        return;
    m_lineOpen = true;
    m_linePoll->stop();
    m_notifier->setEnabled(true);
    if (p.revents & POLLIN)
        onReadable();
}

void KeypadInterface::onReadable()
{
    char buf[256];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == '\r') {
                    const QByteArray line = m_input;
                    m_input.clear();
                    command(line);
                } else if (buf[i] != '\n' && m_input.size() < MaxCommand) {
                    m_input += buf[i];
                }
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // The station closed its end (it reopens the port after an error).
        m_lineOpen = false;
        m_input.clear();
        m_notifier->setEnabled(false);
        m_linePoll->start();
        return;
    }
}

void KeypadInterface::write(const QByteArray& bytes)
{
    if (m_master < 0 || !m_lineOpen)
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
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
