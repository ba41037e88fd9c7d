#include "app/compaction.h"

#include "app/mdl_main.h"
#include "data/db.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

#include <fcntl.h>
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

} // namespace

Step run(const QString& dir, Step failAt)
{
    const QDir d(dir);
    const QString dbPath = d.filePath(mdl_main::DbFile);
    const QString tmpPath = d.filePath(mdl_main::TempFile);
    const QString bkpPath = d.filePath(mdl_main::BackupFile);

    // A leftover copy of an interrupted run would make VACUUM INTO refuse.
    QFile::remove(tmpPath);
    try {
        if (failAt == Step::Compact)
            throw db::Error(QStringLiteral("fallo provocado"));
        // VACUUM INTO fills an empty file as it finds it, permissions included.
        if (!createOwnerOnly(tmpPath))
            throw db::Error(QStringLiteral("No se pudo crear la copia compactada"));
        const QString name = QStringLiteral("sorvent-compact");
        {
            QSqlDatabase c = db::open(name, dbPath);
            db::exec(c, QStringLiteral("VACUUM INTO ?"), {tmpPath});
        }
        db::close(name);
        if (!syncPath(tmpPath))
            throw db::Error(QStringLiteral("No se pudo escribir la copia compactada"));
    } catch (const db::Error&) {
        db::close(QStringLiteral("sorvent-compact"));
        QFile::remove(tmpPath);
        return Step::Compact;
    }

    // Only one backup generation; a missing one is no error.
    if (failAt != Step::RemoveBackup)
        QFile::remove(bkpPath);

    if (failAt == Step::CopyBackup || !copyOwnerOnly(dbPath, bkpPath))
        return Step::CopyBackup;

    std::error_code ec;
    if (failAt != Step::Replace)
        std::filesystem::rename(QFile::encodeName(tmpPath).constData(), QFile::encodeName(dbPath).constData(), ec);
    if (failAt == Step::Replace || ec)
        return Step::Replace;
    syncPath(dir, true);
    return Step::None;
}

} // namespace compaction
