#pragma once
// The operations log viewer: prints the log for a range of days, of one
// operator or all, and purges it up to a chosen day. It shows no rows itself.

#include "session/station_context.h"

#include <QDate>
#include <QWidget>
#include <functional>

class QAction;
class QDateEdit;
class QLabel;
class QToolBar;
class QToolButton;
namespace oplog { struct Filter; }

class w_log : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_log(StationContext& ctx, QWidget* parent = nullptr);


    void showUser(int id);

    // Toolbar dispatch on the button's key.
    void dispatch(const QString& key);
    // Purges the log, then (its own question, level 1 only) the value
    // history, through the whole day `borrar`.
    void deleteUpTo(const QDate& borrar);

    int m_user = 0; // operator filter; 0 = all operators
    // An operator limited to groups of subscribers prints only its own lines:
    // the lines name subscribers in free text, which no group can filter.
    bool m_ownLinesOnly = false;

    QToolBar* tb_log;
    QAction* cb_usuario;
    QAction* cb_imprimir;
    QAction* cb_baja;
    QLabel* st_desde_t;
    QDateEdit* dp_desde;
    QLabel* st_hasta_t;
    QDateEdit* dp_hasta;
    QLabel* st_usuario_t;
    QLabel* st_usuario;
    QToolButton* img_todos;
    QLabel* Label1;
    QDateEdit* dp_borrar;

private:
    // Opens on the last month of every operator.
    void showDefaults();
    QAction* boton(const QString& key, const QString& picture, const QString& caption, const QString& tip);
    QDateEdit* datePicker(const char* name);
};
