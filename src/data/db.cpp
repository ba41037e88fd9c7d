#include "data/db.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

#include <sqlite3.h>

static void initDataResources() { Q_INIT_RESOURCE(data); }

namespace db {

QString errorText(const QSqlError& e)
{
    QString t = e.databaseText();
    if (t.isEmpty())
        t = e.text();
    return t.isEmpty() ? QStringLiteral("Error desconocido de la base de datos") : t;
}

namespace {

QSqlDatabase connect(const QString& name, const QString& file)
{
    if (QSqlDatabase::contains(name))
        close(name);
    QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    c.setDatabaseName(file);
    c.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!c.open()) {
        const QString t = errorText(c.lastError());
        c = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw Error(t);
    }
    // Per connection, and ignored inside a transaction: set it right away.
    exec(c, QStringLiteral("PRAGMA foreign_keys = ON"));
    return c;
}

} // namespace

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
    initDataResources();
    QFile schema(QStringLiteral(":/data/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("No se encontró el esquema de la base de datos"));
    QSqlDatabase c = connect(name, file);
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    execScript(c, QString::fromUtf8(schema.readAll()));
    return c;
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

QSqlQuery exec(const QSqlDatabase& c, const QString& sql, const QVariantList& values)
{
    QSqlQuery q(c);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw Error(errorText(q.lastError()));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!q.exec())
        throw Error(errorText(q.lastError()));
    return q;
}

QVariant scalar(const QSqlDatabase& c, const QString& sql, const QVariantList& values)
{
    QSqlQuery q = exec(c, sql, values);
    if (q.next())
        return q.value(0);
    return {};
}

void execScript(const QSqlDatabase& c, const QString& script)
{
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
                throw Error(errorText(q.lastError()));
            stmt.clear();
        }
    }
    if (!stmt.trimmed().isEmpty()) {
        QSqlQuery q(c);
        if (!q.exec(stmt))
            throw Error(errorText(q.lastError()));
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
    // QtSql has no time limit for a statement: the engine's progress handler
    // interrupts the check once the deadline has passed.
    sqlite3* handle = nullptr;
    const QVariant v = c.driver() ? c.driver()->handle() : QVariant();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        handle = *static_cast<sqlite3* const*>(v.constData());
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
    const QString error = ran ? QString() : errorText(q.lastError());
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
    if (!d.transaction())
        throw Error(errorText(d.lastError()));
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
        const QString t = errorText(d.lastError());
        d.rollback();
        m_open = false;
        throw Error(t);
    }
    m_open = false;
}

void compactInto(const QSqlDatabase& c, const QString& file)
{
    exec(c, QStringLiteral("VACUUM INTO ?"), {file});
}

} // namespace db
