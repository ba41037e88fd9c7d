#pragma once
// Shared test fixtures: a fresh program directory with its own database per
// test, a message service that records what would be shown, and a real
// pseudo-terminal for serial tests.

#include "app/station.h"
#include "data/messages.h"

#include <QList>
#include <QQueue>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class RecordingMessages : public MessageService {
public:
    struct Shown {
        QString title, text;
        Icon icon;
        QRect keep; // what the box was to keep clear of; null when nothing
    };
    void show(const QString& title, const QString& text, Icon icon) override;
    void showClearOf(const QString& title, const QString& text, Icon icon, const QRect& keep) override;
    bool ask(const QString& title, const QString& text, Default defaultAnswer) override;

    QList<Shown> shown;
    QList<QString> asked;
    QList<Default> defaults; // the default answer of each question asked
    QQueue<bool> answers; // next answers to questions; No when empty
    // Runs once, right after the next box is recorded: what happens while a
    // modal box would be open.
    std::function<void()> whileShown;

    bool sawText(const QString& text) const;
    QString lastText() const { return shown.isEmpty() ? QString() : shown.last().text; }
    QString lastTitle() const { return shown.isEmpty() ? QString() : shown.last().title; }
    void clear() { shown.clear(); asked.clear(); defaults.clear(); answers.clear(); }
};

// The engine under test: SORVENT_TEST_ENGINE=postgresql puts each station's
// database on the test cluster (PGHOST) instead of a file.
bool testOnServer();
// Runs `sql` (no values) on the test cluster's maintenance database.
void serverAdmin(const QString& sql);

// A trigger `name` on `table` at `when` ("BEFORE DELETE", "AFTER UPDATE OF
// valor", ...) for the rows where `condition` holds (NEW./OLD. columns;
// empty: every row). It runs `statement`, or by default refuses the write,
// as a fault half-way through a save would. In either engine's dialect.
void addTrigger(const QSqlDatabase& c, const QString& name, const QString& when, const QString& table,
                const QString& condition = {}, const QString& statement = {});
void dropTrigger(const QSqlDatabase& c, const QString& name, const QString& table);

// What a test station is built on: its own program directory and a message
// service that records.
struct TestStationGround {
    QTemporaryDir m_dir;
    RecordingMessages messages;
};

// One station per test, in a temporary program directory: its pieces
// (main, trans, search, editor, reports) and the context windows get (ctx).
// On the server each station gets a database of its own, named in the
// station's sorvent20.ini and dropped with the station.
class TestStation : public TestStationGround, public Station {
public:
    // Creates the directory; with `createDb` also a fresh database (demo
    // catalogue; demo subscribers when asked) opened as the station's connection.
    explicit TestStation(bool createDb = true, bool demoSubscribers = false);
    ~TestStation();

    QString dir() const { return m_dir.path(); }
    QString path(const QString& name) const;
    // The server database of this station (empty on a file station).
    QString serverDb() const { return m_serverDb; }

private:
    QString m_serverDb;
};

// The connection of the station under test (every station opens its
// database under one connection name).
QSqlDatabase stationDb();

// A pseudo-terminal pair: the test holds the master, the station opens the
// slave through a "COMn" link in the program directory.
class Pty {
public:
    Pty();
    ~Pty();
    bool ok() const { return m_master >= 0; }
    int master() const { return m_master; }
    QString slavePath() const { return m_slave; }
    // Makes `dir`/COMn point at the slave.
    bool linkAs(const QString& dir, int n) const;
    // Reads what the station wrote (non-blocking).
    QByteArray readAvailable();
    void write(const QByteArray& data);
    // Closes both ends: the station's port sees its device gone.
    void close();

private:
    int m_master = -1;
    int m_slaveFd = -1; // kept open so the master never sees a hang-up between opens
    QString m_slave;
};

// Processes events until `done` holds; false after `ms` milliseconds. For
// real device traffic (pseudo-terminals, loopback datagrams) only: the link's
// own time is always driven by hand.
bool waitFor(const std::function<bool()>& done, int ms = 5000);

class PanelLink;

// One scheduler turn on a link with real devices: ticks until a request goes
// out, then waits for the panel's answer when one is expected.
bool linkTurn(PanelLink& link, bool answered = true);
// Turns until `pending` drops; false when a turn goes unanswered.
bool linkTurnsWhile(PanelLink& link, bool (PanelLink::*pending)() const);

// Overwrites the first page of `table` in the closed database `file` with
// garbage, as a failing disk leaves a page. False when it could not.
bool damageTable(const QString& file, const QString& table);

// A loopback UDP port that was free a moment ago.
quint16 freeUdpPort();

class QAbstractItemModel;
class QAbstractItemModelTester;

// Checks the model's invariants now and on every change after (a breach fails
// the running test). The checker belongs to the model; delete it to stop.
QAbstractItemModelTester* checkModel(QAbstractItemModel* model);
