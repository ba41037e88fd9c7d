#pragma once
// The "Resultados" tab of the jobs window: one row per try, newest first,
// filtered by job, days and outcome; read a page at a time, so that a long
// history opens at once. "Imprimir" gives the report "Resultado de tareas",
// "Exportar" a CSV file of the rows the filters select.

#include "session/station_context.h"

#include <QWidget>

class JobResultsModel;
class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QTableView;
class QToolBar;

class w_tareas_resultados : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;

public:
    // More rows than this are not printed: the filters narrow them first.
    static constexpr int MaxPrinted = 10000;

    explicit w_tareas_resultados(StationContext& ctx, QWidget* parent = nullptr);

    // Reads the results again under the filters shown.
    void refresh();
    // Reads the jobs of the filter again.
    void refreshJobs();
    void print();
    // Writes the rows the filters select to `file`; false (message shown)
    // when it cannot.
    bool exportTo(const QString& file);
    JobResultsModel* model() const { return m_model; }

    QToolBar* tb_resultados;
    QAction* cb_actualizar;
    QAction* cb_imprimir;
    QAction* cb_exportar;
    QComboBox* cbx_tarea;
    QCheckBox* chk_desde;
    QDateEdit* dp_desde;
    QCheckBox* chk_hasta;
    QDateEdit* dp_hasta;
    QComboBox* cbx_resultado;
    QTableView* dg_resultados;
    QLabel* st_total;

private:
    QString filterText() const;
    void exportAsked();

    JobResultsModel* m_model;
};
