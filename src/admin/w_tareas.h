#pragma once
// The jobs window ("Tareas"): "Programadas" (the jobs and their editor),
// "Resultados" (one row per try) and "Atención" (the health view). What an
// operator sees follows the right "Tareas": with it all three tabs, without
// it the results only. The window only reads and edits the queue: the
// runner works elsewhere and never opens a box here.

#include "session/station_context.h"

#include <QWidget>

class QTabWidget;
class w_tareas_atencion;
class w_tareas_programadas;
class w_tareas_resultados;

class w_tareas : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_tareas(StationContext& ctx, QWidget* parent = nullptr);

    QTabWidget* tab_tareas;
    // Null when the operator's level does not show the tab.
    w_tareas_programadas* programadas = nullptr;
    w_tareas_resultados* resultados = nullptr;
    w_tareas_atencion* atencion = nullptr;
};
