#include "migration/novedades.h"

#include "session/mdl_main.h"
#include "data/db.h"
#include "data/messages.h"
#include "migration/catalogue_merge.h"

#include <QFile>
#include <QFileInfo>

namespace migration {

QString updateFilePath(const mdl_main& m)
{
    return m.pathOf(mdl_main::UpdateFile);
}

bool removeUpdateFile(const mdl_main& m)
{
    db::close(mdl_main::UpdateConnection);
    const QString file = updateFilePath(m);
    if (!QFileInfo::exists(file))
        return true;
    // A file marked read-only is left alone rather than forced, whoever runs
    // the station (the owner's write bit, not access(), which root passes).
    if (!(QFile::permissions(file) & QFileDevice::WriteOwner))
        return false;
    return QFile::remove(file);
}

QString setAsideUpdateFile(const mdl_main& m, const QDateTime& now)
{
    db::close(mdl_main::UpdateConnection);
    const QString aside = m.pathOf(
        QStringLiteral("novedades20-apartado-%1.mdb").arg(now.toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    if (!QFile::rename(updateFilePath(m), aside))
        return {};
    qWarning("novedades: archivo inutilizable apartado como %s", qPrintable(aside));
    return aside;
}

UpdateCheck mergeUpdate(const mdl_main& m, ShellUi& ui)
{
    MessageService& messages = m.messages();
    const QString file = updateFilePath(m);
    if (!QFileInfo::exists(file))
        return UpdateCheck::NoFile;
    // A file that is no update file (empty, damaged, other tables) would fail
    // the merge at every start: the operator is told and may set it aside.
    QString why;
    try {
        why = CatalogueMerge::unreadable(db::open(mdl_main::UpdateConnection, file));
    } catch (const db::Error& e) {
        why = e.text().contains(QLatin1String("not a database")) ? QStringLiteral("no es una base de datos") : e.text();
    }
    if (!why.isEmpty()) {
        db::close(mdl_main::UpdateConnection);
        if (messages.askYesNo(QStringLiteral("El archivo de novedades %1 no se puede usar: %2.\n¿Lo aparta, renombrado con la "
                                             "fecha de hoy, para que no se vuelva a ofrecer?")
                         .arg(mdl_main::UpdateFile, why))
            && setAsideUpdateFile(m, QDateTime::currentDateTime()).isEmpty())
            messages.showError(QStringLiteral("No se pudo renombrar el archivo de novedades %1.").arg(mdl_main::UpdateFile));
        return UpdateCheck::Unusable;
    }
    // Enter merges: merging is safe and can be repeated, "No" deletes the file.
    if (messages.askYesNo(QStringLiteral("Se ha detectado un archivo de novedades.\n¿Ejecuta el proceso de migración?"),
                          MessageService::Default::Yes))
        return UpdateCheck::Accepted;
    if (!removeUpdateFile(m)) {
        messages.showError(QStringLiteral("No se pudo acceder en modo exclusivo al archivo."));
        ui.endProgram(1);
        return UpdateCheck::Ended;
    }
    return UpdateCheck::Declined;
}

} // namespace migration
