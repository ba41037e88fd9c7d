// Start-up in each port mode, the re-run from the status bar, the fatal
// paths, the database restore, login and levels.

#include "fault_injector.h"
#include "testsupport.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "app/ui_shell.h"
#include "app/w_cambio_password.h"
#include "app/w_login.h"
#include "data/db.h"
#include "data/passwords.h"
#include "data/permissions.h"
#include "data/schema_upgrade.h"
#include "data/users_store.h"
#include "link/serialport.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

class tst_startup : public QObject {
    Q_OBJECT

    struct Run {
        TestStation& st;
        AppShell shell{st};
        int endCode = -1;
        explicit Run(TestStation& station) : st(station) { shell.onEnd = [this](int c) { endCode = c; }; }
        mdl_main::InitResult init() { return st.main.initialize(shell); }
        QAction* key(const char* k) { return shell.mainWindow()->action(k); }
        QString statusText() { return shell.mainWindow()->sb_modem_text->text(); }
        QString statusPicture() { return shell.mainWindow()->sb_modem_pic->property("pictureKey").toString(); }
    };

    static void setMode(int port, const QString& mode)
    {
        db::exec(stationDb(), "UPDATE configuracion SET modem_port = ?, modem_mode = ? WHERE id_configuracion = 1",
                 {port, mode});
    }

private slots:
    void firstStartCreatesDatabase()
    {
        TestStation st(false);
        Run r(st);
        QCOMPARE(r.init(), mdl_main::InitResult::Ok);
        QVERIFY(QFile::exists(st.path("sorvent20.mdb")));
        QCOMPARE(QFile::permissions(st.path("sorvent20.mdb")) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
        QVERIFY(db::scalar(st.main.db(), "SELECT count(*) FROM secciones").toInt() > 50);
        // No port by default: nothing opened, no message, keypad hidden.
        QCOMPARE(r.statusText(), QString("COM 0"));
        QCOMPARE(r.statusPicture(), QString("modem_no"));
        QVERIFY(!r.key("cb_teclado")->isVisible());
        QVERIFY(st.messages.shown.isEmpty());
        QVERIFY(r.shell.login() && r.shell.login()->isVisible());
        QCOMPARE(r.endCode, -1);
    }

    void interfaceModeOpensPortAt4800()
    {
        TestStation st;
        Pty pty;
        QVERIFY(pty.ok() && pty.linkAs(st.dir(), 3));
        setMode(3, "Interface");
        Run r(st);
        QCOMPARE(r.init(), mdl_main::InitResult::Ok);
        SerialPort* port = st.main.port();
        QVERIFY(port->isOpen());
        QCOMPARE(port->commPort(), 3);
        QCOMPARE(port->settings(), QString("4800,N,8,2"));
        QVERIFY(st.main.portOpen());
        QCOMPARE(r.statusText(), QString("COM 3"));
        QCOMPARE(r.statusPicture(), QString("modem_si"));
        QVERIFY(r.key("cb_teclado")->isVisible());
        QVERIFY(st.messages.shown.isEmpty());
        // The port really carries what the station writes.
        port->write("AT\r");
        QByteArray got;
        QTRY_COMPARE((got += pty.readAvailable()), QByteArray("AT\r"));
    }

    void modemModeAndMissingPort()
    {
        TestStation st;
        setMode(97, ""); // any other mode is modem mode; no COM97 link, no /dev/ttyS96
        Run r(st);
        QCOMPARE(r.init(), mdl_main::InitResult::Ok);
        QCOMPARE(st.main.port()->settings(), QString("110,N,8,2"));
        QCOMPARE(st.messages.shown.size(), 1);
        QCOMPARE(st.messages.lastTitle(), QString("Error 102"));
        QCOMPARE(r.statusText(), QString("COM 97"));
        QCOMPARE(r.statusPicture(), QString("modem_no"));
        QVERIFY(!st.main.portOpen());
        QVERIFY(!r.key("cb_teclado")->isVisible());
        // Start-up went on to the login.
        QVERIFY(r.shell.login());
    }

    void statusBarRerunAfterLogin()
    {
        TestStation st;
        Run r(st);
        r.init();
        r.shell.login()->sle_usuario->setText("administrador");
        r.shell.login()->sle_password->setText("1234");
        r.shell.login()->askNewPassword = [] { return std::optional<QString>("AB12"); };
        r.shell.login()->cb_aceptar->trigger();
        QTRY_VERIFY(!r.shell.login());

        // Fix the port and click the modem panel: the port opens, no window again.
        Pty pty;
        QVERIFY(pty.linkAs(st.dir(), 2));
        setMode(2, "Modem");
        QTest::mouseClick(r.shell.mainWindow()->sb_modem, Qt::LeftButton);
        QVERIFY(st.main.port()->isOpen());
        QCOMPARE(r.statusText(), QString("COM 2"));
        QCOMPARE(r.statusPicture(), QString("modem_si"));
        QVERIFY(!r.shell.login());
        QVERIFY(st.messages.shown.isEmpty());
        // The log still writes on the replaced connection.
        QCOMPARE(db::scalar(st.main.db(), "SELECT count(*) FROM usuarios_operaciones WHERE id_operacion = 1").toInt(), 1);

        // A port that fails again shows 102 again; the port that was open is closed first.
        setMode(96, "Modem");
        QTest::mouseClick(r.shell.mainWindow()->sb_modem, Qt::LeftButton);
        QVERIFY(!st.main.port()->isOpen());
        QCOMPARE(st.messages.lastTitle(), QString("Error 102"));
        QCOMPARE(r.endCode, -1);
    }

    void missingSettingsRowIsFatal()
    {
        TestStation st;
        db::exec(st.main.db(), "DELETE FROM configuracion");
        Run r(st);
        QCOMPARE(r.init(), mdl_main::InitResult::Fatal);
        QCOMPARE(st.messages.shown.size(), 2);
        QCOMPARE(st.messages.shown[0].title, QString("Error 101"));
        QCOMPARE(st.messages.shown[1].text,
                 QString("Ha ocurrido un error grave por lo que la aplicación se cerrará\n\nFalta la fila de configuración"));
        QCOMPARE(st.messages.shown[1].title, QString("Error"));
        QCOMPARE(r.endCode, 1);
        QVERIFY(!r.shell.login());
    }

    // An unreadable or damaged database: restored from a sound backup when
    // the operator says so (the damaged file kept aside), else the start
    // ends with the reason under the general text.
    void damagedDatabaseAndItsBackup_data()
    {
        QTest::addColumn<QString>("database"); // garbage, empty, page
        QTest::addColumn<QString>("backup");   // none, sound, garbage
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("reason");
        QTest::newRow("garbage, no backup") << "garbage" << "none" << false << "el archivo no es una base de datos) y no hay copia";
        QTest::newRow("empty, restored") << "empty" << "sound" << true << "";
        QTest::newRow("damaged page, restored") << "page" << "sound" << true << "";
        QTest::newRow("damaged page, declined") << "page" << "sound" << false << "está dañada";
        QTest::newRow("backup damaged too") << "garbage" << "garbage" << true << "y su copia de seguridad sorvent20.bkp también";
    }
    void damagedDatabaseAndItsBackup()
    {
        QFETCH(QString, database);
        QFETCH(QString, backup);
        QFETCH(bool, restore);
        QFETCH(QString, reason);
        if (testOnServer())
            QSKIP("a server keeps its own files");
        TestStation st;
        const QString dbf = st.path("sorvent20.mdb"), bkp = st.path("sorvent20.bkp");
        db::exec(st.main.db(), "UPDATE provincias SET descripcion = 'MARCA' WHERE id_provincia = 1");
        st.main.closeConnections();
        const auto garbage = [](const QString& f) {
            QFile::remove(f);
            QFile g(f);
            return g.open(QIODevice::WriteOnly) && g.write(QByteArray(4096, 'x')) == 4096;
        };
        if (backup != "none")
            QVERIFY(QFile::copy(dbf, bkp));
        if (backup == "garbage")
            QVERIFY(garbage(bkp));
        if (database == "garbage")
            QVERIFY(garbage(dbf));
        else if (database == "empty")
            QVERIFY(QFile::resize(dbf, 0));
        else
            QVERIFY(damageTable(dbf, "provincias"));
        const QByteArray damaged = [&] { QFile f(dbf); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        st.messages.answers << restore;

        Run r(st);
        if (reason.isEmpty()) {
            QCOMPARE(r.init(), mdl_main::InitResult::Ok);
            QCOMPARE(st.messages.asked.size(), 1);
            QVERIFY2(st.messages.asked[0].contains(QFileInfo(bkp).lastModified().toString("'¿Restaura la copia de seguridad del 'dd/MM/yyyy HH:mm?")),
                     qPrintable(st.messages.asked[0]));
            QCOMPARE(db::scalar(st.main.db(), "SELECT descripcion FROM provincias WHERE id_provincia = 1").toString(),
                     QString("MARCA"));
            const QStringList aside = QDir(st.dir()).entryList({"sorvent20-danada-*.mdb"});
            QCOMPARE(aside.size(), 1);
            QFile kept(st.path(aside[0]));
            QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == damaged);
            QVERIFY(QFile::exists(bkp));
            QCOMPARE(r.endCode, -1);
        } else {
            QCOMPARE(r.init(), mdl_main::InitResult::Fatal);
            QCOMPARE(r.endCode, 1);
            QVERIFY(st.messages.lastText().startsWith("Ha ocurrido un error grave por lo que la aplicación se cerrará\n\n"
                                                      "La base de datos sorvent20.mdb "));
            QVERIFY2(st.messages.lastText().contains(reason), qPrintable(st.messages.lastText()));
            // Never replaced, neither by an empty database nor by the backup.
            QFile f(dbf);
            QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll() == damaged);
        }
    }

