#include "migration/novedades.h"

#include "app/mdl_main.h"
#include "data/db.h"
#include "data/messages.h"

#include <QFile>
#include <QFileInfo>

namespace migration {

QString updateFilePath()
{
    return mdl_main::instance().pathOf(mdl_main::UpdateFile);
}

bool removeUpdateFile()
{
    db::close(mdl_main::UpdateConnection);
    const QString file = updateFilePath();
    if (!QFileInfo::exists(file))
        return true;
    // A file marked read-only is left alone rather than forced, whoever runs
    // the station (the owner's write bit, not access(), which root passes).
    if (!(QFile::permissions(file) & QFileDevice::WriteOwner))
        return false;
    return QFile::remove(file);
}

UpdateCheck f_novedades(ShellUi& ui)
{
    const QString file = updateFilePath();
    if (!QFileInfo::exists(file))
        return UpdateCheck::NoFile;
    try {
        db::open(mdl_main::UpdateConnection, file);
    } catch (const db::Error&) {
        return UpdateCheck::NoFile;
    }
    // Enter merges: merging is safe and can be repeated, "No" deletes the file.
    if (askYesNo(QStringLiteral("Se ha detectado un archivo de novedades.\n¿Ejecuta el proceso de migración?"),
                 MessageService::Default::Yes))
        return UpdateCheck::Accepted;
    if (!removeUpdateFile()) {
        showError(QStringLiteral("No se pudo acceder en modo exclusivo al archivo."));
        ui.endProgram(1);
        return UpdateCheck::Ended;
    }
    return UpdateCheck::Declined;
}

} // namespace migration
