#include "app/compaction.h"

#include "session/mdl_main.h"
#include "data/db.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace compaction {

namespace {

// Flushes a file (or a directory entry list) to the disk.
bool syncPath(const QString& path, bool directory = false)
{
    const int fd = ::open(QFile::encodeName(path).constData(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The database files hold the operators' passwords: only their owner may
// read them. Created with those permissions, never widened and narrowed later.
constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// An empty owner-only file; false when it exists already.
bool createOwnerOnly(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly);
}

// Copies `from` to a new owner-only file `to`, flushed to the disk; a copy
// that fails half way is removed.
bool copyOwnerOnly(const QString& from, const QString& to)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
        return false;
    bool ok = true;
    while (ok && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        ok = !chunk.isEmpty() && out.write(chunk) == chunk.size();
    }
    ok = ok && out.flush() && ::fsync(out.handle()) == 0;
    out.close();
    if (!ok)
        out.remove();
    return ok;
}

// The new backup is the database file itself, under a second name: it is
// about to be replaced by the compacted copy, so its bytes need not be
// written again. Narrowed to its owner first (the database may come from a
// copy readable by all; the name that stays is the backup's). Where the disk
// has no second names, a flushed owner-only copy.
bool keepAsBackup(const QString& dbPath, const QString& to)
{
    const QByteArray from = QFile::encodeName(dbPath);
    if (::chmod(from.constData(), S_IRUSR | S_IWUSR) == 0 && ::link(from.constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    return copyOwnerOnly(dbPath, to);
}

} // namespace

Step run(const QString& dir, Step failAt, QString* reason)
{
    // A station on a server has no file of its own to compact or back up:
    // the server keeps its files.
    try {
        if (db::serverConfig(dir))
            return Step::None;
    } catch (const db::Error&) {
        return Step::None;
    }
    const QDir d(dir);
    const QString dbPath = d.filePath(mdl_main::DbFile);
    const QString tmpPath = d.filePath(mdl_main::TempFile);
    const QString bkpPath = d.filePath(mdl_main::BackupFile);
    const QString newBkpPath = bkpPath + QStringLiteral(".nueva");
    const QString name = QStringLiteral("sorvent-compact");
    const QString untouched = QStringLiteral("La base de datos y la copia de seguridad anterior quedaron como estaban.");
    const auto fail = [&](Step step, const QString& why) {
        db::close(name);
        QFile::remove(tmpPath);
        QFile::remove(newBkpPath);
        if (reason)
            *reason = why;
        return step;
    };

    // A leftover copy of an interrupted run would make VACUUM INTO refuse.
    QFile::remove(tmpPath);
    QFile::remove(newBkpPath);
    QString damage, error;
    try {
        QSqlDatabase c = db::open(name, dbPath);
        // A damaged database must not take the place of the backup, which
        // may be the last sound copy.
        if (failAt == Step::Check || db::quickCheck(c, 20000, &damage) == db::Check::Damaged) {
            if (damage.isEmpty())
                damage = QStringLiteral("fallo provocado");
        } else {
            if (failAt == Step::Compact)
                throw db::Error(QStringLiteral("fallo provocado"));
            // VACUUM INTO fills an empty file as it finds it, permissions included.
            if (!createOwnerOnly(tmpPath))
                throw db::Error(QStringLiteral("no se pudo crear la copia compactada"));
            db::compactInto(c, tmpPath);
        }
    } catch (const db::Error& e) {
        error = e.text();
    }
    if (!damage.isEmpty())
        return fail(Step::Check, QStringLiteral("La base de datos está dañada (%1).\n%2").arg(damage, untouched));
    if (!error.isEmpty())
        return fail(Step::Compact, QStringLiteral("No se pudo compactar la base de datos (%1).\n%2").arg(error, untouched));
    db::close(name);
    if (!syncPath(tmpPath))
        return fail(Step::Compact, QStringLiteral("No se pudo escribir la copia compactada.\n%1").arg(untouched));

    // The new backup is the database as it was before this compaction.
    if (failAt == Step::CopyBackup || !keepAsBackup(dbPath, newBkpPath))
        return fail(Step::CopyBackup, QStringLiteral("No se pudo escribir la copia de seguridad.\n%1").arg(untouched));

    const auto renameOver = [](const QString& from, const QString& to) {
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData(), ec);
        return !ec;
    };
    if (failAt == Step::Replace || !renameOver(tmpPath, dbPath))
        return fail(Step::Replace, QStringLiteral("No se pudo reemplazar la base de datos por la compactada.\n%1").arg(untouched));
    if (failAt == Step::RenewBackup || !renameOver(newBkpPath, bkpPath))
        return fail(Step::RenewBackup, QStringLiteral("No se pudo renovar la copia de seguridad. La base de datos quedó "
                                                      "compactada y se conserva la copia de seguridad anterior."));
    syncPath(dir, true);
    return Step::None;
}

} // namespace compaction
