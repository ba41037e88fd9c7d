#pragma once
// A tiny benchmark registry: each case registers itself with a name and a
// function that runs it once and returns the measured milliseconds.

#include <QString>
#include <functional>
#include <vector>

class Station;

namespace bench {

struct Case {
    QString name;
    QString goal;  // printed beside the result
    int runs;
    std::function<double()> runOnce;
    std::function<QString()> note; // optional, printed after the result (e.g. a comparison)
};

std::vector<Case>& cases();

struct Register {
    Register(const QString& name, const QString& goal, int runs, std::function<double()> f)
    {
        cases().push_back({name, goal, runs, std::move(f), {}});
    }
    Register(const QString& name, const QString& goal, int runs, std::function<double()> f, std::function<QString()> note)
    {
        cases().push_back({name, goal, runs, std::move(f), std::move(note)});
    }
};

// Median of measured values.
double median(std::vector<double> values);

// A new station, the previous one closed. Without `dir`: on a fresh program
// directory with a new station database (demo catalogue), opened; the
// directory lives until the program ends. With `dir`: on that directory,
// nothing opened (start-up opens it).
Station& freshStation(const QString& dir = QString());
// The station made last.
Station& station();
// Closes the last station.
void endStation();

} // namespace bench
