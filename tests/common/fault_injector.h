#pragma once
// Makes a station's database fail its writes as a real fault would, without
// touching the schema the code under test reads: from the Nth row written on
// (every table counted, or only the tables named) each write fails with the
// engine's own error for the fault. Healed on destruction.
//
// Rows are counted whether their transaction commits or not. DiskFull and
// Constraint work on both engines and go on failing until heal() (a disk
// stays full until someone frees it). Lost ends the server
// session of the connection that writes the Nth row, once; a file has no
// connection to lose, so it is refused there (check lostSupported()).

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <utility>

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
    struct sqlite3* m_sqlite = nullptr;
    std::pair<int, int> m_writes; // file: rows written so far, the row that fails first
    QString m_adminName;   // server: a connection of our own, alive when the station's is lost
    QStringList m_tables;
    bool m_server = false;
    int m_id = 0;           // names its triggers, function and counter
    QByteArray m_function;  // file: the counting function's name
    bool m_healed = false;
};
