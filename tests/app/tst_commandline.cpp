// The command line (help, version, another program directory, bad
// arguments) and the diagnostics log (what goes in, owner-only, rotation).

#include "app/command_line.h"
#include "app/diagnostics_log.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

Q_LOGGING_CATEGORY(lcTest, "sorvent.prueba")

class tst_commandline : public QObject {
    Q_OBJECT

    static QString read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void parsesOptions()
    {
        const CommandLine help = parseCommandLine({"sorvent", "--help"}, "2.0");
        QCOMPARE(help.outcome, CommandLine::Outcome::Exit);
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.output.startsWith("Uso: sorvent"));
        QVERIFY(help.output.contains("--directorio DIR"));
        QVERIFY(!help.output.contains("Usage") && !help.output.contains("Displays"));

        const CommandLine ver = parseCommandLine({"sorvent", "-v"}, "2.0");
        QCOMPARE(ver.output, QString("Quendal Sorvent 2.0\n"));

        const CommandLine run = parseCommandLine({"sorvent", "--directorio", "rel/dir"}, "2.0");
        QCOMPARE(run.outcome, CommandLine::Outcome::Run);
        QCOMPARE(run.directory, QDir::current().absoluteFilePath("rel/dir"));
        QVERIFY(parseCommandLine({"sorvent"}, "2.0").directory.isEmpty());

        // Errors end with code 2 and a Spanish reason.
        const CommandLine unknown = parseCommandLine({"sorvent", "--nada"}, "2.0");
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.output.contains("opción desconocida «--nada»"));
        QVERIFY(parseCommandLine({"sorvent", "--nada=1"}, "2.0").output.contains("opción desconocida «--nada»"));
        QVERIFY(parseCommandLine({"sorvent", "-x"}, "2.0").output.contains("opción desconocida «-x»"));
        QVERIFY(parseCommandLine({"sorvent", "--directorio"}, "2.0").output.contains("falta el valor"));
        QCOMPARE(parseCommandLine({"sorvent", "sobra"}, "2.0").exitCode, 2);
    }

    void resolvesProgramDirectory()
    {
        QTemporaryDir tmp;
        QString error;
        const QString asked = tmp.filePath("a/b");
        QCOMPARE(resolveProgramDirectory(asked, tmp.path(), &error), asked);
        QVERIFY(QFileInfo(asked).isDir());
        QCOMPARE(resolveProgramDirectory(QString(), tmp.path(), &error), tmp.path());

        // A directory that cannot be written is refused, not silently replaced.
        const QString locked = tmp.filePath("cerrado");
        QDir().mkpath(locked);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(locked).isWritable())
            QSKIP("running as a user that writes anywhere");
        QVERIFY(resolveProgramDirectory(locked, tmp.path(), &error).isEmpty());
        QVERIFY(error.contains(locked));
        QVERIFY(resolveProgramDirectory(QString(), locked, &error) != locked);
    }

    void logsWarningsOwnerOnly()
    {
        QTemporaryDir tmp;
        // What the toolkit says before the directory is known comes first.
        diagnostics::hold();
        qWarning("antes del directorio");
        diagnostics::install(tmp.path());
        const QString log = tmp.filePath("sorvent.log");
        QCOMPARE(diagnostics::path(), log);
        qDebug("no va al registro");
        qWarning("puerto perdido");
        qCWarning(lcTest, "respuesta rechazada");
        qInfo("enlace: Marcando 5550001");
        qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
        // A box says in the log what it said on screen, every line of it.
        RecordingMessages boxes;
        LoggedMessages messages(boxes);
        messages.showError("No hay espacio en el disco de la base de datos (carpeta /x)\ndatabase or disk is full");
        QCOMPARE(boxes.shown.size(), 1);
        diagnostics::uninstall();
        qWarning("después de cerrar");

        QCOMPARE(QFile::permissions(log) & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        QStringList lines = read(log).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.takeFirst().endsWith("aviso: antes del directorio"));
        const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
        QVERIFY(stamp.match(lines[0]).hasMatch());
        QVERIFY(lines[0].endsWith("aviso: puerto perdido"));
        QVERIFY(lines[1].endsWith("aviso sorvent.prueba: respuesta rechazada"));
        QVERIFY(lines[2].endsWith("información: enlace: Marcando 5550001"));
        QVERIFY(lines[3].endsWith("aviso: mensaje «Error»: No hay espacio en el disco de la base de datos (carpeta /x) | "
                                  "database or disk is full"));
    }

    // Without a window system the station says why in Spanish and ends
    // with an error code; it does not abort.
    void withoutDisplay_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("said");
        QTest::newRow("ninguna") << QString() << "no hay pantalla";
        QTest::newRow("inalcanzable") << ":97" << "no se pudo abrir la pantalla";
    }
    void withoutDisplay()
    {
        QFETCH(QString, display);
        QFETCH(QString, said);
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(v);
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationDirPath() + "/sorvent", {"--directorio", tmp.path()});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(QString::fromLocal8Bit(p.readAllStandardError()).contains("sorvent: " + said), qPrintable(said));
    }

    void rotatesAtItsCap()
    {
        QTemporaryDir tmp;
        diagnostics::install(tmp.path(), 400);
        for (int i = 0; i < 30; ++i)
            qWarning("línea %02d del registro de diagnóstico", i);
        diagnostics::uninstall();
        const QString now = read(tmp.filePath("sorvent.log")), old = read(tmp.filePath("sorvent.log.1"));
        QVERIFY(now.toUtf8().size() <= 400);
        QVERIFY(old.toUtf8().size() <= 400);
        QVERIFY(now.contains("línea 29"));
        QVERIFY(!old.isEmpty() && !old.contains("línea 29"));
        // Only one older generation is kept.
        QVERIFY(!QFile::exists(tmp.filePath("sorvent.log.2")));
        QVERIFY(!now.contains("línea 00") && !old.contains("línea 00"));
        QCOMPARE(QFile::permissions(tmp.filePath("sorvent.log.1")) & QFile::ReadOther, QFile::Permissions());
    }
};

QTEST_GUILESS_MAIN(tst_commandline)
#include "tst_commandline.moc"
