#include "data/db.h"
#include "data/db_file.h"

#include <QCollator>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QTimeZone>

#include <libpq-fe.h>
#include <memory>
#include <sqlite3.h>

static void initDataResources() { Q_INIT_RESOURCE(data); }

// Who is told that a connection was lost.
using LostHandler = std::function<void()>;
Q_DECLARE_METATYPE(LostHandler)
Q_DECLARE_METATYPE(db::Server)

namespace db {

namespace {

// A unique key already taken (perhaps by another station meanwhile), as
// each engine reports it.
bool isDuplicateKey(const QString& code)
{
    return code == QLatin1String("23505") || code == QLatin1String("1555") || code == QLatin1String("2067");
}

// What a refused constraint means, in words for the operator; the engines
// say it in English (and a server adds its code).
QString constraintText(const QString& code, const QString& text)
{
    // A file reports a restricted delete as a trigger's refusal (1811).
    const bool restrict = code == QLatin1String("1811") && text.contains(QLatin1String("FOREIGN KEY"));
    if (code == QLatin1String("23503") || code == QLatin1String("787") || restrict)
        return QStringLiteral("La operación se refiere a un dato que no existe, o quitaría uno que otros datos usan.");
    if (isDuplicateKey(code))
        return QStringLiteral("Ya existe un registro con la misma clave.");
    if (code == QLatin1String("23502") || code == QLatin1String("1299"))
        return QStringLiteral("Falta un dato obligatorio.");
    return {};
}

// QtSql names the handle by libpq's struct (pg_conn*) or its typedef.
PGconn* pgHandle(const QSqlDriver* d)
{
    const QVariant v = d ? d->handle() : QVariant();
    if (v.isValid() && (qstrcmp(v.typeName(), "PGconn*") == 0 || qstrcmp(v.typeName(), "pg_conn*") == 0))
        return *static_cast<PGconn* const*>(v.constData());
    return nullptr;
}

bool serverDriver(const QSqlDriver* d)
{
    return d && d->dbmsType() == QSqlDriver::PostgreSQL;
}

// The server is gone when libpq says so; a driver that refuses to run a
// statement on a connection it has closed says nothing at all.
bool driverLost(const QSqlDriver* d)
{
    if (!serverDriver(d))
        return false;
    const PGconn* conn = pgHandle(d);
    return !d->isOpen() || !conn || PQstatus(conn) == CONNECTION_BAD;
}

// A server's SQLSTATE (five characters); SQLite's codes are shorter numbers.
bool serverCode(const QString& code, const QSqlDriver* d)
{
    return code.size() == 5 || (serverDriver(d) && !code.isEmpty());
}

const QString& lostText()
{
    static const QString t = QStringLiteral("Se perdió la conexión con el servidor; reintentando...");
    return t;
}

Fault classify(const QSqlError& e, const QSqlDriver* d)
{
    const QString code = e.nativeErrorCode();
    const QString t = e.databaseText() + QLatin1Char(' ') + e.driverText();
    if (driverLost(d) || code.startsWith(QLatin1String("08")) || code == QLatin1String("57P01") ||
        code == QLatin1String("57P02") || code == QLatin1String("57P03"))
        return Fault::Lost;
    // SQLite's extended codes keep the primary one in the low byte; the
    // driver reports a failed commit by its text only.
    bool numeric = false;
    const int primary = code.toInt(&numeric) & 0xff;
    const bool file = numeric && !serverCode(code, d);
    if (code == QLatin1String("53100") || (file && primary == SQLITE_FULL) ||
        t.contains(QLatin1String("database or disk is full")))
        return Fault::DiskFull;
    if (code == QLatin1String("55P03") || (file && (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)) ||
        t.contains(QLatin1String("database is locked")))
        return Fault::Busy;
    if (code == QLatin1String("57014"))
        return Fault::TooLong;
    if (code == QLatin1String("XX001") || code == QLatin1String("XX002") ||
        (file && (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)) || t.contains(QLatin1String("malformed")) ||
        t.contains(QLatin1String("not a database")))
        return Fault::Damaged;
    return Fault::Other;
}

// The table a statement names first, for a message about what is busy.
QString tableOf(const QString& sql)
{
    static const QRegularExpression re(QStringLiteral("\\b(?:UPDATE|INTO|FROM)\\s+(\\w+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(sql);
    return m.hasMatch() ? m.captured(1) : QString();
}

// The operator's words for a fault; empty where the engine's text (or a
// constraint's words) must do.
QString faultText(Fault f, const QSqlDriver* d, const QString& databaseName, const QString& sql)
{
    const bool server = serverDriver(d);
    switch (f) {
    case Fault::Lost:
        return lostText();
    case Fault::Busy: {
        const QString table = tableOf(sql);
        return QStringLiteral("Otra estación está usando %1 y no los liberó en %2 s: no se hizo nada. Intente de nuevo "
                              "en un momento.")
            .arg(table.isEmpty() ? QStringLiteral("los mismos datos") : QStringLiteral("los datos de «%1»").arg(table))
            .arg(LockWaitMs / 1000);
    }
    case Fault::TooLong:
        return QStringLiteral("La operación tardó más de %1 s y se canceló: no se hizo nada.").arg(StatementMs / 1000);
    case Fault::DiskFull:
        return QStringLiteral("No hay espacio en el disco de la base de datos (carpeta %1)")
            .arg(server ? QStringLiteral("de datos del servidor") : QFileInfo(databaseName).absolutePath());
    case Fault::Damaged:
        return server ? QStringLiteral("Los datos del servidor están dañados: avise al administrador del servidor.")
                      : QStringLiteral("La base de datos está dañada: al iniciar de nuevo, la estación ofrecerá "
                                       "restaurar la copia de seguridad.");
    case Fault::Other:
        break;
    }
    return {};
}

QString composeText(const QSqlError& e, Fault f, const QSqlDriver* d, const QString& databaseName, const QString& sql)
{
    // One line of the engine's: a server adds its context on more.
    QString engine = e.databaseText().trimmed();
    if (engine.isEmpty())
        engine = e.text().trimmed();
    engine = engine.section(QLatin1Char('\n'), 0, 0).simplified();
    if (serverCode(e.nativeErrorCode(), d))
        engine += QStringLiteral(" (%1)").arg(e.nativeErrorCode());
    QString plain = faultText(f, d, databaseName, sql);
    if (plain.isEmpty())
        plain = constraintText(e.nativeErrorCode(), engine);
    if (engine.isEmpty())
        return plain.isEmpty() ? QStringLiteral("Error desconocido de la base de datos") : plain;
    return plain.isEmpty() ? engine : plain + QLatin1Char('\n') + engine;
}

// What the station keeps for a connection beyond what QtSql does (who is
// told when it is lost, the server it was opened on) lives on the
// connection's driver, and goes with the connection.
constexpr const char* kLostHandler = "sorvent_lost_handler";
constexpr const char* kServer = "sorvent_server";

void notifyLost(const QSqlDriver* d)
{
    if (!d)
        return;
    const LostHandler handler = d->property(kLostHandler).value<LostHandler>();
    if (handler)
        handler();
}

Error errorOf(const QSqlError& e, const QSqlDriver* d, const QString& databaseName = QString(),
              const QString& sql = QString())
{
    const Fault f = classify(e, d);
    if (f == Fault::Lost)
        notifyLost(d);
    return Error(composeText(e, f, d, databaseName, sql), isDuplicateKey(e.nativeErrorCode()), f);
}

Error errorOf(const QSqlError& e, const QSqlDatabase& c, const QString& sql = QString())
{
    return errorOf(e, c.driver(), c.databaseName(), sql);
}

} // namespace

QString errorText(const QSqlError& e, const QSqlDatabase& c)
{
    return composeText(e, classify(e, c.driver()), c.driver(), c.databaseName(), QString());
}

Fault faultOf(const QSqlError& e, const QSqlDatabase& c)
{
    return classify(e, c.driver());
}

void setLostHandler(const QString& name, std::function<void()> handler)
{
    if (!QSqlDatabase::contains(name))
        return;
    if (QSqlDriver* d = QSqlDatabase::database(name, false).driver())
        d->setProperty(kLostHandler, handler ? QVariant::fromValue(LostHandler(std::move(handler))) : QVariant());
}

bool isLost(const QSqlDatabase& c)
{
    return driverLost(c.driver());
}

sqlite3* sqliteHandle(const QSqlDatabase& c)
{
    const QVariant v = c.driver() ? c.driver()->handle() : QVariant();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(v.constData());
    return nullptr;
}

namespace {

// Spanish order (ñ after n, accents beside their letter), the collation the
// server knows by the same name from its schema.
int compareSpanish(void*, int n1, const void* s1, int n2, const void* s2)
{
    static const QCollator collator(QLocale(QLocale::Spanish, QLocale::Spain));
    return collator.compare(QString::fromUtf8(static_cast<const char*>(s1), n1),
                            QString::fromUtf8(static_cast<const char*>(s2), n2));
}

QSqlDatabase connect(const QString& name, const QString& file)
{
    if (QSqlDatabase::contains(name))
        close(name);
    QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    c.setDatabaseName(file);
    c.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(LockWaitMs));
    if (!c.open()) {
        const QString t = errorText(c.lastError(), c);
        c = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw Error(t);
    }
    // Per connection, and ignored inside a transaction: set it right away.
    exec(c, QStringLiteral("PRAGMA foreign_keys = ON"));
    if (sqlite3* h = sqliteHandle(c))
        sqlite3_create_collation_v2(h, "espanol", SQLITE_UTF8, nullptr, compareSpanish, nullptr);
    return c;
}

// Values given to libpq as "key=value": no blanks, quotes or separators.
bool plainValue(const QString& v)
{
    static const QRegularExpression bad(QStringLiteral("[\\s'\"\\\\;=]"));
    return !v.contains(bad);
}

// Why a connection to the server failed, in the operator's words first.
QString connectFailure(const QSqlError& e)
{
    const QString engine = (e.databaseText().isEmpty() ? e.text() : e.databaseText()).simplified();
    QString plain;
    if (engine.contains(QLatin1String("password")) || engine.contains(QLatin1String("authentication")))
        plain = QStringLiteral("El servidor no aceptó el usuario o falta su contraseña: póngala en ~/.pgpass del "
                               "usuario que ejecuta la estación (servidor:puerto:base:usuario:contraseña, permisos "
                               "600), o indique en sorvent20.ini la clave service de un servicio de "
                               "~/.pg_service.conf.");
    else if (engine.contains(QLatin1String("timeout expired")))
        plain = QStringLiteral("El servidor no respondió a tiempo (red cortada, o el servidor está apagado).");
    else if (engine.contains(QLatin1String("Connection refused")) ||
             engine.contains(QLatin1String("No such file or directory")))
        plain = QStringLiteral("El servidor no está en marcha en esa dirección y puerto.");
    else if (engine.contains(QLatin1String("does not exist")))
        plain = QStringLiteral("El servidor no tiene esa base de datos o ese usuario.");
    return plain.isEmpty() ? engine : plain + QLatin1Char('\n') + engine;
}

// What every session of the station sets on the server once connected.
void setUpSession(const QSqlDatabase& c, const Server& s)
{
    // The server's notices ("already exists, skipping") are not for the operator.
    exec(c, QStringLiteral("SET client_min_messages TO warning"));
    // Who this is, for its settings and holds (and for the server's own lists).
    exec(c, QStringLiteral("SELECT set_config('application_name', ?, false)"),
         {s.estacion.isEmpty() ? QSysInfo::machineHostName() : s.estacion});
    // Nobody waits without limit on another station's lock, nor on a
    // statement that runs away; the messages say which.
    exec(c, QStringLiteral("SELECT set_config('lock_timeout', ?, false), set_config('statement_timeout', ?, false)"),
         {QString::number(LockWaitMs), QString::number(StatementMs)});
    // A station whose network is gone is dropped by the server within a
    // minute, and its subscriber holds with it (the client's own keepalives
    // are in the connection options). A Unix socket ignores these.
    exec(c, QStringLiteral("SELECT set_config('tcp_keepalives_idle', '20', false), "
                           "set_config('tcp_keepalives_interval', '10', false), "
                           "set_config('tcp_keepalives_count', '3', false), "
                           "set_config('tcp_user_timeout', '50000', false)"));
    // Stored dates are the station's local time, the server's defaults too.
    try {
        exec(c, QStringLiteral("SELECT set_config('TimeZone', ?, false)"),
             {QString::fromLatin1(QTimeZone::systemTimeZoneId())});
    } catch (const Error&) {
        // A zone the server does not know: it keeps its own.
    }
}

QSqlDatabase connectServer(const QString& name, const Server& s)
{
    if (QSqlDatabase::contains(name))
        close(name);
    QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    QString why;
    if (!c.isValid()) {
        why = QStringLiteral("falta el controlador de PostgreSQL de Qt (paquete libqt6sql6-psql)");
    } else {
        // A station that loses the network is noticed within a minute, and
        // its subscriber locks end with its session.
        // A statement sent into a network that is gone fails within
        // tcp_user_timeout instead of holding the window until the
        // keepalives notice.
        QStringList options{QStringLiteral("connect_timeout=10"), QStringLiteral("keepalives_idle=30"),
                            QStringLiteral("keepalives_interval=10"), QStringLiteral("keepalives_count=3"),
                            QStringLiteral("tcp_user_timeout=15000")};
        if (!s.service.isEmpty())
            options << QStringLiteral("service=") + s.service;
        c.setConnectOptions(options.join(QLatin1Char(';')));
        c.setHostName(s.host);
        if (!s.port.isEmpty())
            c.setPort(s.port.toInt());
        c.setDatabaseName(s.dbname);
        c.setUserName(s.user);
        if (!c.open())
            why = connectFailure(c.lastError());
    }
    if (!why.isEmpty()) {
        c = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw Error(QStringLiteral("No se pudo conectar con el servidor de base de datos %1:\n%2").arg(s.describe(), why));
    }
    setUpSession(c, s);
    // A lost connection is opened again with the same settings.
    c.driver()->setProperty(kServer, QVariant::fromValue(s));
    return c;
}

} // namespace

// First key of the server locks around new numbers (the second is the table).
constexpr int kNewKeyLock = 0x4e4b; // "NK"

Engine engine(const QSqlDatabase& c)
{
    return c.driverName() == QLatin1String("QPSQL") ? Engine::PostgreSQL : Engine::SQLite;
}

namespace {

// A statement not even tried: the connection was lost before it.
Error lostError(const QSqlDatabase& c)
{
    notifyLost(c.driver());
    return Error(lostText(), false, Fault::Lost);
}

} // namespace

QString Server::describe() const
{
    if (!service.isEmpty())
        return QStringLiteral("«servicio %1»").arg(service);
    QString t = host.isEmpty() ? QStringLiteral("local") : host;
    if (!port.isEmpty())
        t += QLatin1Char(':') + port;
    t += QLatin1Char('/') + dbname;
    if (!user.isEmpty())
        t += QStringLiteral(" (usuario %1)").arg(user);
    return QStringLiteral("«%1»").arg(t);
}

std::optional<Server> serverConfig(const QString& programDir)
{
    const QString file = QDir(programDir).filePath(QString::fromLatin1(ServerIni));
    if (!QFileInfo::exists(file))
        return std::nullopt;
    return serverConfigFile(file);
}

Server serverConfigFile(const QString& file)
{
    if (!QFileInfo(file).isFile())
        throw Error(QStringLiteral("No existe el archivo %1").arg(file));
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        throw Error(QStringLiteral("No se pudo leer %1").arg(file));
    // Keys and the section name are read without regard to case, as people
    // write them ("Password=" is a password as much as "password=").
    QHash<QString, QString> keys;
    for (const QString& key : ini.allKeys()) {
        const qsizetype slash = key.indexOf(QLatin1Char('/'));
        if (slash < 0 || key.left(slash).compare(QLatin1String("basedatos"), Qt::CaseInsensitive) != 0)
            continue;
        keys.insert(key.mid(slash + 1).toLower(), ini.value(key).toString());
    }
    if (keys.contains(QStringLiteral("password")))
        throw Error(QStringLiteral("%1 no debe guardar la contraseña: póngala en ~/.pgpass del usuario.").arg(ServerIni));
    Server s;
    const auto value = [&](const char* key) { return keys.value(QLatin1String(key)).trimmed(); };
    s.service = value("service");
    s.host = value("host");
    s.port = value("port");
    s.dbname = value("dbname");
    s.user = value("user");
    s.estacion = value("estacion");
    if (s.service.isEmpty() && s.dbname.isEmpty())
        throw Error(QStringLiteral("%1 no indica el servidor: la sección [basedatos] necesita service, o dbname "
                                   "(con host, port y user si hacen falta).").arg(ServerIni));
    bool portOk = true;
    if (!s.port.isEmpty())
        s.port.toUShort(&portOk);
    if (!portOk)
        throw Error(QStringLiteral("%1: el puerto «%2» no es válido.").arg(ServerIni, s.port));
    for (const QString& v : {s.service, s.host, s.dbname, s.user, s.estacion})
        if (!plainValue(v))
            throw Error(QStringLiteral("%1: el valor «%2» no es válido.").arg(ServerIni, v));
    return s;
}

QSqlDatabase openServer(const QString& name, const Server& s)
{
    return connectServer(name, s);
}

QSqlDatabase openAnother(const QString& name, const QSqlDatabase& like)
{
    if (engine(like) == Engine::SQLite)
        return open(name, like.databaseName());
    return connectServer(name, serverOf(like));
}

Server serverOf(const QSqlDatabase& c)
{
    if (const QSqlDriver* d = c.driver())
        if (const QVariant known = d->property(kServer); known.isValid())
            return known.value<Server>();
    Server s;
    const QString options = c.connectOptions();
    if (options.contains(QLatin1String("service=")))
        s.service = options.section(QStringLiteral("service="), 1).section(QLatin1Char(';'), 0, 0);
    s.host = c.hostName();
    s.port = c.port() > 0 ? QString::number(c.port()) : QString();
    s.dbname = c.databaseName();
    s.user = c.userName();
    s.estacion = stationName(c);
    return s;
}

bool reconnect(const QString& name, QString* why)
{
    QSqlDatabase c = QSqlDatabase::database(name, false);
    if (!c.isValid())
        return false;
    const Server s = serverOf(c);
    c.close();
    if (!c.open()) {
        if (why)
            *why = connectFailure(c.lastError());
        return false;
    }
    try {
        setUpSession(c, s);
    } catch (const Error& e) {
        if (why)
            *why = e.text();
        c.close();
        return false;
    }
    return true;
}

bool serverAnswers(const Server& s)
{
    QStringList info{QStringLiteral("connect_timeout=5")};
    const auto add = [&](const char* key, const QString& value) {
        if (!value.isEmpty())
            info << QLatin1String(key) + QLatin1Char('=') + value;
    };
    add("service", s.service);
    add("host", s.host);
    add("port", s.port);
    add("dbname", s.dbname);
    add("user", s.user);
    return PQping(info.join(QLatin1Char(' ')).toUtf8().constData()) == PQPING_OK;
}

QString stationName(const QSqlDatabase& c)
{
    if (engine(c) == Engine::SQLite)
        return QSysInfo::machineHostName();
    return scalar(c, QStringLiteral("SELECT current_setting('application_name')")).toString();
}

void lockNewKeys(const QSqlDatabase& c, const QString& table)
{
    if (engine(c) == Engine::PostgreSQL)
        exec(c, QStringLiteral("SELECT pg_advisory_xact_lock(CAST(? AS integer), CAST(? AS integer))"),
             {kNewKeyLock, int(qChecksum(table.toUtf8()))}); // the same number on every station
}

QString forUpdate(const QSqlDatabase& c)
{
    return engine(c) == Engine::PostgreSQL ? QStringLiteral(" FOR UPDATE") : QString();
}

QStringList tableNames(const QSqlDatabase& c)
{
    return c.tables(QSql::Tables);
}

QStringList columnNames(const QSqlDatabase& c, const QString& table)
{
    const QSqlRecord r = c.record(table);
    QStringList names;
    for (int i = 0; i < r.count(); ++i)
        names << r.fieldName(i);
    return names;
}

QSqlDatabase open(const QString& name, const QString& file)
{
    QFileInfo fi(file);
    if (!fi.exists() || !fi.isFile())
        throw Error(QStringLiteral("No existe el archivo de base de datos %1").arg(file));
    QSqlDatabase c = connect(name, file);
    // A file that is not a database (or is damaged) fails here, not later.
    QSqlQuery q = exec(c, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    Q_UNUSED(q);
    return c;
}

QSqlDatabase create(const QString& name, const QString& file)
{
    if (QFileInfo::exists(file))
        throw Error(QStringLiteral("El archivo %1 ya existe").arg(file));
    QSqlDatabase c = connect(name, file);
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    createSchema(c);
    return c;
}

namespace {

QString resourceText(const QString& path)
{
    initDataResources();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("No se encontró el esquema de la base de datos"));
    return QString::fromUtf8(f.readAll());
}

// schema.sql in the server's words: the phrases only SQLite knows.
QString serverSchema(QString sql)
{
    sql.replace(QRegularExpression(QStringLiteral("\\bBLOB\\b")), QStringLiteral("BYTEA"));
    sql.replace(QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"),
                QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"));
    sql.replace(QStringLiteral("TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))"),
                QStringLiteral("TEXT COLLATE \"C\" NOT NULL DEFAULT to_char(localtimestamp(0), 'YYYY-MM-DD HH24:MI:SS')"));
    if (sql.contains(QLatin1String("AUTOINCREMENT")) || sql.contains(QLatin1String("strftime")))
        throw Error(QStringLiteral("El esquema tiene una expresión que el servidor no conoce"));
    return sql;
}

} // namespace

QString schemaDialect(const QSqlDatabase& c, const QString& sql)
{
    return engine(c) == Engine::SQLite ? sql : serverSchema(sql);
}

void createSchema(const QSqlDatabase& c)
{
    const QString schema = resourceText(QStringLiteral(":/data/schema.sql"));
    if (engine(c) == Engine::SQLite) {
        execScript(c, schema);
        return;
    }
    execScript(c, resourceText(QStringLiteral(":/data/schema_pg.sql")));
    execScript(c, serverSchema(schema));
}

void close(const QString& name)
{
    {
        QSqlDatabase c = QSqlDatabase::database(name, false);
        if (c.isValid())
            c.close();
    }
    QSqlDatabase::removeDatabase(name);
}

namespace {

QSqlQuery run(const QSqlDatabase& c, const QString& sql, const QVariantList& values, bool forwardOnly)
{
    // A driver asked to run a statement on a lost connection fails without
    // a word, or after sending it: say what happened instead.
    if (isLost(c))
        throw lostError(c);
    QSqlQuery q(c);
    q.setForwardOnly(forwardOnly);
    // Without values the text runs as it is: a server prepares no schema
    // statements.
    if (values.isEmpty()) {
        if (!q.exec(sql))
            throw errorOf(q.lastError(), c, sql);
        return q;
    }
    if (!q.prepare(sql))
        throw errorOf(q.lastError(), c, sql);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!q.exec())
        throw errorOf(q.lastError(), c, sql);
    return q;
}

} // namespace

QSqlQuery exec(const QSqlDatabase& c, const QString& sql, const QVariantList& values)
{
    return run(c, sql, values, true);
}

QSqlQuery execWhole(const QSqlDatabase& c, const QString& sql, const QVariantList& values)
{
    return run(c, sql, values, false);
}

void execWrite(const QSqlDatabase& c, const QString& sql, const QVariantList& values)
{
    sqlite3* const h = sqliteHandle(c);
    if (!h) {
        exec(c, sql, values);
        return;
    }
    // The engine's text and code as the driver would report them, so that a
    // full disk or a locked file reads the same either way.
    const auto fail = [&](int code) {
        return errorOf(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(h)), QSqlError::StatementError,
                                 QString::number(code)),
                       c, sql);
    };
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    const int prepared = sqlite3_prepare_v2(h, text.constData(), int(text.size()), &st, nullptr);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(st, sqlite3_finalize);
    if (prepared != SQLITE_OK)
        throw fail(prepared);
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values.at(i);
        int rc = SQLITE_OK;
        // A null text is NULL, as the driver binds it.
        if (v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isNull())) {
            rc = sqlite3_bind_null(st, i + 1);
        } else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Bool ||
                   v.typeId() == QMetaType::UInt) {
            rc = sqlite3_bind_int64(st, i + 1, v.toLongLong());
        } else if (v.typeId() == QMetaType::Double) {
            rc = sqlite3_bind_double(st, i + 1, v.toDouble());
        } else {
            const QByteArray t = v.toString().toUtf8();
            rc = sqlite3_bind_text(st, i + 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK)
            throw fail(rc);
    }
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(st);
    if (rc != SQLITE_DONE)
        throw fail(rc);
}

