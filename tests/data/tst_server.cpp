// The shared server doing what servers and networks do: a restart under a
// working station, a station whose network is gone, a login without its
// password. Each case runs on a private cluster of its own (started and
// stopped here, never the one the other tests share); on a file there is
// nothing to test.

#include "testsupport.h"

#include "data/catalogue_store.h"
#include "data/db.h"
#include "data/lock_store.h"
#include "link/serialport.h"
#include "session/mdl_main.h"

#include <QProcess>
#include <QtTest>

#include <pwd.h>
#include <sched.h>
#include <unistd.h>

namespace {

// Start-up without windows: no port, no catalogue file, no login dialog.
struct NoShell : ShellUi {
    SerialPort* comMain() override { return nullptr; }
    void setKeypadButtonVisible(bool) override {}
    void showMainWindow() override {}
    void closeSplash() override {}
    void runCatalogueCheck() override {}
    void runLogin() override {}
    void endProgram(int code) override { ended = code; }
    int ended = -1;
};

constexpr int kPort = 5433;

} // namespace

class tst_server : public QObject {
    Q_OBJECT

    QString m_cluster;
    bool m_ownNetwork = false;

    bool cluster(const QString& action)
    {
        QStringList args{action, m_cluster};
        if (action == QLatin1String("start") && m_ownNetwork)
            args << QString::number(kPort);
        const int rc = QProcess::execute(qEnvironmentVariable("SORVENT_SCRIPTS") + "/pg-test-cluster.sh", args);
        return rc == 0;
    }
    // Without a network of its own the cluster listens on its socket only,
    // named by the default port.
    int port() const { return m_ownNetwork ? kPort : 5432; }
    static QString me() { return QString::fromLocal8Bit(getpwuid(getuid())->pw_name); }
    // A station whose sorvent20.ini names the private cluster, started as
    // the station starts (over loopback TCP when `tcp`).
    void pointAt(TestStation& st, bool tcp)
    {
        QFile ini(st.path(db::ServerIni));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[basedatos]\nhost=%1\nport=%2\ndbname=%3\nestacion=TALLER\n")
                      .arg(tcp ? QStringLiteral("127.0.0.1") : m_cluster)
                      .arg(port())
                      .arg(me())
                      .toUtf8());
    }

