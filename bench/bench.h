#pragma once
// A tiny benchmark registry: each case registers itself with a name and a
// function that runs it once and returns the measured milliseconds.

#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class Station;

namespace bench {

// Where the station's database lives. Every case runs on a file; the cases
// registered for both also run on a PostgreSQL server when
// SORVENT_BENCH_PGHOST names one (a host, or the socket directory of a
// running cluster such as scripts/pg-test-cluster.sh starts), after all the
// file runs.
enum class Engine { file, server };
enum class On { file, both };

struct Case {
    QString name;
    QString goal;  // printed beside the result
    int runs;
    std::function<double()> runOnce;
    std::function<QString()> note; // optional, printed after the result (e.g. a comparison)
    On on = On::file;
    // Optional: the median milliseconds of the same work as bare SQL, measured
    // beside the case's own runs; 0 when there is none on this engine. The
    // result line then shows the case's ratio to it.
    std::function<double()> bare;
};

std::vector<Case>& cases();

struct Register {
    Register(const QString& name, const QString& goal, int runs, std::function<double()> f, On on = On::file)
    {
        cases().push_back({name, goal, runs, std::move(f), {}, on, {}});
    }
    Register(const QString& name, const QString& goal, int runs, std::function<double()> f, std::function<QString()> note,
             On on = On::file, std::function<double()> bare = {})
    {
        cases().push_back({name, goal, runs, std::move(f), std::move(note), on, std::move(bare)});
    }
};

// The engine the cases run on now.
Engine engine();
// True the first time it is asked on each engine, for the preparation a
// case keeps between its runs (`done` remembers where it was made).
bool firstOn(std::optional<Engine>& done);
// A new empty database on the server, connected as `connection`; dropped
// when the program ends.
QSqlDatabase newServerDatabase(const QString& connection);

// Median of measured values.
double median(std::vector<double> values);

// A new station, the previous one closed. Without `dir`: on a fresh program
// directory with a new station database (demo catalogue, no subscribers) on
// the engine of the moment, opened; the
// directory lives until the program ends. With `dir`: on that directory,
// nothing opened (start-up opens it).
Station& freshStation(const QString& dir = QString());
// The station made last.
Station& station();
// Closes the last station.
void endStation();

} // namespace bench