bool next(QSqlQuery& q)
{
    if (q.next())
        return true;
    // A forward-only query reads its rows as it goes: the end of the rows
    // and a failure to read one look alike until the error is asked for.
    if (q.lastError().isValid() || driverLost(q.driver()))
        throw errorOf(q.lastError(), q.driver());
    return false;
}

void checkAlive(const QSqlDatabase& c)
{
    scalar(c, QStringLiteral("SELECT 1"));
}

QVariant scalar(const QSqlDatabase& c, const QString& sql, const QVariantList& values)
{
    QSqlQuery q = exec(c, sql, values);
    if (next(q))
        return q.value(0);
    return {};
}

void execScript(const QSqlDatabase& c, const QString& script)
{
    if (isLost(c))
        throw lostError(c);
    QString stmt;
    const QStringList lines = script.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1String("--")))
            continue;
        stmt += line + QLatin1Char('\n');
        if (t.endsWith(QLatin1Char(';'))) {
            QSqlQuery q(c);
            if (!q.exec(stmt))
                throw errorOf(q.lastError(), c, stmt);
            stmt.clear();
        }
    }
    if (!stmt.trimmed().isEmpty()) {
        QSqlQuery q(c);
        if (!q.exec(stmt))
            throw errorOf(q.lastError(), c, stmt);
    }
}

