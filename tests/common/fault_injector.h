#pragma once
// Makes a station's database fail its writes as a real fault would, without
// touching the schema the code under test reads: from the Nth row written on
// (every table counted, or only the tables named) each write fails with the
// engine's own error for the fault. Healed on destruction.
//
// DiskFull and Constraint work on both engines and go on failing until
// heal() (a disk stays full until someone frees it). Lost ends the server
// session of the connection that writes the Nth row, once; a file has no
// connection to lose, so it is refused there (check lostSupported()).

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class FaultInjector {
public:
    enum class Kind { DiskFull, Constraint, Lost };
    FaultInjector(const QSqlDatabase& c, Kind kind, int nth = 1, const QStringList& tables = {});
    ~FaultInjector();
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // Writes succeed again.
    void heal();
    static bool lostSupported(const QSqlDatabase& c);

private:
    QSqlDatabase m_c;      // the station's connection (file: temporary triggers live on it)
    QString m_adminName;   // server: a connection of our own, alive when the station's is lost
    QStringList m_tables;
    bool m_server = false;
    bool m_healed = false;
};
