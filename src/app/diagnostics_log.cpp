#include "app/diagnostics_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>

namespace diagnostics {

namespace {

struct State {
    QMutex mutex;
    QFile file;
    qint64 maxBytes = defaultMaxBytes;
    QtMessageHandler previous = nullptr;
    bool installed = false;
};

State& state()
{
    static State s;
    return s;
}

constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;

bool openLog(State& s)
{
    if (!s.file.open(QIODevice::WriteOnly | QIODevice::Append, ownerOnly))
        return false;
    // The log can name subscribers and telephone numbers.
    s.file.setPermissions(ownerOnly);
    return true;
}

void rotate(State& s)
{
    const QString name = s.file.fileName();
    s.file.close();
    const QString old = name + QStringLiteral(".1");
    QFile::remove(old);
    QFile::rename(name, old);
    openLog(s);
}

const char* levelText(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return "depuración";
    case QtInfoMsg: return "información";
    case QtWarningMsg: return "aviso";
    case QtCriticalMsg: return "error";
    case QtFatalMsg: return "fatal";
    }
    return "?";
}

void handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    if (type == QtDebugMsg)
        return;
    State& s = state();
    {
        QMutexLocker lock(&s.mutex);
        if (s.file.isOpen()) {
            QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            line += QLatin1Char(' ') + QString::fromUtf8(levelText(type));
            if (ctx.category && qstrcmp(ctx.category, "default") != 0)
                line += QLatin1Char(' ') + QLatin1String(ctx.category);
            line += QStringLiteral(": ") + msg + QLatin1Char('\n');
            const QByteArray bytes = line.toUtf8();
            if (s.file.size() > 0 && s.file.size() + bytes.size() > s.maxBytes)
                rotate(s);
            s.file.write(bytes);
            s.file.flush();
        }
    }
}

} // namespace

void install(const QString& programDir, qint64 maxBytes)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    if (s.file.isOpen())
        s.file.close();
    s.file.setFileName(QDir(programDir).filePath(QStringLiteral("sorvent.log")));
    s.maxBytes = maxBytes;
    // A log that cannot be opened leaves Qt's own handler in place.
    if (!openLog(s))
        return;
    if (!s.installed)
        s.previous = qInstallMessageHandler(handler);
    s.installed = true;
}

void uninstall()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    if (s.installed)
        qInstallMessageHandler(s.previous);
    s.installed = false;
    s.file.close();
}

QString path()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.file.isOpen() ? s.file.fileName() : QString();
}

} // namespace diagnostics
