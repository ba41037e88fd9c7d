// Quendal Sorvent: the station's process entry.

#include "app/station.h"
#include "app/ui_shell.h"
#include "app/ui_startup_hooks.h"
#include "ui/ui_messagebox.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTranslator>

namespace {

// The program directory is the executable's; a system-wide install that
// cannot write there keeps its database in the user's data directory.
QString programDirectory()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    QTemporaryFile probe(QDir(exeDir).filePath(QStringLiteral(".sorvent-XXXXXX")));
    if (probe.open())
        return exeDir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return data;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sorvent"));
    QApplication::setOrganizationName(QStringLiteral("Quendal"));
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Argentina));

    // The toolkit's own texts (Sí/No, the print preview, date pickers) in Spanish.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);

    WidgetMessages messages;
    Station station(messages, programDirectory());
    installStartupHooks();

    AppShell shell(station);
    shell.start();
    return app.exec();
}
