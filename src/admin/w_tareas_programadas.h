#pragma once
// The "Programadas" tab of the jobs window: the list of jobs and the editor
// of one: its name, actions, how the panel is reached, its subscribers (a
// list picked with the search list, or a filter read when the job runs),
// its schedule and window of hours, and its retries. A job that cannot run
// is refused with the reason and stays in the editor as typed. An operator
// limited to groups of subscribers sees only the jobs that stay within them.

#include "data/job_store.h"
#include "session/station_context.h"

#include <QWidget>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;
class QToolBar;

class w_tareas_programadas : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_tareas_programadas(StationContext& ctx, QWidget* parent = nullptr);

    // Reads the jobs again, keeping the one shown when it is still there.
    void refresh();
    // A new job on these subscribers, in the editor, not yet saved.
    void newJobFor(const QList<qint32>& subscribers, const QString& name);
    // The job the editor holds, as typed.
    jobs::Job editedJob() const;
    void showJob(const jobs::Job& job);
    // Saves the edited job; false (and the reason shown) when refused or failed.
    bool save();
    void remove();
    // A pick of the search list joins the job's subscribers.
    void addSubscriber(qint32 id);

    QToolBar* tb_programadas;
    QAction* cb_alta;
    QAction* cb_guardar;
    QAction* cb_baja;
    QListWidget* dg_tareas;
    QLineEdit* sle_nombre;
    QCheckBox* chk_accion[5];
    QComboBox* cbx_alcance;
    QRadioButton* rb_lista;
    QRadioButton* rb_filtro;
    QStackedWidget* stk_abonados;
    QListWidget* lst_abonados;
    QAction* cb_agregar;
    QAction* cb_quitar;
    QComboBox* cbx_filtro_panel;
    QComboBox* cbx_filtro_configuracion;
    QComboBox* cbx_filtro_grupo;
    QLineEdit* sle_codigo_desde;
    QLineEdit* sle_codigo_hasta;
    QCheckBox* chk_sin_descarga;
    QSpinBox* spn_sin_descarga;
    QComboBox* cbx_programa;
    QDateTimeEdit* dp_fecha;
    QSpinBox* spn_cada;
    QTimeEdit* tp_hora;
    QLineEdit* sle_ventana;
    QSpinBox* spn_seguidos;
    QSpinBox* spn_mas;
    QSpinBox* spn_espera;
    QLabel* st_proxima;

private:
    QWidget* buildEditor();
    void showSelected();
    void scheduleKindChanged();
    void fillFilterLists();

    QList<jobs::Job> m_jobs;
    qint64 m_id = 0; // the job in the editor; 0: new
    QList<qint32> m_subscribers;
};
