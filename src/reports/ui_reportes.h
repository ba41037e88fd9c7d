#pragma once
// Printing from the windows: each call closes the report's command if it is
// open, opens it with the caller's parameters, regenerates the report and
// shows it in its own window, not modal. The same report printed again reuses
// its window. On a database failure an error is shown and nullptr returned.

#include "data/oplog_store.h"

#include <QList>
#include <QStringList>

class w_reporte;
struct StationContext;

namespace reports {

// Panel console (`cb_imprimir`): the programming of one subscriber.
w_reporte* showPanelReport(StationContext& ctx, int id_abonado, int id_panel, int id_configuracion);
// Templates window (`cb_imprimir`): the values of one template of a panel model.
w_reporte* showTemplateReport(StationContext& ctx, int id_panel, int id_configuracion);
// Subscriber record (`cb_imprimir`): the list of subscribers.
w_reporte* showSubscriberReport(StationContext& ctx);
// Log viewer (`cb_imprimir`): the log rows of its days and operator; no
// filter prints the whole log.
w_reporte* showLogReport(StationContext& ctx, const oplog::Filter& filter = {});
// Comparison window (`cb_imprimir`): "Diferencias con el panel", the rows as
// dr_diferencias takes them.
w_reporte* showComparisonReport(StationContext& ctx, const QString& subscriber, const QList<QStringList>& rows);
// History window (`cb_imprimir`): the rows it lists, as it shows them.
w_reporte* showHistoryReport(StationContext& ctx, const QString& subtitle, const QList<QStringList>& rows);
// Jobs window: "Resultado de tareas" and the health view, the rows as it
// lists them.
w_reporte* showJobResultsReport(StationContext& ctx, const QString& subtitle, const QList<QStringList>& rows);
w_reporte* showAttentionReport(StationContext& ctx, const QString& subtitle, const QList<QStringList>& rows);

} // namespace reports
