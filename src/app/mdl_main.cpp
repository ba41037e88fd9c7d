#include "app/mdl_main.h"

#include "data/db.h"
#include "data/messages.h"
#include "data/seed.h"
#include "data/shared_ops.h"
#include "link/serialport.h"

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

mdl_main& mdl_main::instance()
{
    static mdl_main m;
    return m;
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

void mdl_main::reset()
{
    closeConnections();
    currentUser = 0;
    currentLevel = 0;
    portOpen = false;
    modemPort = 0;
    ipPort = 0;
    modemMode.clear();
    com_main = nullptr;
    portStatusText.clear();
    portStatusPicture = QStringLiteral("modem_no");
}

void mdl_main::closeConnections()
{
    db::close(ReportConnection);
    db::close(DbConnection);
}

QString mdl_main::openStationDatabase()
{
    const QString file = pathOf(DbFile);
    QString notice;
    if (!QFile::exists(file)) {
        // Never start on a silently created empty database while a copy of a
        // real one exists: prefer the backup, then a complete compacted copy.
        const QString backup = pathOf(BackupFile);
        const QString temp = pathOf(TempFile);
        auto usable = [](const QString& f) {
            if (!QFile::exists(f))
                return false;
            try {
                const QString name = QStringLiteral("sorvent-check");
                bool ok = false;
                {
                    QSqlDatabase c = db::open(name, f);
                    ok = db::scalar(c, QStringLiteral("PRAGMA quick_check")).toString() == QLatin1String("ok");
                }
                db::close(name);
                return ok;
            } catch (const db::Error&) {
                db::close(QStringLiteral("sorvent-check"));
                return false;
            }
        };
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
    }
    db::open(DbConnection, file);
    return notice;
}

mdl_main::InitResult mdl_main::f_inicializa(ShellUi& ui)
{
    com_main = ui.comMain();
    try {
        // A re-run keeps a working connection: windows and the link may be
        // using it, and the settings are read again all the same.
        QString notice;
        if (!db().isOpen())
            notice = openStationDatabase();
        db::open(ReportConnection, pathOf(DbFile));
        if (!notice.isEmpty())
            MessageService::instance().show(QStringLiteral("Atención"), notice, MessageService::Icon::Warning);

        QSqlQuery q = db::exec(db(), QStringLiteral("SELECT modem_port, modem_mode FROM configuracion WHERE id_configuracion = 1"));
        if (!q.next()) {
            f_mensaje(101);
            throw db::Error(QStringLiteral("Falta la fila de configuración"));
        }
        const QVariant port = q.value(0);
        const QVariant mode = q.value(1);
        if (port.isNull() || mode.isNull())
            throw db::Error(QStringLiteral("Configuración incompleta"));
        bool ok = false;
        modemPort = port.toInt(&ok);
        if (!ok || modemPort < -32768 || modemPort > 32767)
            throw db::Error(QStringLiteral("Puerto de comunicaciones inválido"));
        modemMode = mode.toString();

        ui.setKeypadButtonVisible(modemMode == QLatin1String("Interface"));
        if (!f_abrepuerto(1, modemPort, modemMode))
            f_mensaje(102);
    } catch (const db::Error&) {
        showError(QStringLiteral("Ha ocurrido un error grave por lo que la aplicación se cerrará"));
        ui.endProgram(1);
        return InitResult::Fatal;
    }
    if (currentUser != 0)
        return InitResult::Ok;
    ui.showMainWindow();
    ui.closeSplash();
    ui.runCatalogueCheck();
    ui.runLogin();
    return InitResult::Ok;
}

bool mdl_main::f_abrepuerto(int accion, int& puerto, const QString& modo)
{
    const bool noPort = modo == QLatin1String("Sin Puerto Com");
    const int speed = modo == QLatin1String("Interface") ? 4800 : 110;
    if (noPort)
        puerto = 0;
    portStatusPicture = QStringLiteral("modem_no");
    portStatusText = QStringLiteral("COM %1").arg(puerto);
    portOpen = false;
    bool result = false;
    if (com_main) {
        if (com_main->isOpen())
            com_main->close();
        com_main->setSettings(serialSettingsFor(speed));
    }
    if (accion == 1) {
        if (noPort) {
            result = true;
        } else if (com_main) {
            com_main->setCommPort(puerto);
            if (com_main->open()) {
                portOpen = true;
                portStatusPicture = QStringLiteral("modem_si");
                result = true;
            }
        }
    }
    emit portStatusChanged();
    return result;
}

void mdl_main::portLost()
{
    portOpen = false;
    portStatusPicture = QStringLiteral("modem_no");
    emit portStatusChanged();
}

void mdl_main::f_mensaje(int number)
{
    const QString text = catalogueText(number);
    if (text.isEmpty())
        return;
    showError(text, QStringLiteral("Error %1").arg(number));
}

void mdl_main::f_log(int id_operacion, const QString& parametro)
{
    try {
        db::Transaction t(db());
        db::exec(db(),
                 QStringLiteral("INSERT INTO usuarios_operaciones (id_usuario, id_operacion, parametro) VALUES (?, ?, ?)"),
                 {currentUser, id_operacion, db::nullIfEmpty(parametro)});
        t.commit();
    } catch (const db::Error&) {
        // The log never stops the operation that asked for it.
    }
}

bool mdl_main::f_copiavalores(int id_abonado, int id_panel, int id_seccion, int id_configuracion)
{
    return ::f_copiavalores(db(), id_abonado, id_panel, id_seccion, id_configuracion);
}
