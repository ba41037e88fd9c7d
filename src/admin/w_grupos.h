#pragma once
// Groups of subscribers: code and description. A group with subscribers is
// not deleted (the count is said); the operators limited to a deleted group
// see none of its subscribers.

#include "session/station_context.h"

#include <QDialog>

class QAction;
class QLabel;
class QLineEdit;
class QTableWidget;
class QToolBar;

class w_grupos : public QDialog {
    Q_OBJECT
public:
    explicit w_grupos(StationContext& ctx, QWidget* parent = nullptr);

    QToolBar* tb_grupos;
    QAction* cb_alta;
    QAction* cb_baja;
    QAction* cb_aceptar;
    QAction* cb_cancelar;
    QTableWidget* dg_grupos;
    QLabel* st_codigo_t;
    QLineEdit* sle_codigo;
    QLabel* st_descripcion_t;
    QLineEdit* sle_descripcion;

    void fill(int select = 0);
    bool save();
    void remove();

private:
    void showSelected();
    int selectedGroup() const;
    StationContext& m_ctx;
};
