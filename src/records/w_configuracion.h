#pragma once
// Configuration templates: one template of one panel model as the list of
// the model's sections with their transfer marks. Sections are edited in the
// section value editor; templates are copied, renamed (w_configuracion_abm)
// and deleted here. Template 1, the catalogue's, is only viewed, copied and
// printed.

#include "data/value_store.h"
#include "session/station_context.h"

#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QTableWidget;
class QToolBar;

class w_configuracion : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_configuracion(StationContext& ctx, QWidget* parent = nullptr);

    // Grid columns.
    enum { ColMarca = 0, ColSeccion = 1, ColDescripcion = 2, ColEstado = 3 };

    void showPanel(int panel);
    void showTemplate(int configuracion);
    void showSections();
    void editSection();
    void deleteTemplate();

    // Toolbar dispatch on the button's key.
    void dispatch(const QString& key);

    int m_panel = 0;          // model on display; 0 when none
    int m_template = 0;  // template on display; 0 when none

    QToolBar* tb_configuracion;
    QAction* cb_panel;
    QAction* cb_configuracion;
    QAction* cb_copiar;
    QAction* cb_baja;
    QAction* cb_modificar;
    QAction* cb_desmarcar;
    QAction* cb_subir;
    QAction* cb_bajar;
    QAction* cb_imprimir;
    QAction* cb_historial;
    QLabel* st_panel_t;
    QLabel* st_panel;
    QLabel* st_configuracion_t;
    QLabel* st_configuracion;
    QLabel* img_cbconfiguracion;
    QLabel* st_filtroseccion_t;
    QLineEdit* sle_filtroseccion;
    QTableWidget* fg_secciones;

    // The window has one size, set once its contents are laid out; its frame
    // in the main window is made to it.
    QSize sizeHint() const override
    {
        return minimumSize().isEmpty() ? QWidget::sizeHint() : minimumSize();
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    QAction* boton(const QString& key, const QString& caption, const QString& tip);
    void ciclarMarca(int row);
    void marcarTodo(const QString& pregunta, int marca);
    void editarDescripcion();
    // The template's marks, as the value store names them.
    values::Owner marksOwner() const;
    // One section's mark, or every section's when `seccion` < 0.
    void setMarks(int marca, int seccion);
};