    // A database of an older station gets the settings columns and indexes
    // added since.
    void olderDatabaseIsUpgraded()
    {
        TestStation st;
        for (const char* sql : {"ALTER TABLE configuracion DROP COLUMN ip_permitidas",
                                "ALTER TABLE configuracion DROP COLUMN ip_escucha", "DROP INDEX abonados_eventos_orden",
                                "ALTER TABLE configuracion DROP COLUMN verificar_subidas", "DROP TABLE abonados_imagen",
                                "DROP TABLE valores_historial", "DROP INDEX abonados_grupo",
                                "ALTER TABLE abonados DROP COLUMN id_grupo", "ALTER TABLE usuarios DROP COLUMN id_perfil",
                                "ALTER TABLE usuarios DROP COLUMN bloqueado_hasta", "ALTER TABLE secciones DROP COLUMN secreta",
                                "DROP TABLE perfiles", "DROP TABLE grupos", "DROP TABLE usuarios_grupos",
                                "DROP TABLE usuarios_fallos",
                                // Passwords as an older station kept them.
                                "UPDATE usuarios SET password = '1234'",
                                "INSERT INTO usuarios (id_usuario, usuario, password, nivel) VALUES (1000, 'PEÑA', 'ab1ñ', 3)"})
            db::exec(st.main.db(), sql);
        st.main.closeConnections();
        Run r(st);
        QCOMPARE(r.init(), mdl_main::InitResult::Ok);
        // No password is left as text; each is the one it was.
        const QSqlDatabase c = st.main.db();
        QCOMPARE(db::scalar(c, "SELECT count(*) FROM usuarios WHERE password NOT LIKE '$argon2id$%'").toInt(), 0);
        const QString hash = db::scalar(c, "SELECT password FROM usuarios WHERE id_usuario = 1000").toString();
        QVERIFY(passwords::verify(hash, "AB1Ñ"));
        QVERIFY(passwords::verify(db::scalar(c, "SELECT password FROM usuarios WHERE id_usuario = 1").toString(), "1234"));
        // The old levels keep their rights through the built-in profiles.
        QCOMPARE(permissions::grantOf(c, 1000).rights, permissions::levelRights(3));
        // Opened again, a hash is not hashed again.
        schema::upgrade(c);
        QCOMPARE(db::scalar(c, "SELECT password FROM usuarios WHERE id_usuario = 1000").toString(), hash);
        QVERIFY(db::exec(st.main.db(), "SELECT ip_permitidas, ip_escucha FROM configuracion").next());
        // Uploads are verified unless the operator says otherwise.
        QCOMPARE(db::scalar(st.main.db(), "SELECT verificar_subidas FROM configuracion").toInt(), 1);
        QVERIFY(db::exec(st.main.db(), "SELECT memoria FROM abonados_imagen").isActive());
        const QString objects = testOnServer() ? "SELECT count(*) FROM pg_class WHERE relname IN (%1)"
                                               : "SELECT count(*) FROM sqlite_master WHERE name IN (%1)";
        QCOMPARE(db::scalar(st.main.db(), objects.arg("'abonados_eventos_orden'")).toInt(), 1);
        QCOMPARE(db::scalar(st.main.db(), objects.arg("'valores_historial', 'valores_historial_abonado', "
                                                      "'valores_historial_configuracion'")).toInt(), 3);
    }

