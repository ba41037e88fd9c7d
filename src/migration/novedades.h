#pragma once
// The catalogue update check of the start-up: a file "novedades20.mdb" in the
// program directory is offered for merging once; declined, it is deleted.

#include <QDateTime>
#include <QString>

class ShellUi;
class mdl_main;

namespace migration {

enum class UpdateCheck {
    NoFile,   // no update file: start-up goes on silently
    Unusable, // not an update file: the operator was told, and could set it aside
    Declined, // the operator said No and the file is gone
    Accepted, // the update connection is open; the migration window takes over
    Ended,    // the program was ended (the file could not be deleted)
};

// Opens the update connection and asks the operator. On No, closes the
// connection and deletes the file, ending the program when that fails.
UpdateCheck mergeUpdate(const mdl_main& m, ShellUi& ui);

// Deletes the update file without forcing a read-only one. Closes the update
// connection first. Returns false when the file is still there.
bool removeUpdateFile(const mdl_main& m);

// Puts an unusable update file aside under a dated name, so that it is not
// offered again; returns the new path, empty when it could not be renamed.
QString setAsideUpdateFile(const mdl_main& m, const QDateTime& now);

// The update file's path in the program directory.
QString updateFilePath(const mdl_main& m);

} // namespace migration
