#pragma once
// The station's command line: --help, --version and --directorio DIR (a
// program directory of its own, for training or a second database). Read
// before the window system starts, so that --help works on a bare terminal.

#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Outcome { Run, Exit };
    Outcome outcome = Outcome::Run;
    int exitCode = 0;
    QString output;     // what to print before exiting (help, version, error)
    QString directory;  // --directorio, absolute; empty for the default
};

// Parses the arguments (argv[0] first); "version" is the program's version text.
CommandLine parseCommandLine(const QStringList& args, const QString& version);

// The program directory: the one asked for on the command line (created if
// missing), else the executable's when writable, else the per-user data
// directory. Empty, with the reason in *error, when the asked one is unusable.
QString resolveProgramDirectory(const QString& requested, const QString& exeDir, QString* error);