    void missingDatabaseIsRestoredFromBackup()
    {
        if (testOnServer())
            QSKIP("a server keeps its own files");
        TestStation st;
        db::exec(st.main.db(), "UPDATE provincias SET descripcion = 'MARCA' WHERE id_provincia = 1");
        // A copy made by an older station, without the newer operations.
        db::exec(st.main.db(), "DELETE FROM operaciones WHERE id_operacion = 17");
        st.main.closeConnections();
        QVERIFY(QFile::rename(st.path("sorvent20.mdb"), st.path("sorvent20.bkp")));
        // A backup copied in by hand, readable by all: the database made from
        // it is its owner's only.
        QFile::setPermissions(st.path("sorvent20.bkp"), QFile::permissions(st.path("sorvent20.bkp")) | QFile::ReadOther);
        Run r(st);
        QCOMPARE(r.init(), mdl_main::InitResult::Ok);
        QVERIFY(st.messages.lastText().contains("sorvent20.bkp"));
        QCOMPARE(QFile::permissions(st.path("sorvent20.mdb")) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
        QCOMPARE(db::scalar(st.main.db(), "SELECT descripcion FROM provincias WHERE id_provincia = 1").toString(),
                 QString("MARCA"));
        QCOMPARE(db::scalar(st.main.db(), "SELECT count(*) FROM operaciones WHERE id_operacion = 17").toInt(), 1);
        QVERIFY(QFile::exists(st.path("sorvent20.bkp")));
    }

    void loginAndLevels()
    {
        TestStation st;
        Run r(st);
        r.init();
        QSqlDatabase c = st.main.db();
        users::add(c, {0, "PEÑA", "AB12", 2, 0});
        const int oneil = users::add(c, {0, "O'NEIL", "X'Y1", 3, 0});
        w_login* login = r.shell.login();
        // Centred on the main window, 700 twips above its middle, wherever
        // the window system puts the main window (give or take the frame,
        // which is drawn only once the dialog is shown).
        w_main* main = r.shell.mainWindow();
        const auto placed = [&] {
            const QPoint want = main->geometry().center() - QPoint(0, ui::twips(700));
            return (login->frameGeometry().center() - want).manhattanLength() <= 6;
        };
        QVERIFY(placed());
        main->showNormal();
        main->setGeometry(60, 50, ui::twips(9600), ui::twips(7500));
        QTRY_VERIFY(placed());
        QCOMPARE(login->sle_usuario->text(), QString("Administrador"));
        QCOMPARE(login->sle_password->echoMode(), QLineEdit::Password);

        // Wrong pairs, and quotes, are plain refusals.
        QVERIFY(!login->checkLogin("ADMINISTRADOR", "9999"));
        QVERIFY(!login->checkLogin("x' OR '1'='1", "x' OR '1'='1"));
        QCOMPARE(st.messages.lastText(), QString("Acceso denegado"));
        QCOMPARE(st.main.currentUser(), 0);

        // Case is ignored, Spanish letters included; quotes are just characters.
        QVERIFY(login->checkLogin("o'neil", "x'y1"));
        QCOMPARE(st.main.currentUser(), oneil);
        QCOMPARE(st.main.currentLevel(), 3);
        QVERIFY(login->checkLogin("peña", "ab12"));
        QCOMPARE(st.main.currentLevel(), 2);
        for (const char* k : {"cb_parametros", "cb_log", "cb_configuracion"})
            QVERIFY(!r.key(k)->isEnabled());
        for (const char* k : {"cb_abonados", "cb_panel", "cb_usuarios", "cb_salir"})
            QVERIFY(r.key(k)->isEnabled());
        QCOMPARE(db::scalar(c, "SELECT count(*) FROM usuarios_operaciones WHERE id_operacion = 1 AND parametro IS NULL").toInt(), 2);

        // No session goes unrecorded: a login whose log row cannot be
        // written (a full disk) is refused, saying why.
        st.main.logOut();
        FaultInjector full(c, FaultInjector::Kind::DiskFull, 1, {"usuarios_operaciones"});
        QVERIFY(!login->checkLogin("o'neil", "x'y1"));
        QCOMPARE(st.main.currentUser(), 0);
        QCOMPARE(st.main.currentLevel(), 0);
        QVERIFY(st.messages.lastText().startsWith("No se pudo registrar el ingreso en el log de operaciones"));
        QVERIFY(st.messages.lastText().contains("\nNo hay espacio en el disco de la base de datos"));
        QCOMPARE(db::scalar(c, "SELECT count(*) FROM usuarios_operaciones WHERE id_operacion = 1").toInt(), 2);
    }

    void factoryPasswordAndLockout()
    {
        TestStation st;
        Run r(st);
        r.init();
        const QDateTime t0(QDate(2026, 3, 2), QTime(10, 0));
        st.main.setClock([t0] { return t0; });
        w_login* login = r.shell.login();
        const QSqlDatabase c = st.main.db();
        // The factory password opens nothing until it is replaced.
        login->askNewPassword = [] { return std::nullopt; };
        QVERIFY(!login->checkLogin("administrador", "1234"));
        QCOMPARE(st.messages.lastText(), QString("Debe cambiar la contraseña de fábrica para ingresar."));
        QCOMPARE(st.main.currentUser(), 0);
        login->askNewPassword = [] { return std::optional<QString>("AB12"); };
        QVERIFY(login->checkLogin("administrador", "1234"));
        QVERIFY(passwords::verify(db::scalar(c, "SELECT password FROM usuarios WHERE id_usuario = 1").toString(), "ab12"));
        login->askNewPassword = [] { return std::optional<QString>("ZZZZ"); };
        QVERIFY(!login->checkLogin("administrador", "1234"));
        QVERIFY(login->checkLogin("administrador", "ab12"));
        QVERIFY(passwords::verify(db::scalar(c, "SELECT password FROM usuarios WHERE id_usuario = 1").toString(), "AB12"));

        // Five wrong ones: the operator waits, told until when, and the log
        // names the station tried.
        st.main.logOut();
        for (int i = 0; i < 4; ++i)
            QVERIFY(!login->checkLogin("administrador", "9999"));
        QCOMPARE(st.messages.lastText(), QString("Acceso denegado"));
        QVERIFY(!login->checkLogin("administrador", "9999"));
        // On a server its own clock counts, not the station's.
        const QString until = testOnServer()
            ? QDateTime::fromString(db::scalar(c, "SELECT bloqueado_hasta FROM usuarios WHERE id_usuario = 1").toString(),
                                    "yyyy-MM-dd HH:mm:ss").toString("HH:mm")
            : QString("10:05");
        QCOMPARE(st.messages.lastText(), "Acceso denegado\nDemasiados intentos fallidos: el usuario "
                                         "ADMINISTRADOR podrá ingresar de nuevo a las " + until + ".");
        QVERIFY(!login->checkLogin("administrador", "ab12"));
        QCOMPARE(db::scalar(c, "SELECT parametro FROM usuarios_operaciones WHERE id_operacion = 24").toString(),
                 db::stationName(c));

        // The new password, typed twice, is checked before it is taken.
        QCOMPARE(w_cambio_password::problem("AB1", "AB1"), QString("La contraseña debe tener 4 caracteres."));
        QCOMPARE(w_cambio_password::problem("AB12", "AB13"), QString("Las dos contraseñas no son iguales."));
        QCOMPARE(w_cambio_password::problem("1234", "1234"), QString("La contraseña nueva no puede ser la de fábrica."));
        QCOMPARE(w_cambio_password::problem("ab12", "AB12"), QString());
    }

    void enterInPasswordLogsInAndCancelEnds()
    {
        TestStation st;
        {
            Run r(st);
            r.init();
            w_login* login = r.shell.login();
            login->sle_password->setText("1234");
            login->askNewPassword = [] { return std::optional<QString>("AB12"); };
            QTest::keyClick(login->sle_password, Qt::Key_Return);
            QTRY_VERIFY(!r.shell.login());
            QCOMPARE(st.main.currentLevel(), 1);
            QVERIFY(r.key("cb_parametros")->isEnabled());
            QCOMPARE(r.endCode, -1);
        }
        st.main.logIn(0, st.main.currentLevel());
        {
            Run r(st);
            r.init();
            r.shell.login()->cb_cancelar->trigger();
            QCOMPARE(r.endCode, 0);
        }
    }
};

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
