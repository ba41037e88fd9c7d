#pragma once
// Compaction with one backup generation, done so that at no instant is there
// no complete database file: the compacted copy and the new backup are
// written beside the database, and only then do they replace the database
// and the previous backup, each by an atomic rename. A run that fails leaves
// the database (its content) and the previous backup as they were.

#include <QString>

namespace compaction {

enum class Step { None, Check, Compact, CopyBackup, Replace, RenewBackup };

// Compacts `dir`/sorvent20.mdb (which must not be open). Returns the step at
// which it stopped, Step::None when it completed; `reason` gets a Spanish
// text for the operator (what failed and in what state the files are).
// `failAt` makes that step fail, for tests of the failure paths.
Step run(const QString& dir, Step failAt = Step::None, QString* reason = nullptr);

} // namespace compaction
