#pragma once
// Operator profiles: a name and rights by function. The three built-in
// profiles are the old levels and are shown, not changed; a profile an
// operator has is not deleted, and no change may leave nobody able to
// administer users.

#include "session/station_context.h"

#include <QDialog>
#include <QList>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QToolBar;

class w_perfiles : public QDialog {
    Q_OBJECT
public:
    explicit w_perfiles(StationContext& ctx, QWidget* parent = nullptr);

    QToolBar* tb_perfiles;
    QAction* cb_alta;
    QAction* cb_baja;
    QAction* cb_aceptar;
    QAction* cb_cancelar;
    QListWidget* lst_perfiles;
    QLabel* st_nombre_t;
    QLineEdit* sle_nombre;
    QList<QCheckBox*> chk_derecho; // one per right, in the rights' order

    void fill(int select = 0);
    bool save();
    void remove();

private:
    void showSelected();
    int selectedProfile() const;
    StationContext& m_ctx;
};
