#include "testsupport.h"

#include "data/db.h"
#include "data/permissions.h"
#include "data/seed.h"
#include "data/station_db.h"
#include "link/panel_link.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QUdpSocket>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

void RecordingMessages::show(const QString& title, const QString& text, Icon icon)
{
    shown.append({title, text, icon, QRect()});
    if (whileShown)
        std::exchange(whileShown, {})();
}

void RecordingMessages::showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep)
{
    shown.append({title, text, icon, keep});
}

bool RecordingMessages::ask(const QString& title, const QString& text, Default defaultAnswer)
{
    Q_UNUSED(title);
    asked.append(text);
    defaults.append(defaultAnswer);
    return answers.isEmpty() ? false : answers.dequeue();
}

bool RecordingMessages::sawText(const QString& text) const
{
    for (const Shown& s : shown)
        if (s.text == text)
            return true;
    return false;
}

bool testOnServer()
{
    return qEnvironmentVariable("SORVENT_TEST_ENGINE") == QLatin1String("postgresql");
}

void serverAdmin(const QString& sql)
{
    const QString name = QStringLiteral("sorvent-test-admin");
    if (!QSqlDatabase::contains(name)) {
        db::Server s;
        s.dbname = QStringLiteral("postgres");
        db::openServer(name, s);
    }
    db::execScript(QSqlDatabase::database(name, false), sql);
}

namespace {

// A seeded model database per kind, made once per test program and copied
// for each station (names from the code only).
QString serverModel(bool demoSubscribers)
{
    const QString model = QStringLiteral("sorvent_modelo_%1_%2").arg(QCoreApplication::applicationPid()).arg(demoSubscribers);
    static QSet<QString> made;
    if (made.contains(model))
        return model;
    serverAdmin(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(model));
    serverAdmin(QStringLiteral("CREATE DATABASE %1").arg(model));
    {
        db::Server s;
        s.dbname = model;
        QSqlDatabase c = db::openServer(QStringLiteral("sorvent-test-model"), s);
        db::prepareServer(c);
        // As a file made without them: not even their seeding's history.
        if (!demoSubscribers)
            db::execScript(c, QStringLiteral("DELETE FROM abonados;\nDELETE FROM valores_historial;\n"));
    }
    db::close(QStringLiteral("sorvent-test-model"));
    made.insert(model);
    return model;
}

} // namespace

TestStation::TestStation(bool createDb, bool demoSubscribers) : Station(messages, m_dir.path())
{
    if (createDb && testOnServer()) {
        static int n = 0;
        m_serverDb = QStringLiteral("sorvent_est_%1_%2").arg(QCoreApplication::applicationPid()).arg(++n);
        serverAdmin(QStringLiteral("CREATE DATABASE %1 TEMPLATE %2").arg(m_serverDb, serverModel(demoSubscribers)));
        QFile ini(path(QString::fromLatin1(db::ServerIni)));
        if (ini.open(QIODevice::WriteOnly))
            ini.write(QStringLiteral("[basedatos]\nhost=%1\ndbname=%2\n").arg(qEnvironmentVariable("PGHOST"), m_serverDb).toUtf8());
        ini.close();
        db::openFromConfig(mdl_main::DbConnection, dir());
    } else if (createDb) {
        // Seeding takes a while under the sanitizers: make each kind of
        // database once per test program and copy it.
        static QTemporaryDir cache;
        const QString model = cache.filePath(demoSubscribers ? "demo.mdb" : "plain.mdb");
        if (!QFile::exists(model))
            seed::createStationDatabase(model, demoSubscribers);
        QFile::copy(model, path(mdl_main::DbFile));
        QFile::setPermissions(path(mdl_main::DbFile), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        db::open(mdl_main::DbConnection, path(mdl_main::DbFile));
    }
    // Windows made without a login work as for an operator who may do
    // everything; what a right takes away is tested by giving others.
    main.logIn(0, 0, permissions::levelRights(1));
}

void addTrigger(const QSqlDatabase& c, const QString& name, const QString& when, const QString& table,
                const QString& condition, const QString& statement)
{
    if (db::engine(c) == db::Engine::SQLite) {
        db::exec(c, QStringLiteral("CREATE TRIGGER %1 %2 ON %3 %4 BEGIN %5; END")
                        .arg(name, when, table, condition.isEmpty() ? QString() : QStringLiteral("WHEN ") + condition,
                             statement.isEmpty() ? QStringLiteral("SELECT RAISE(ABORT, '%1')").arg(name) : statement));
        return;
    }
    db::exec(c, QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN %2; "
                               "IF TG_OP = 'DELETE' THEN RETURN OLD; END IF; RETURN NEW; END$$")
                    .arg(name, statement.isEmpty() ? QStringLiteral("RAISE EXCEPTION '%1'").arg(name) : statement));
    db::exec(c, QStringLiteral("CREATE TRIGGER %1 %2 ON %3 FOR EACH ROW %4 EXECUTE FUNCTION %1()")
                    .arg(name, when, table, condition.isEmpty() ? QString() : QStringLiteral("WHEN (%1)").arg(condition)));
}

