#include "ptyline.h"

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

PtyLine::PtyLine(QObject* parent) : QObject(parent), m_linePoll(new QTimer(this))
{
    // With nobody on the other end a pseudo-terminal master reports a
    // hang-up on every poll: watch it with a timer until the station opens it.
    m_linePoll->setInterval(20);
    connect(m_linePoll, &QTimer::timeout, this, &PtyLine::checkLine);
}

PtyLine::~PtyLine()
{
    delete m_notifier;
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyLine::open(QString* error)
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
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyLine::onReadable);
    m_linePoll->start();
    return true;
}

bool PtyLine::linkAs(const QString& dir, int n, QString* error) const
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

void PtyLine::checkLine()
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

void PtyLine::onReadable()
{
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            emit received(QByteArray(buf, int(n)));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // EIO: the station closed its end; watch for it to come back.
        m_lineOpen = false;
        m_notifier->setEnabled(false);
        m_linePoll->start();
        emit closed();
        return;
    }
}

void PtyLine::write(const QByteArray& bytes)
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

} // namespace panelsim