private slots:
    void initTestCase()
    {
        if (!testOnServer())
            QSKIP("a file has no server to lose");
        // A network of its own (loopback only) where this program may cut
        // the line without touching the machine's.
        if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0)
            m_ownNetwork = QProcess::execute("ip", {"link", "set", "lo", "up"}) == 0;
        m_cluster = QDir::temp().filePath(QStringLiteral("sorvent-pg-propio-%1").arg(QCoreApplication::applicationPid()));
        QVERIFY(cluster("start"));
    }

    void cleanupTestCase()
    {
        if (!m_cluster.isEmpty())
            cluster("stop");
    }

    // The server restarts under a working station: the statement that finds
    // it gone says so (never "no rows"), the station says it once and tries
    // again without being asked; when the server is back it reconnects with
    // its session settings and says so.
    void restartIsSaidOnceAndReconnected()
    {
        TestStation st(false);
        pointAt(st, false);
        NoShell shell;
        QCOMPARE(st.main.initialize(shell), mdl_main::InitResult::Ok);
        QVERIFY(!catalogue::pickList(st.main.db(), catalogue::PickList::ContactKinds).isEmpty());

        QVERIFY(cluster("halt"));
        for (int i = 0; i < 2; ++i) {
            try {
                catalogue::pickList(st.main.db(), catalogue::PickList::ContactKinds);
                QFAIL("a list read from a lost server");
            } catch (const db::Error& e) {
                QVERIFY(e.connectionLost());
                QCOMPARE(e.text().section('\n', 0, 0), QString("Se perdió la conexión con el servidor; reintentando..."));
            }
        }
        QTRY_COMPARE(st.messages.shown.size(), 1);
        QCOMPARE(st.messages.lastText(), QString("Se perdió la conexión con el servidor; reintentando..."));
        QCOMPARE(st.main.serverStatusText(), st.messages.lastText());
        QVERIFY(st.main.serverLost());
        // A re-run of start-up meanwhile (the status bar's modem panel) does
        // not end the station.
        st.main.logIn(1, st.main.currentLevel());
        QCOMPARE(st.main.initialize(shell), mdl_main::InitResult::Ok);
        QCOMPARE(shell.ended, -1);
        st.main.retryServer();
        QVERIFY(st.main.serverLost());

        QVERIFY(cluster("resume"));
        QSignalSpy back(&st.main, &mdl_main::serverBack);
        QTRY_VERIFY_WITH_TIMEOUT((st.main.retryServer(), !st.main.serverLost()), 20000);
        QCOMPARE(back.size(), 1);
        QCOMPARE(st.main.serverStatusText(), QString("Conexión con el servidor restablecida"));
        QCOMPARE(st.messages.shown.size(), 1);
        QVERIFY(!catalogue::pickList(st.main.db(), catalogue::PickList::ContactKinds).isEmpty());
        QCOMPARE(db::scalar(st.main.db(), "SHOW lock_timeout").toString(), QString("3s"));
        QCOMPARE(db::stationName(st.main.db()), QString("TALLER"));
        QVERIFY(!catalogue::pickList(st.main.reportDb(), catalogue::PickList::ContactKinds).isEmpty());
    }

    // Over the network the server drops a station that went silent within
    // a minute, and the hold of its subscriber with it; its keepalives are
    // the station's own, whatever the server's defaults.
    void holdEndsWhenTheNetworkIsGone()
    {
        if (!m_ownNetwork)
            QSKIP("no network of its own to cut here (needs root)");
        TestStation st(false);
        pointAt(st, true);
        NoShell shell;
        QCOMPARE(st.main.initialize(shell), mdl_main::InitResult::Ok);
        // What the server's socket of this session really uses (the system's
        // default would be two hours).
        const auto seconds = [&](const char* setting) {
            return db::scalar(st.main.db(), QString("SHOW %1").arg(setting)).toString().remove('s').toInt();
        };
        const int idle = seconds("tcp_keepalives_idle"), interval = seconds("tcp_keepalives_interval");
        const int count = seconds("tcp_keepalives_count");
        QVERIFY2(idle > 0 && interval > 0 && count > 0 && idle + interval * count <= 60,
                 qPrintable(QString("%1 %2 %3").arg(idle).arg(interval).arg(count)));
        QVERIFY(locks::acquire(st.main.db(), 1, "ANA", "TALLER"));
        db::Server local;
        local.host = m_cluster;
        local.port = QString::number(port());
        local.dbname = me();
        QSqlDatabase office = db::openServer("oficina", local); // over the socket, which stays
        QVERIFY(locks::heldByOther(office, 1));

        QVERIFY(QProcess::execute("ip", {"link", "set", "lo", "down"}) == 0);
        QElapsedTimer gone;
        gone.start();
        QVERIFY(waitFor([&] { return !locks::heldByOther(office, 1); }, 90000));
        QVERIFY2(gone.elapsed() <= 60000, qPrintable(QString::number(gone.elapsed())));
        QVERIFY(QProcess::execute("ip", {"link", "set", "lo", "up"}) == 0);
        QVERIFY(locks::acquire(office, 1, "LUIS", "OFICINA"));
        office = QSqlDatabase();
        db::close("oficina");
    }

    // A server that wants a password the station does not have says where
    // it goes, the engine's words last.
    void missingPasswordSaysWhereItGoes()
    {
        if (!m_ownNetwork)
            QSKIP("the password is asked over loopback TCP, in a network of its own");
        db::Server local;
        local.host = m_cluster;
        local.port = QString::number(port());
        local.dbname = me();
        local.user = "postgres"; // the server's own account (run as root)
        QSqlDatabase admin = db::openServer("administrador", local);
        db::exec(admin, QStringLiteral("ALTER ROLE \"%1\" PASSWORD 'secreta'").arg(me()));
        QFile hba(m_cluster + "/data/pg_hba.conf");
        QVERIFY(hba.open(QIODevice::WriteOnly | QIODevice::Truncate));
        hba.write("local all all trust\nhost all all 127.0.0.1/32 scram-sha-256\n");
        hba.close();
        db::exec(admin, "SELECT pg_reload_conf()");
        qputenv("PGPASSFILE", QByteArray("/nonexistent/pgpass"));
        db::Server tcp = local;
        tcp.host = "127.0.0.1";
        tcp.user = me();
        try {
            db::openServer("sin-clave", tcp);
            QFAIL("connected without a password");
        } catch (const db::Error& e) {
            QVERIFY2(e.text().contains("~/.pgpass") && e.text().contains("service"), qPrintable(e.text()));
            QVERIFY(e.text().section('\n', -1).contains("password"));
        }
        admin = QSqlDatabase();
        db::close("administrador");
    }
};

QTEST_MAIN(tst_server)
#include "tst_server.moc"
