#pragma once
// The station's settings row (`configuracion`, id 1): communication port and
// mode, IP port, allowed panels and listening address, and whether uploads
// are read back. On a shared server each station has its own port settings
// (`configuracion_estaciones`, by station name), starting from the row's
// until it saves them; the read-back choice stays shared. Throws db::Error.

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <optional>

namespace settings {

struct Row {
    // As stored: null when never set, so that a reader can tell a missing
    // value from a zero.
    QVariant modem_port, modem_mode, ip_port;
    QString ip_permitidas, ip_escucha; // empty when null
    bool verificar_subidas = true;     // uploads are read back from the panel
    // "Ejecutar las tareas en esta estación": this station runs the job
    // queue (off unless chosen; on a server each station's own choice).
    bool tareas_estacion = false;
    // The health view's days without an event download.
    int dias_atencion = 7;
};

// The row, or nothing when it is missing.
std::optional<Row> read(const QSqlDatabase& c);

// Stores the communication parameters in one transaction; empty texts are
// stored as null. A missing row is a failure, not a success.
void writeCommunication(const QSqlDatabase& c, int modem_port, const QString& modem_mode, int ip_port,
                        const QString& ip_permitidas, const QString& ip_escucha, bool verificar_subidas);

// Stores whether this station runs the job queue (on a server, this
// station's own choice) and the health view's days, in one transaction.
void writeJobs(const QSqlDatabase& c, bool tareas_estacion, int dias_atencion);

} // namespace settings
