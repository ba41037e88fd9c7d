#include "session/mdl_main.h"

#include "link/panel_link.h"

#include "data/db.h"
#include "data/messages.h"
#include "data/oplog_store.h"
#include "data/schema_upgrade.h"
#include "data/seed.h"
#include "data/station_db.h"
#include "data/settings_store.h"
#include "data/shared_ops.h"
#include "link/serialport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

const QString mdl_main::DbFile = QStringLiteral("sorvent20.mdb");
const QString mdl_main::BackupFile = QStringLiteral("sorvent20.bkp");
const QString mdl_main::TempFile = QStringLiteral("sorvent20tmp.mdb");
const QString mdl_main::UpdateFile = QStringLiteral("novedades20.mdb");
const QString mdl_main::DbConnection = QStringLiteral("sorvent");
const QString mdl_main::ReportConnection = QStringLiteral("sorvent-reportes");
const QString mdl_main::UpdateConnection = QStringLiteral("sorvent-novedades");

mdl_main::mdl_main(MessageService& messages) : m_messages(messages)
{
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &mdl_main::retryServer);
    // A station that sits idle notices a lost server before its operator
    // does, and holds that ended with the session are taken again sooner.
    m_watch.setInterval(WatchMs);
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (m_serverLost || !db().isOpen())
            return;
        try {
            db::checkAlive(db());
        } catch (const db::Error&) {
            // A lost connection has started its retries through the handler.
        }
    });
}

mdl_main::~mdl_main()
{
    db::setLostHandler(DbConnection, {});
    db::setLostHandler(ReportConnection, {});
    if (m_probe.valid())
        m_probe.wait();
}

void mdl_main::watchServer()
{
    if (db::engine(db()) != db::Engine::PostgreSQL)
        return;
    db::setLostHandler(DbConnection, [this] { connectionLost(); });
    db::setLostHandler(ReportConnection, [this] { connectionLost(); });
    m_watch.start();
}

void mdl_main::connectionLost()
{
    if (m_serverLost)
        return;
    m_serverLost = true;
    m_serverStatusText = QStringLiteral("Se perdió la conexión con el servidor; reintentando...");
    qWarning("base de datos: se perdió la conexión con el servidor %s", qPrintable(db::serverOf(db()).describe()));
    m_retry.start();
    // Said from the event loop: the statement that noticed may be half way
    // through a handler.
    QTimer::singleShot(0, this, [this] {
        emit serverStatusChanged();
        if (m_serverLost)
            m_messages.show(QStringLiteral("Atención"), m_serverStatusText, MessageService::Icon::Warning);
    });
}

