// Quendal Sorvent: the station's process entry.

#include "app/command_line.h"
#include "app/diagnostics_log.h"
#include "app/station.h"
#include "ui/ui_keyboard.h"
#include "app/ui_shell.h"
#include "app/ui_startup_hooks.h"
#include "ui/ui_messagebox.h"
#include "ui/ui_pictures.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

int main(int argc, char** argv)
{
    // --help and --version answer before the window system is needed.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CommandLine cl = parseCommandLine(args, QStringLiteral(SORVENT_VERSION));
    if (cl.outcome == CommandLine::Outcome::Exit) {
        std::fputs(cl.output.toLocal8Bit().constData(), cl.exitCode ? stderr : stdout);
        return cl.exitCode;
    }

    // Without a window system the toolkit would abort: say so in Spanish.
    if (const QString why = diagnostics::noDisplay(); !why.isEmpty()) {
        std::fprintf(stderr, "sorvent: %s\n", why.toLocal8Bit().constData());
        return 1;
    }
    diagnostics::hold();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sorvent"));
    QApplication::setApplicationVersion(QStringLiteral(SORVENT_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Quendal"));
    // The desktop entry's name: the taskbar groups the window under its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("sorvent"));
    QApplication::setWindowIcon(ui::icon(QStringLiteral("sorvent")));
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Argentina));

    QString error;
    const QString dir = resolveProgramDirectory(cl.directory, QCoreApplication::applicationDirPath(), &error);
    if (dir.isEmpty()) {
        diagnostics::uninstall();
        std::fprintf(stderr, "sorvent: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    diagnostics::install(dir);
    qInfo("inicio de Quendal Sorvent %s en %s", SORVENT_VERSION, qPrintable(dir));

    // The toolkit's own texts (Sí/No, the print preview, date pickers) in Spanish.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);

    // Shortcuts, buddies and accessible names on every window as it shows.
    ui::KeyboardPolish keyboard;
    app.installEventFilter(&keyboard);

    WidgetMessages boxes;
    LoggedMessages messages(boxes);
    Station station(messages, dir);
    installStartupHooks(station);

    AppShell shell(station);
    shell.start();
    const int rc = app.exec();
    qInfo("fin de Quendal Sorvent (%d)", rc);
    diagnostics::uninstall();
    return rc;
}
