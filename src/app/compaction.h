#pragma once
// Compaction with one backup generation, done so that at no instant is there
// no complete database file: the compacted copy is written beside the
// database, the backup is written, and only then the copy replaces the
// database by an atomic rename.

#include <QString>

namespace compaction {

enum class Step { None, Compact, RemoveBackup, CopyBackup, Replace };

// Compacts `dir`/sorvent20.mdb (which must not be open). Returns the step at
// which it stopped, Step::None when it completed. `failAt` makes that step
// fail, for tests of the failure paths.
Step run(const QString& dir, Step failAt = Step::None);

} // namespace compaction