void dropTrigger(const QSqlDatabase& c, const QString& name, const QString& table)
{
    db::exec(c, db::engine(c) == db::Engine::SQLite ? QStringLiteral("DROP TRIGGER %1").arg(name)
                                                     : QStringLiteral("DROP TRIGGER %1 ON %2").arg(name, table));
}

TestStation::~TestStation()
{
    if (m_serverDb.isEmpty())
        return;
    main.closeConnections();
    try {
        serverAdmin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_serverDb));
    } catch (const db::Error& e) {
        qWarning("%s", qPrintable(e.text()));
    }
}

QString TestStation::path(const QString& name) const
{
    return m_dir.filePath(name);
}

QSqlDatabase stationDb()
{
    return QSqlDatabase::database(mdl_main::DbConnection, false);
}

Pty::Pty()
{
    int slave = -1;
    char name[256] = {};
    if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    m_slave = QString::fromLocal8Bit(name);
    m_slaveFd = slave;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty()
{
    close();
}

void Pty::close()
{
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveFd = m_master = -1;
}

bool Pty::linkAs(const QString& dir, int n) const
{
    const QString link = dir + QStringLiteral("/COM%1").arg(n);
    QFile::remove(link);
    return QFile::link(m_slave, link);
}

QByteArray Pty::readAvailable()
{
    QByteArray out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, int(n));
    }
    return out;
}

void Pty::write(const QByteArray& data)
{
    const ssize_t n = ::write(m_master, data.constData(), size_t(data.size()));
    Q_UNUSED(n);
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(1);
    }
    return true;
}

bool damageTable(const QString& file, const QString& table)
{
    qint64 page = 0, size = 0;
    {
        const QString name = QStringLiteral("estropear");
        QSqlDatabase c = db::open(name, file);
        page = db::scalar(c, QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = ?"), {table}).toLongLong();
        size = db::scalar(c, QStringLiteral("PRAGMA page_size")).toLongLong();
        c = QSqlDatabase();
        db::close(name);
    }
    QFile f(file);
    if (page < 2 || !f.open(QIODevice::ReadWrite) || !f.seek((page - 1) * size))
        return false;
    return f.write(QByteArray(int(size), '\x5A')) == size;
}

quint16 freeUdpPort()
{
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

bool linkTurn(PanelLink& link, bool answered)
{
    const int before = link.scheduler().framesSent;
    for (int i = 0; i < 2000 && link.scheduler().framesSent == before; ++i)
        link.tick();
    return link.scheduler().framesSent != before && (!answered || waitFor([&link] { return link.scheduler().awaitingAnswer == 0; }));
}

bool linkTurnsWhile(PanelLink& link, bool (PanelLink::*pending)() const)
{
    for (int i = 0; i < 2000 && (link.*pending)(); ++i)
        if (!linkTurn(link))
            return false;
    return !(link.*pending)();
}

QAbstractItemModelTester* checkModel(QAbstractItemModel* model)
{
    return new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest, model);
}
