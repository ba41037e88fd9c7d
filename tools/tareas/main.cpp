// sorvent-tareas: runs the station's job queue ("Tareas") without windows,
// on the same program directory (its database file or server) and the
// station's serial port. Progress goes to sorvent.log; SIGTERM (or SIGINT)
// stops it cleanly: between panels, or after ending the current call with
// its end frames. Exit status: 0 stopped on request, 1 stopped by an error
// of the queue, 2 could not start (no database, no port, or another runner
// on the port).

#include "app/command_line.h"
#include "app/diagnostics_log.h"
#include "data/job_store.h"
#include "jobs/job_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler's end of the socket pair: a signal handler may only
// write a byte; the service reads it in the event loop.
int g_signalFd = -1;

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalFd, &c, 1);
}

int failStart(const QString& text)
{
    qCritical("Tareas: %s", qPrintable(text));
    std::fprintf(stderr, "sorvent-tareas: %s\n", text.toLocal8Bit().constData());
    diagnostics::uninstall();
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    diagnostics::hold();
    QCoreApplication app(argc, argv);
    // The station's name: the per-user program directory is the station's.
    QCoreApplication::setApplicationName(QStringLiteral("sorvent"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quendal"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SORVENT_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Ejecuta las tareas programadas de Quendal Sorvent sin ventanas."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption dirOption(QStringLiteral("directorio"),
                                       QStringLiteral("Directorio de programa de la estación (su base de datos y sorvent.log)."),
                                       QStringLiteral("DIR"));
    p.addOption(dirOption);
    p.process(app);

    QString error;
    const QString dir = resolveProgramDirectory(p.value(dirOption), QCoreApplication::applicationDirPath(), &error);
    if (dir.isEmpty())
        return failStart(error);
    diagnostics::install(dir);
    qInfo("inicio de sorvent-tareas %s en %s", SORVENT_VERSION, qPrintable(dir));

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return failStart(QStringLiteral("No se pudo preparar la espera de señales."));
    g_signalFd = fds[0];
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    jobs::JobService service(dir);
    if (!service.open(&error))
        return failStart(error);
    service.stopWhenReadable(fds[1]);

    std::unique_ptr<jobs::JobQueue> queue = std::make_unique<jobs::DatabaseJobQueue>(service.database());

    QObject::connect(&service, &jobs::JobService::finished, &app, &QCoreApplication::exit);
    service.run(*queue);
    const int rc = app.exec();
    qInfo("fin de sorvent-tareas (%d)", rc);
    diagnostics::uninstall();
    return rc;
}
