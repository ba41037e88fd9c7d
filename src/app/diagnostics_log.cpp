#include "app/diagnostics_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <cstdio>
#include <cstdlib>

namespace diagnostics {

namespace {

struct State {
    QMutex mutex;
    QFile file;
    qint64 maxBytes = defaultMaxBytes;
    QtMessageHandler previous = nullptr;
    bool installed = false;
    QList<QByteArray> held; // lines written before the file is known
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

// The toolkit's complaint at every start on a desktop without a runtime
// directory says nothing about the station.
bool noise(QtMsgType type, const QString& msg)
{
    return type == QtWarningMsg && msg.startsWith(QLatin1String("QStandardPaths:")) &&
           msg.contains(QLatin1String("XDG_RUNTIME_DIR"));
}

void handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    if (type == QtDebugMsg || noise(type, msg))
        return;
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    line += QLatin1Char(' ') + QString::fromUtf8(levelText(type));
    if (ctx.category && qstrcmp(ctx.category, "default") != 0)
        line += QLatin1Char(' ') + QLatin1String(ctx.category);
    line += QStringLiteral(": ") + msg + QLatin1Char('\n');
    const QByteArray bytes = line.toUtf8();

    State& s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.file.isOpen()) {
        if (s.held.size() < 100)
            s.held << bytes;
        return;
    }
    if (s.file.size() > 0 && s.file.size() + bytes.size() > s.maxBytes)
        rotate(s);
    s.file.write(bytes);
    s.file.flush();
}

// A window system that cannot be reached ends the toolkit with a fatal
// message (an abort): end with a Spanish line and an exit code instead.
void fatalHandler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    handler(type, ctx, msg);
    if (type != QtFatalMsg || !msg.contains(QLatin1String("platform plugin")))
        return;
    State& s = state();
    for (const QByteArray& line : std::as_const(s.held))
        std::fputs(line.constData(), stderr);
    std::fprintf(stderr, "sorvent: no se pudo abrir la pantalla: %s\n", qPrintable(msg.section(QLatin1Char('\n'), 0, 0)));
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

void hold()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.installed)
        s.previous = qInstallMessageHandler(fatalHandler);
    s.installed = true;
}

void install(const QString& programDir, qint64 maxBytes)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    if (s.file.isOpen())
        s.file.close();
    s.file.setFileName(QDir(programDir).filePath(QStringLiteral("sorvent.log")));
    s.maxBytes = maxBytes;
    // A log that cannot be opened leaves Qt's own handler in place.
    if (!openLog(s)) {
        if (s.installed)
            qInstallMessageHandler(s.previous);
        s.installed = false;
        s.held.clear();
        return;
    }
    for (const QByteArray& line : std::as_const(s.held))
        s.file.write(line);
    s.held.clear();
    s.file.flush();
    if (!s.installed)
        s.previous = qInstallMessageHandler(fatalHandler);
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
    // Held lines that never reached a file are not lost.
    for (const QByteArray& line : std::as_const(s.held))
        std::fputs(line.constData(), stderr);
    s.held.clear();
}

QString noDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if ((platform.isEmpty() && !x11 && !wayland) || (platform.startsWith(QLatin1String("xcb")) && !x11) ||
        (platform.startsWith(QLatin1String("wayland")) && !wayland))
        return QStringLiteral("no hay pantalla (DISPLAY y WAYLAND_DISPLAY están vacías): inicie la estación en una "
                              "sesión gráfica.");
#endif
    return {};
}

QString path()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.file.isOpen() ? s.file.fileName() : QString();
}

} // namespace diagnostics
