#pragma once
// What every harness needs: a station program directory with a fresh demo
// database opened as the shared connection, messages that go nowhere, and a
// check that turns a broken invariant into a finding.

#include <QString>

namespace fuzz {

// Once per process: the application object, the station's database (demo
// catalogue and subscribers) and a silent message service. Returns the
// program directory.
QString station();

// A broken invariant is a finding: the harness aborts with `what`.
void require(bool condition, const char* what);

} // namespace fuzz
