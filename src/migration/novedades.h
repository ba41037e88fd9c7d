#pragma once
// The catalogue update check of the start-up: a file "novedades20.mdb" in the
// program directory is offered for merging once; declined, it is deleted.

#include <QString>

class ShellUi;

namespace migration {

enum class UpdateCheck {
    NoFile,   // no update file, or not a database: start-up goes on silently
    Declined, // the operator said No and the file is gone
    Accepted, // the update connection is open; the migration window takes over
    Ended,    // the program was ended (the file could not be deleted)
};

// Opens the update connection and asks the operator. On No, closes the
// connection and deletes the file, ending the program when that fails.
UpdateCheck f_novedades(ShellUi& ui);

// Deletes the update file without forcing a read-only one. Closes the update
// connection first. Returns false when the file is still there.
bool removeUpdateFile();

// The update file's path in the program directory.
QString updateFilePath();

} // namespace migration