void mdl_main::retryServer()
{
    if (!m_serverLost)
        return;
    if (m_probe.valid()) {
        if (m_probe.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        if (!m_probe.get()) {
            m_probe = std::async(std::launch::async, m_serverProbe, db::serverOf(db()));
            return;
        }
    } else {
        m_probe = std::async(std::launch::async, m_serverProbe, db::serverOf(db()));
        return;
    }
    QString why;
    if (!db::reconnect(DbConnection, &why)) {
        qWarning("base de datos: el servidor responde pero no se pudo reconectar: %s", qPrintable(why));
        return;
    }
    if (QSqlDatabase::contains(ReportConnection) && !db::reconnect(ReportConnection, &why))
        qWarning("base de datos: reportes: %s", qPrintable(why));
    m_serverLost = false;
    m_retry.stop();
    m_serverStatusText = QStringLiteral("Conexión con el servidor restablecida");
    qInfo("base de datos: %s", qPrintable(m_serverStatusText));
    emit serverStatusChanged();
    emit serverBack();
}

QString mdl_main::pathOf(const QString& fileName) const
{
    return QDir(m_dir).filePath(fileName);
}

QSqlDatabase mdl_main::db() const
{
    return QSqlDatabase::database(DbConnection, false);
}

QSqlDatabase mdl_main::reportDb() const
{
    return QSqlDatabase::database(ReportConnection, false);
}

void mdl_main::closeConnections()
{
    db::close(ReportConnection);
    db::close(DbConnection);
}

namespace {

// The check at start is cut short on a big file: the station must start.
constexpr int kStartCheckMs = 2000;

// What SQLite says most often about a bad file, in the operator's words.
QString readable(const QString& engine)
{
    if (engine.contains(QLatin1String("not a database")))
        return QStringLiteral("el archivo no es una base de datos");
    if (engine.contains(QLatin1String("malformed")) || engine.contains(QLatin1String("corrupt")))
        return QStringLiteral("el archivo está dañado");
    return engine;
}

// Why `file` cannot serve as the station database; empty when it can.
QString unsound(const QString& file)
{
    const QString name = QStringLiteral("sorvent-check");
    QString reason;
    try {
        QSqlDatabase c = db::open(name, file);
        QString detail;
        if (db::quickCheck(c, kStartCheckMs, &detail) == db::Check::Damaged) {
            reason = QStringLiteral("está dañada (%1)").arg(readable(detail));
        } else {
            const QStringList missing = schema::missingTables(c);
            if (!missing.isEmpty())
                reason = QStringLiteral("no tiene las tablas de la estación (falta %1)").arg(missing.join(QStringLiteral(", ")));
        }
    } catch (const db::Error& e) {
        reason = QStringLiteral("no se puede leer (%1)").arg(readable(e.text()));
    }
    db::close(name);
    return reason;
}

} // namespace

QString mdl_main::openStationDatabase()
{
    if (db::openFromConfig(DbConnection, m_dir))
        return {};
    const QString file = pathOf(DbFile);
    QString notice;
    if (!QFile::exists(file)) {
        // Never start on a silently created empty database while a copy of a
        // real one exists: prefer the backup, then a complete compacted copy.
        const QString backup = pathOf(BackupFile);
        const QString temp = pathOf(TempFile);
        const auto usable = [](const QString& f) { return QFile::exists(f) && unsound(f).isEmpty(); };
        QString source;
        if (usable(backup))
            source = backup;
        else if (usable(temp))
            source = temp;
        if (!source.isEmpty()) {
            if (!QFile::copy(source, file))
                throw db::Error(QStringLiteral("No se pudo restaurar la copia %1").arg(source));
            QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            notice = QStringLiteral("No se encontró la base de datos %1. Se restauró la copia de seguridad %2.")
                         .arg(DbFile, QFileInfo(source).fileName());
        } else if (QFile::exists(backup) || QFile::exists(temp)) {
            throw db::Error(QStringLiteral("No se encontró la base de datos y su copia de seguridad está dañada"));
        } else {
            seed::createStationDatabase(file, true);
        }
    } else if (const QString why = unsound(file); !why.isEmpty()) {
        restoreBackup(why);
    }
    const QSqlDatabase c = db::open(DbConnection, file);
    schema::upgrade(c);
    try {
        seed::addMissingOperations(c);
    } catch (const db::Error&) {
        // A database that cannot take them still works; such log rows only
        // go without their operation's name.
    }
    return notice;
}

void mdl_main::restoreBackup(const QString& why)
{
    const QString file = pathOf(DbFile);
    const QString backup = pathOf(BackupFile);
    const QString damaged = QStringLiteral("La base de datos %1 %2").arg(DbFile, why);
    if (!QFile::exists(backup))
        throw db::Error(QStringLiteral("%1 y no hay copia de seguridad.").arg(damaged));
    if (const QString backupWhy = unsound(backup); !backupWhy.isEmpty())
        throw db::Error(QStringLiteral("%1, y su copia de seguridad %2 también: %3.").arg(damaged, BackupFile, backupWhy));
    const QDateTime when = QFileInfo(backup).lastModified();
    const QString aside = pathOf(QStringLiteral("sorvent20-danada-%1.mdb").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    if (!m_messages.askYesNo(QStringLiteral("%1.\n¿Restaura la copia de seguridad del %2?\nEl archivo dañado se conservará como %3.")
                      .arg(damaged, when.toString(QStringLiteral("dd/MM/yyyy HH:mm")), QFileInfo(aside).fileName())))
        throw db::Error(QStringLiteral("%1. No se restauró la copia de seguridad.").arg(damaged));
    if (!QFile::rename(file, aside))
        throw db::Error(QStringLiteral("%1 y no se pudo apartar el archivo dañado.").arg(damaged));
    if (!QFile::copy(backup, file)) {
        QFile::rename(aside, file);
        throw db::Error(QStringLiteral("%1 y no se pudo restaurar la copia de seguridad.").arg(damaged));
    }
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    qWarning("base de datos dañada apartada como %s; restaurada la copia de seguridad", qPrintable(aside));
}

mdl_main::InitResult mdl_main::initialize(ShellUi& ui)
{
    m_port = ui.comMain();
    try {
        // A re-run keeps a working connection: windows and the link may be
        // using it, and the settings are read again all the same.
        QString notice;
        // A re-run finds a lost server here, before a second connection is
        // tried (a lost server connection reads as closed).
        if (const QSqlDatabase c = db(); c.isValid() && (c.isOpen() || db::isLost(c)))
            db::checkAlive(c);
        else
            notice = openStationDatabase();
        db::openAnother(ReportConnection, db());
        watchServer();
        if (!notice.isEmpty())
            m_messages.show(QStringLiteral("Atención"), notice, MessageService::Icon::Warning);

        const std::optional<settings::Row> s = settings::read(db());
        if (!s) {
            showMessage(101);
            throw db::Error(QStringLiteral("Falta la fila de configuración"));
        }
        const QVariant port = s->modem_port;
        const QVariant mode = s->modem_mode;
        if (port.isNull() || mode.isNull())
            throw db::Error(QStringLiteral("Configuración incompleta"));
        bool ok = false;
        m_modemPort = port.toInt(&ok);
        if (!ok || m_modemPort < -32768 || m_modemPort > 32767)
            throw db::Error(QStringLiteral("Puerto de comunicaciones inválido"));
        m_modemMode = mode.toString();

        ui.setKeypadButtonVisible(keypadAvailable(m_modemMode));
        if (!openPort(1, m_modemPort, m_modemMode)) {
            qWarning("puerto: no se pudo abrir COM %d (modo %s)", m_modemPort, qPrintable(m_modemMode));
            showMessage(102);
        }
    } catch (const db::Error& e) {
        // A re-run while the server is away is no reason to end: the
        // station is trying again already.
        if (m_currentUser != 0 && e.connectionLost())
            return InitResult::Ok;
        // The general text, and under it what actually went wrong.
        m_messages.showError(QStringLiteral("Ha ocurrido un error grave por lo que la aplicación se cerrará\n\n%1").arg(e.text()));
        ui.endProgram(1);
        return InitResult::Fatal;
    }
    if (m_currentUser != 0)
        return InitResult::Ok;
    ui.showMainWindow();
    ui.closeSplash();
    ui.runCatalogueCheck();
    ui.runLogin();
    return InitResult::Ok;
}

bool mdl_main::openPort(int accion, int& puerto, const QString& modo)
{
    const bool noPort = modo == QLatin1String("Sin Puerto Com");
    const int speed = modo == QLatin1String("Interface") ? 4800 : 110;
    if (noPort)
        puerto = 0;
    m_portStatusPicture = QStringLiteral("modem_no");
    m_portStatusText = QStringLiteral("COM %1").arg(puerto);
    m_portOpen = false;
    bool result = false;
    if (m_port) {
        if (m_port->isOpen())
            m_port->close();
        m_port->setSettings(serialSettingsFor(speed));
    }
    if (accion == 1) {
        if (noPort) {
            result = true;
        } else if (m_port) {
            m_port->setCommPort(puerto);
            if (m_port->open()) {
                m_portOpen = true;
                m_portStatusPicture = QStringLiteral("modem_si");
                result = true;
            }
        }
    }
    emit portStatusChanged();
    return result;
}

namespace {
bool usesPort(const PanelLink& link)
{
    return link.phase() != PanelLink::LinkPhase::Idle || link.waitingForCall();
}
} // namespace

bool mdl_main::applyPortSettings(PanelLink& link, int port, const QString& mode)
{
    m_deferredPort = PortSettings{port, mode};
    const auto apply = [this] {
        if (!m_deferredPort)
            return;
        const PortSettings p = *std::exchange(m_deferredPort, std::nullopt);
        disconnect(m_deferredWatch);
        m_modemPort = p.port;
        m_modemMode = p.mode;
        if (!openPort(1, m_modemPort, m_modemMode))
            showMessage(202);
    };
    if (!usesPort(link)) {
        apply();
        return false;
    }
    if (!m_deferredWatch) {
        // Applied after the link's handler has returned: opening the port
        // or a box inside it would pull the rug from under the link.
        m_deferredWatch = connect(&link, &PanelLink::viewChanged, this, [this, &link, apply] {
            if (m_deferredPort && !usesPort(link))
                QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
        });
    }
    return true;
}

void mdl_main::logIn(int user, int level)
{
    logIn(user, level, permissions::levelRights(level));
}

void mdl_main::logIn(int user, int level, permissions::Rights rights)
{
    m_currentUser = user;
    m_currentLevel = level;
    m_rights = rights;
}

void mdl_main::logOut()
{
    m_currentUser = m_currentLevel = 0;
    m_rights = 0;
}

bool mdl_main::hidesSection(int panel, int section) const
{
    if (!hides(true))
        return false;
    try {
        return hides(permissions::secretSections(db(), panel).contains(section));
    } catch (const db::Error& e) {
        qWarning("mdl_main::hidesSection: %s", qPrintable(e.text()));
        return true;
    }
}

bool mdl_main::maySeeSubscriber(int id_abonado) const
{
    try {
        return permissions::maySee(db(), m_currentUser, id_abonado);
    } catch (const db::Error& e) {
        qWarning("mdl_main::maySeeSubscriber: %s", qPrintable(e.text()));
        return false;
    }
}

void mdl_main::detachPort(SerialPort* port)
{
    if (m_port == port)
        m_port = nullptr;
}

void mdl_main::portOpened()
{
    m_portOpen = true;
}

bool mdl_main::portNeedsReopen(int port, const QString& mode) const
{
    return port != m_modemPort || mode != m_modemMode || !m_portOpen;
}

bool mdl_main::keypadAvailable(const QString& mode)
{
    return mode == QLatin1String("Interface");
}

void mdl_main::portLost()
{
    m_portOpen = false;
    m_portStatusPicture = QStringLiteral("modem_no");
    emit portStatusChanged();
}

void mdl_main::showMessage(int number, const QString& detalle, const QRect& keep)
{
    QString text = catalogueText(number);
    if (text.isEmpty())
        return;
    if (!detalle.isEmpty())
        text += QLatin1Char('\n') + detalle;
    const QString title = QStringLiteral("Error %1").arg(number);
    if (keep.isValid())
        m_messages.showClearOf(title, text, MessageService::Icon::Critical, keep);
    else
        m_messages.showError(text, title);
}

void mdl_main::logOperation(int id_operacion, const QString& parametro)
{
    try {
        oplog::record(db(), m_currentUser, id_operacion, parametro);
    } catch (const db::Error& e) {
        // The log never stops the operation that asked for it; support
        // learns the row is missing.
        qWarning("log de operaciones: no se registró la operación %d: %s", id_operacion, qPrintable(e.text()));
    }
}

void mdl_main::logOrThrow(int id_operacion, const QString& parametro)
{
    oplog::record(db(), m_currentUser, id_operacion, parametro);
}

bool mdl_main::copyValues(int id_abonado, int id_panel, int id_seccion, int id_configuracion)
{
    return ::copyValues(db(), id_abonado, id_panel, id_seccion, id_configuracion, m_currentUser);
}
