#pragma once
// The four printed reports laid out from their commands' results.

#include "reports/de_reportes.h"
#include "reports/layout.h"

#include <QStringList>

namespace reports {

// Column positions, in twips from the left margin.
namespace col {
// Panel and template reports.
constexpr qreal Label = 0, Value = 1701, Name = 2268, RightLabel = 4819, RightValue = 6236;
constexpr qreal Item = 567, Descripcion = 2268, Valor = 6236, Estado = 7937;
// Subscriber list.
constexpr qreal Abonados[8] = {0, 1134, 2268, 3969, 5102, 6236, 7937, 9071};
// Log.
constexpr qreal Fecha = 567, Usuario = 2268, Operacion = 4535, Parametro = 6236;
// Comparison with the panel.
constexpr qreal Diferencias[5] = {0, 850, 3969, 6520, 9071};
// Value history.
constexpr qreal Historial[7] = {0, 1587, 3515, 5102, 6350, 7597, 8617};
// Job results and the health view.
constexpr qreal Tareas[8] = {0, 1650, 3150, 5250, 6550, 8450, 9150, 9850};
constexpr qreal Atencion[5] = {0, 1200, 4500, 6500, 8400};
} // namespace col

Document dr_panel(const QList<ProgrammingData>& data, const PageSetup& setup, const QDate& printed);
Document dr_configuracion(const QList<ProgrammingData>& data, const PageSetup& setup, const QDate& printed);
Document dr_abonados(const QList<SubscriberRow>& rows, const PageSetup& setup, const QDate& printed);
Document dr_log(const QList<LogRow>& rows, const PageSetup& setup, const QDate& printed);
// Rows: section, description, stored value, panel value, "Sí"/"No".
Document dr_diferencias(const QString& subscriber, const QList<QStringList>& rows, const PageSetup& setup,
                        const QDate& printed);
// The value history as the history window lists it: one row of texts per
// change in the columns of historialTitles(), under a line saying whose
// history and which days.
Document dr_historial(const QString& subtitle, const QList<QStringList>& rows, const PageSetup& setup,
                      const QDate& printed);
QStringList historialTitles();
// "Resultado de tareas": one row of texts per try in the columns of
// tareasTitles(), under a line saying which results.
Document dr_tareas(const QString& subtitle, const QList<QStringList>& rows, const PageSetup& setup, const QDate& printed);
QStringList tareasTitles();
// "Abonados que requieren atención": rows in the columns of atencionTitles().
Document dr_atencion(const QString& subtitle, const QList<QStringList>& rows, const PageSetup& setup,
                     const QDate& printed);
QStringList atencionTitles();

} // namespace reports
