#pragma once
// Application module: the station-wide state of the shell (database and
// report connections, settings, the serial port, the logged-in user) and the
// shared procedures every window calls. The station owns one and hands it to
// the windows.

#include "data/permissions.h"
#include "data/db.h"

#include <QDateTime>
#include <QObject>
#include <QRect>
#include <QSqlDatabase>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <future>

class MessageService;
class SerialPort;
class PanelLink;

// What start-up needs from the windows; the window layer implements it.
class ShellUi {
public:
    virtual ~ShellUi() = default;
    virtual SerialPort* comMain() = 0;      // creates w_main when needed
    virtual void setKeypadButtonVisible(bool visible) = 0;
    virtual void showMainWindow() = 0;
    virtual void closeSplash() = 0;
    virtual void runCatalogueCheck() = 0;   // may end the program itself
    virtual void runLogin() = 0;            // ends the program without a login
    virtual void endProgram(int code) = 0;
};

class mdl_main : public QObject {
    Q_OBJECT
public:
    explicit mdl_main(MessageService& messages);
    ~mdl_main() override;
    MessageService& messages() const { return m_messages; }

    // File names in the program directory.
    static const QString DbFile, BackupFile, TempFile, UpdateFile;
    static const QString DbConnection, ReportConnection, UpdateConnection;

    void setProgramDir(const QString& dir) { m_dir = dir; }
    const QString& programDir() const { return m_dir; }
    QString pathOf(const QString& fileName) const;

    QSqlDatabase db() const;
    QSqlDatabase reportDb() const;

    // Start-up (also re-run from the status bar's modem panel).
    enum class InitResult { Ok, Fatal };
    InitResult initialize(ShellUi& ui);
    bool openPort(int accion, int& puerto, const QString& modo);
    // New port settings: opened now, or, while the link uses the port (a
    // call, a dial or a wait), as soon as it is idle again, since reopening
    // the port hangs up the modem. True when they wait for the link.
    bool applyPortSettings(PanelLink& link, int port, const QString& mode);
    // The port's device went away and the port was closed: the status bar
    // shows it; a click on the modem panel opens it again.
    void portLost();

    // Shared operations.
    // `detalle`, when given, follows the catalogue text on lines of its own
    // (what exactly is wrong); the box keeps clear of `keep` (screen
    // coordinates of what the user has to fix) when that is given.
    void showMessage(int number, const QString& detalle = QString(), const QRect& keep = QRect());
    void logOperation(int id_operacion, const QString& parametro = QString());
    // As logOperation, for an operation that must not go on unrecorded (the
    // login): throws db::Error when the row was not written.
    void logOrThrow(int id_operacion, const QString& parametro = QString());
    bool copyValues(int id_abonado, int id_panel, int id_seccion, int id_configuracion);

    // Opens the database, creating it with the demo catalogue on a first start
    // or restoring it from its backup; returns a text to tell the user when it
    // restored a copy. Throws db::Error.
    QString openStationDatabase();
    // The database is damaged or unreadable (`why`): with a sound backup
    // beside it the operator may restore that backup, the damaged file being
    // kept aside under a dated name. Throws db::Error when it is not restored.
    void restoreBackup(const QString& why);
    void closeConnections();

    // The station's clock: the link, the log viewer's and the console's
    // default days and the reports' printing date read it (tests set another).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    QDateTime now() const { return m_clock(); }

    // The operator: set by the login, cleared when it fails; 0 before one.
    int currentUser() const { return m_currentUser; }
    int currentLevel() const { return m_currentLevel; }
    // With the rights of the built-in profile of `level`, or those given.
    void logIn(int user, int level);
    void logIn(int user, int level, permissions::Rights rights);
    void logOut();
    // Whether the operator may do what `r` names: every window asks here.
    bool may(permissions::Right r) const { return permissions::has(m_rights, r); }
    permissions::Rights rights() const { return m_rights; }
    // A secret value as this operator sees it.
    QString shown(bool secret, const QString& value) const { return permissions::shown(m_rights, secret, value); }
    bool hides(bool secret) const { return permissions::hides(m_rights, secret); }
    // Whether the values of a section of panel model `panel` are hidden from
    // the operator; when the catalogue cannot be read, a secret is assumed.
    bool hidesSection(int panel, int section) const;
    // Whether the operator may work on the subscriber (its groups); a
    // database error says no.
    bool maySeeSubscriber(int id_abonado) const;

    // The modem port as start-up and the parameters window left it.
    bool portOpen() const { return m_portOpen; }
    int modemPort() const { return m_modemPort; }
    const QString& modemMode() const { return m_modemMode; }
    SerialPort* port() const { return m_port; }
    // The main window hands over its port, and takes it back when it goes.
    void attachPort(SerialPort* port) { m_port = port; }
    void detachPort(SerialPort* port);
    // A port opened by other means than openPort (a link on a device of its own).
    void portOpened();
    // Whether saving `port` and `mode` means opening the port again: only
    // when something of it changed or it is closed, since that hangs up the modem.
    bool portNeedsReopen(int port, const QString& mode) const;
    // The local port of the IP link, as last stored.
    int ipPort() const { return m_ipPort; }
    void rememberIpPort(int port) { m_ipPort = port; }
    // The keypad button shows only on a port in keypad-interface mode.
    static bool keypadAvailable(const QString& mode);
    // What an operator of `level` may do in the jobs window ("Tareas"):
    // levels 1 and 2 edit the jobs, level 3 sees their results only. The one
    // place that decides it, so that rights by function can replace it.

    // Status bar panel 1 ("modem"): text and picture key.
    const QString& portStatusText() const { return m_portStatusText; }
    const QString& portStatusPicture() const { return m_portStatusPicture; }

    // The server connection. A lost one is said once (status bar and one
    // box) and tried again every few seconds, without holding the window,
    // until the server answers; then the holds are taken again by whoever
    // had them (serverBack).
    bool serverLost() const { return m_serverLost; }
    const QString& serverStatusText() const { return m_serverStatusText; }
    // One retry: takes the answer of the last look at the server and, when
    // it answered, opens the connections again; else looks again. The
    // retry timer calls it (tests too, without waiting for the timer).
    void retryServer();
    static constexpr int RetryMs = 3000, WatchMs = 15000;
    // Starts watching the server connection (start-up does, once open).
    void watchServer();

signals:
    void portStatusChanged();
    void serverStatusChanged();
    void serverBack();

private:
    struct PortSettings {
        int port = 0;
        QString mode;
    };
    std::optional<PortSettings> m_deferredPort;
    QMetaObject::Connection m_deferredWatch;
    void connectionLost();
    MessageService& m_messages;
    QString m_dir;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
    int m_currentUser = 0;
    int m_currentLevel = 0;
    permissions::Rights m_rights = 0;
    bool m_portOpen = false;
    int m_modemPort = 0;
    int m_ipPort = 0;
    QString m_modemMode;
    SerialPort* m_port = nullptr;
    QString m_portStatusText;
    QString m_portStatusPicture = QStringLiteral("modem_no");
    QString m_serverStatusText;
    // Looks whether the server is there; runs off the window's thread.
    std::function<bool(const db::Server&)> m_serverProbe = db::serverAnswers;
    bool m_serverLost = false;
    QTimer m_retry, m_watch;
    std::future<bool> m_probe;
};
