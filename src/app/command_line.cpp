#include "app/command_line.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

bool writable(const QString& dir)
{
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".sorvent-XXXXXX")));
    return probe.open();
}

// QCommandLineParser's own help text is in English; this one lists the same
// options in Spanish.
QString helpText(const QString& program, const QList<QCommandLineOption>& options)
{
    QString text = QStringLiteral("Uso: %1 [opciones]\n"
                                  "Quendal Sorvent: estación de programación y monitoreo de paneles de alarma.\n\n"
                                  "Opciones:\n").arg(program);
    for (const QCommandLineOption& o : options) {
        QStringList names;
        for (const QString& n : o.names())
            names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
        QString left = names.join(QStringLiteral(", "));
        if (!o.valueName().isEmpty())
            left += QLatin1Char(' ') + o.valueName();
        text += QStringLiteral("  %1  %2\n").arg(left, -24).arg(o.description());
    }
    return text;
}

// An unknown option as it was typed ("--bogus"), which is what the user
// will look for; the parser names it without its dashes.
QString typedOption(const QStringList& args, const QString& name)
{
    for (const QString& a : args.mid(1)) {
        const QString option = a.section(QLatin1Char('='), 0, 0);
        if (option == QStringLiteral("--") + name || option == QStringLiteral("-") + name)
            return option;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

} // namespace

CommandLine parseCommandLine(const QStringList& args, const QString& version)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("ayuda")},
                                  QStringLiteral("Muestra esta ayuda y termina."));
    const QCommandLineOption ver({QStringLiteral("v"), QStringLiteral("version")},
                                 QStringLiteral("Muestra la versión y termina."));
    const QCommandLineOption dir(QStringLiteral("directorio"),
                                 QStringLiteral("Usa DIR como directorio del programa (base de datos,\n"
                                                "                            copia de seguridad, novedades, sorvent.log);\n"
                                                "                            se crea si no existe."),
                                 QStringLiteral("DIR"));
    QCommandLineParser parser;
    parser.addOptions({help, ver, dir});

    CommandLine cl;
    const QString program = args.isEmpty() ? QStringLiteral("sorvent") : QFileInfo(args.first()).fileName();
    if (!parser.parse(args.isEmpty() ? QStringList{program} : args)) {
        cl.outcome = CommandLine::Outcome::Exit;
        cl.exitCode = 2;
        // The parser's own error text is in English.
        const QStringList unknown = parser.unknownOptionNames();
        const QString why = unknown.isEmpty() ? QStringLiteral("falta el valor de --directorio")
                                              : QStringLiteral("opción desconocida «%1»").arg(typedOption(args, unknown.first()));
        cl.output = QStringLiteral("%1: %2\nPruebe «%1 --help».\n").arg(program, why);
        return cl;
    }
    if (!parser.positionalArguments().isEmpty()) {
        cl.outcome = CommandLine::Outcome::Exit;
        cl.exitCode = 2;
        cl.output = QStringLiteral("%1: argumento inesperado «%2»\nPruebe «%1 --help».\n")
                        .arg(program, parser.positionalArguments().first());
        return cl;
    }
    if (parser.isSet(help)) {
        cl.outcome = CommandLine::Outcome::Exit;
        cl.output = helpText(program, {help, ver, dir});
        return cl;
    }
    if (parser.isSet(ver)) {
        cl.outcome = CommandLine::Outcome::Exit;
        cl.output = QStringLiteral("Quendal Sorvent %1\n").arg(version);
        return cl;
    }
    if (parser.isSet(dir))
        cl.directory = QDir::cleanPath(QDir::current().absoluteFilePath(parser.value(dir)));
    return cl;
}

QString resolveProgramDirectory(const QString& requested, const QString& exeDir, QString* error)
{
    if (!requested.isEmpty()) {
        if (!QDir().mkpath(requested) || !QFileInfo(requested).isDir()) {
            *error = QStringLiteral("No se puede crear el directorio «%1».").arg(requested);
            return QString();
        }
        if (!writable(requested)) {
            *error = QStringLiteral("No se puede escribir en el directorio «%1».").arg(requested);
            return QString();
        }
        return requested;
    }
    // A system-wide install cannot write beside its executable.
    if (writable(exeDir))
        return exeDir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return data;
}
