#pragma once
// The diagnostics log: warnings, link errors and unexpected database errors go
// to "sorvent.log" in the program directory (owner-only, time-stamped), so a
// technician can send it to support. When the file passes its size cap it is
// kept as "sorvent.log.1" (the one before is dropped) and a new one begins.
// Nothing reaches the terminal while it is installed.

#include <QString>
#include <QtGlobal>

namespace diagnostics {

constexpr qint64 defaultMaxBytes = 1024 * 1024;

// Takes Qt's messages before the program directory is known (the toolkit
// speaks while it starts); install() writes them to the file first.
void hold();
// Installs the log as Qt's message handler; debug messages are left out.
void install(const QString& programDir, qint64 maxBytes = defaultMaxBytes);
// Restores the previous handler and closes the file.
void uninstall();
// The file in use, empty when not installed.
QString path();

// Why no window can be shown here (in Spanish), empty when one can: the
// toolkit would abort without a word otherwise.
QString noDisplay();

} // namespace diagnostics
