#pragma once
// The "Atención" tab of the jobs window: the subscribers whose last
// successful event download is older than the days set in "Parámetros",
// whose last job failed, or that were never contacted; sortable, printable,
// and "Crear tarea" makes a job of the rows shown.

#include "session/station_context.h"

#include <QList>
#include <QWidget>

class QAction;
class QLabel;
class QTableWidget;
class QToolBar;

class w_tareas_atencion : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_tareas_atencion(StationContext& ctx, QWidget* parent = nullptr);

    void refresh();
    void print();
    // The subscribers of the rows shown, in their order.
    QList<qint32> shownSubscribers() const;

    QToolBar* tb_atencion;
    QAction* cb_actualizar;
    QAction* cb_imprimir;
    QAction* cb_crear;
    QTableWidget* dg_atencion;
    QLabel* st_dias;

signals:
    // "Crear tarea": a job for these subscribers.
    void makeJob(const QList<qint32>& subscribers);

private:
    int m_days = 7;
};
