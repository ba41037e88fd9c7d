#pragma once
// Communication parameters: serial port number, port mode, IP port, the panel
// addresses allowed to connect over IP and the address the socket binds,
// stored in the settings row and applied at once.

#include <QWidget>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QToolBar;

class w_parametros : public QWidget {
    Q_OBJECT
public:
    explicit w_parametros(QWidget* parent = nullptr);

    bool wf_guardadatos();

    QFrame* frm_configuracion;
    QLabel* st_modem_port_t;
    QLabel* st_modem_speed_t;
    QLabel* st_IP_port_t;
    QLabel* st_IP_permitidas_t;
    QLabel* st_IP_escucha_t;
    QComboBox* cbx_modem_port;
    QComboBox* cbx_modem_speed;
    QLineEdit* sle_IP_port;
    QLineEdit* sle_IP_permitidas; // addresses or networks (CIDR); empty: any panel
    QLineEdit* sle_IP_escucha;    // address to bind; empty: every interface
    QToolBar* tb_configuracion;
    QAction* cb_aceptar;
    QAction* cb_cancelar;

private:
    void aceptar();
    void closeWindow();
};
