#pragma once
// Asked at the first login with the factory password: the new password,
// typed twice, before the station may be used.

#include <QDialog>

class QLabel;
class QLineEdit;
class QToolBar;
class QAction;

class w_cambio_password : public QDialog {
    Q_OBJECT
public:
    explicit w_cambio_password(QWidget* parent = nullptr);
    QString password() const;

    // Empty when the two boxes hold a password the station takes; else why not.
    static QString problem(const QString& first, const QString& second);

    QLabel* st_aviso;
    QLabel* st_nueva_t;
    QLabel* st_repetida_t;
    QLineEdit* sle_nueva;
    QLineEdit* sle_repetida;
    QLabel* st_error;
    QToolBar* tb_cambio;
    QAction* cb_aceptar;
    QAction* cb_cancelar;

private:
    void aceptar();
};
