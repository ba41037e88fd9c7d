#pragma once
// Communication parameters: serial port number, port mode, IP port, the panel
// addresses allowed to connect over IP and the address the socket binds,
// stored in the settings row and applied at once. Beside the number, the
// serial devices of the system: picking one makes the number name it (a
// "COMn" link in the program directory). Also whether uploads are read back
// to prove them, whether this station runs the job queue, and the days
// after which the jobs' health view lists a subscriber without a download.

#include "session/station_context.h"

#include <QWidget>

class PanelLink;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolBar;

class w_parametros : public QWidget {
    Q_OBJECT
    StationContext& m_ctx;
    PanelLink& m_link; // new port settings wait until it leaves the port

public:
    w_parametros(StationContext& ctx, PanelLink& link, QWidget* parent = nullptr);

    bool saveData();
    // Shows the device the typed number names, when it is in the list.
    void showDevice();
    // Makes the number name the device picked; false (message shown) when the
    // link cannot be made.
    bool linkDevice(int port);

    QFrame* frm_configuracion;
    QLabel* st_modem_port_t;
    QLabel* st_modem_speed_t;
    QLabel* st_IP_port_t;
    QLabel* st_IP_permitidas_t;
    QLabel* st_IP_escucha_t;
    QComboBox* cbx_modem_port;
    QComboBox* cbx_modem_device;
    QComboBox* cbx_modem_speed;
    QLineEdit* sle_IP_port;
    QLineEdit* sle_IP_permitidas; // addresses or networks (CIDR); empty: any panel
    QLineEdit* sle_IP_escucha;    // address to bind; empty: every interface
    QCheckBox* chk_verificar;     // uploads are read back from the panel
    QCheckBox* chk_tareas;        // this station runs the job queue
    QLabel* st_dias_atencion_t;
    QSpinBox* spn_dias_atencion;  // the jobs' health view: days without a download
    QToolBar* tb_configuracion;
    QAction* cb_aceptar;
    QAction* cb_cancelar;

private:
    // Fills the boxes from the settings row; without it nothing can be saved.
    void showSettings();
    // The system's serial devices, with the number each is linked as.
    void listDevices();
    void aceptar();
    void closeWindow();
};