QString text(const QSqlQuery& q, const char* column)
{
    const QVariant v = q.value(QString::fromLatin1(column));
    return v.isNull() ? QString() : v.toString();
}

int integer(const QSqlQuery& q, const char* column)
{
    const QVariant v = q.value(QString::fromLatin1(column));
    return v.isNull() ? 0 : v.toInt();
}

QVariant nullIfEmpty(const QString& s)
{
    return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s);
}

QString fold(const QString& s)
{
    // Case folding alone keeps accents apart (Á and A differ), as the original
    // text comparison did; only the case is ignored.
    return s.toCaseFolded();
}

QString dateTimeText(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString nowText()
{
    return dateTimeText(QDateTime::currentDateTime());
}

QDateTime parseDateTime(const QString& s)
{
    QDateTime t = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        t = QDateTime::fromString(s, Qt::ISODate);
    return t;
}

namespace {

struct Deadline {
    QElapsedTimer clock;
    qint64 ms;
    bool passed = false;
};

int pastDeadline(void* p)
{
    auto* d = static_cast<Deadline*>(p);
    d->passed = d->passed || d->clock.elapsed() > d->ms;
    return d->passed ? 1 : 0;
}

} // namespace

Check quickCheck(const QSqlDatabase& c, int ms, QString* detail)
{
    if (engine(c) == Engine::PostgreSQL)
        return Check::Sound;
    // QtSql has no time limit for a statement: the engine's progress handler
    // interrupts the check once the deadline has passed.
    sqlite3* const handle = sqliteHandle(c);
    Deadline d;
    d.ms = ms;
    d.clock.start();
    if (handle)
        sqlite3_progress_handler(handle, 1000, pastDeadline, &d);
    QStringList said;
    QSqlQuery q(c);
    q.setForwardOnly(true);
    bool ran = q.exec(QStringLiteral("PRAGMA quick_check"));
    while (ran && q.next())
        said << q.value(0).toString();
    ran = ran && !q.lastError().isValid();
    const QString error = ran ? QString() : errorText(q.lastError(), c);
    q.finish();
    if (handle)
        sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    if (!ran && d.passed)
        return Check::Unfinished;
    if (ran && said == QStringList{QStringLiteral("ok")})
        return Check::Sound;
    if (detail)
        *detail = ran ? said.join(QStringLiteral("; ")).left(400) : error;
    return Check::Damaged;
}

Transaction::Transaction(const QSqlDatabase& c) : m_c(c)
{
    QSqlDatabase d = m_c;
    if (isLost(d))
        throw lostError(d);
    if (!d.transaction())
        throw errorOf(d.lastError(), d);
    m_open = true;
}

Transaction::~Transaction()
{
    if (m_open) {
        QSqlDatabase d = m_c;
        d.rollback();
    }
}

void Transaction::commit()
{
    QSqlDatabase d = m_c;
    if (!d.commit()) {
        const Error e = errorOf(d.lastError(), d);
        d.rollback();
        m_open = false;
        throw e;
    }
    m_open = false;
}

void compactInto(const QSqlDatabase& c, const QString& file)
{
    if (engine(c) != Engine::SQLite)
        throw Error(QStringLiteral("Solo un archivo de base de datos se compacta"));
    exec(c, QStringLiteral("VACUUM INTO ?"), {file});
}

} // namespace db
