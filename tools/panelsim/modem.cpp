#include "modem.h"

#include <QPointer>
#include <QTimer>

namespace panelsim {

namespace {
constexpr int MaxCommand = 256;
constexpr int MaxFrame = 600;
} // namespace

Modem::Modem(Panel* panel, QObject* parent)
    : QObject(parent), m_panel(panel), m_pty(new PtyLine(this)), m_dialTimer(new QTimer(this)),
      m_ringTimer(new QTimer(this))
{
    connect(m_pty, &PtyLine::received, this, &Modem::input);
    connect(m_pty, &PtyLine::closed, this, &Modem::lineClosed);
    m_dialTimer->setSingleShot(true);
    connect(m_dialTimer, &QTimer::timeout, this, &Modem::dialResult);
    m_ringTimer->setSingleShot(true);
    connect(m_ringTimer, &QTimer::timeout, this, &Modem::ring);
    usePanel(panel);
}

void Modem::usePanel(Panel* panel)
{
    disconnect(m_endConnection);
    m_panel = panel;
    m_endConnection = connect(m_panel, &Panel::endOfConnection, this, &Modem::onEnd);
}

Modem::~Modem() = default;

void Modem::lineClosed()
{
    m_command.clear();
    if (m_line == Line::Dialling) {
        m_dialTimer->stop();
        m_abandonedAt = QDateTime::currentDateTime();
        m_line = Line::Command;
    } else if (m_line == Line::Online) {
        ++hangUps;
        goOffline();
    }
}

void Modem::write(const QByteArray& bytes)
{
    m_pty->write(bytes);
}

void Modem::reply(const char* text)
{
    write(QByteArray("\r\n") + text + "\r\n");
}

void Modem::input(const QByteArray& bytes)
{
    for (const char c : bytes) {
        switch (m_line) {
        case Line::Command:
            // Keypad-interface commands ("AT@...") belong to the keypad interface
            // on its own line (--teclado); the modem answers them "ERROR".
            if (m_echo)
                write(QByteArray(1, c));
            if (c == '\r') {
                const QByteArray line = m_command;
                m_command.clear();
                command(line);
            } else if (c != '\n' && m_command.size() < MaxCommand) {
                m_command += c;
            }
            break;
        case Line::Dialling:
            break;
        case Line::Online:
            if (c == ':') {
                m_frame.clear();
                m_inFrame = true;
            } else if (c == '\r') {
                if (!m_inFrame)
                    break;
                m_inFrame = false;
                const QByteArray answer = m_panel->handleFrame(m_frame, Via::Modem);
                if (answer.isEmpty() || m_line != Line::Online)
                    break;
                if (options.answerDelayMs <= 0) {
                    write(answer);
                } else {
                    QPointer<Modem> self(this);
                    QTimer::singleShot(options.answerDelayMs, this, [self, answer] {
                        if (self && self->m_line == Line::Online)
                            self->write(answer);
                    });
                }
            } else if (m_inFrame && m_frame.size() < MaxFrame) {
                m_frame += c;
            }
            break;
        }
    }
}

void Modem::command(const QByteArray& raw)
{
    const QByteArray line = raw.trimmed().toUpper();
    // Text that is no command (frames arriving after a hang-up) is ignored.
    const qsizetype at = line.indexOf("AT");
    if (at < 0)
        return;
    const QByteArray body = line.mid(at + 2);
    commands << QString::fromLatin1(line.mid(at));
    if (body.startsWith('Z')) {
        m_s0 = 0;
        m_echo = true;
        reply("OK");
    } else if (body.startsWith('D')) {
        QByteArray number = body.mid(1);
        if (number.startsWith('T') || number.startsWith('P'))
            number.remove(0, 1);
        dialled << QString::fromLatin1(number);
        m_routedResult.clear();
        if (route) {
            if (Panel* p = route(QString::fromLatin1(number), &m_routedResult))
                usePanel(p);
            else if (m_routedResult.isEmpty())
                m_routedResult = "NO ANSWER";
        }
        m_line = Line::Dialling;
        m_dialTimer->start(qMax(0, options.dialDelayMs));
    } else if (body.startsWith("S0=")) {
        m_s0 = body.mid(3).toInt();
        reply("OK");
    } else if (body == "E0" || body == "E1") {
        m_echo = body == "E1";
        reply("OK");
    } else if (body.startsWith('@')) {
        reply("ERROR");
    } else {
        reply("OK");
    }
}

void Modem::dialResult()
{
    if (m_line != Line::Dialling)
        return;
    const QByteArray& result = m_routedResult.isEmpty() ? options.dialResult : m_routedResult;
    if (!result.isEmpty()) {
        m_line = Line::Command;
        reply(result.constData());
        return;
    }
    if (options.requireDoubleCall &&
        (!m_abandonedAt.isValid() || m_abandonedAt.msecsTo(QDateTime::currentDateTime()) > 60000)) {
        return; // keeps ringing until the station gives up
    }
    m_abandonedAt = QDateTime();
    goOnline();
}

void Modem::goOnline()
{
    m_ringTimer->stop();
    m_ringsLeft = 0;
    m_line = Line::Online;
    m_frame.clear();
    m_inFrame = false;
    m_panel->beginSession(Via::Modem);
    reply(options.connectText.constData());
    emit online();
}

void Modem::goOffline()
{
    m_line = Line::Command;
    m_frame.clear();
    m_inFrame = false;
    emit offline();
}

void Modem::onEnd(Via via, bool callBack, bool overIp)
{
    if (via != Via::Modem || m_line != Line::Online)
        return;
    // The panel hangs up after an end request.
    dropLine();
    if (callBack && !overIp) {
        m_ringsLeft = qMax(1, options.maxRings);
        m_ringTimer->start(qMax(0, options.callBackDelayMs));
    }
}

bool Modem::dropLine()
{
    if (m_line != Line::Online)
        return false;
    reply("NO CARRIER");
    goOffline();
    return true;
}

void Modem::callStation()
{
    m_ringsLeft = qMax(1, options.maxRings);
    m_ringTimer->start(0);
}

void Modem::ring()
{
    if (m_ringsLeft <= 0)
        return;
    if (m_pty->isOpen() && m_line == Line::Command && m_s0 > 0) {
        reply("RING");
        goOnline();
        return;
    }
    if (--m_ringsLeft > 0)
        m_ringTimer->start(qMax(1, options.ringIntervalMs));
}

} // namespace panelsim
