#pragma once
// What every harness needs: a station program directory with a fresh demo
// database opened as the shared connection, messages that go nowhere, and a
// check that turns a broken invariant into a finding.

#include <QString>

class Station;

namespace fuzz {

// Once per process: the application object (with fonts, for the reports)
// and a station with a silent message service and its database (demo
// catalogue and subscribers).
Station& station();

// A broken invariant is a finding: the harness aborts with `what`.
void require(bool condition, const char* what);

} // namespace fuzz
