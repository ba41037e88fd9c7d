#include "admin/w_parametros.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_toolbar.h"
#include "data/db.h"
#include "data/messages.h"
#include "data/settings_store.h"
#include "link/serialport_qt.h"
#include "link/link_connection.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QMdiSubWindow>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// A whole number within [lo, hi], or -1.
int wholeNumber(const QString& text, int lo, int hi)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok && n >= lo && n <= hi ? n : -1;
}

} // namespace

w_parametros::w_parametros(StationContext& ctx, PanelLink& link, QWidget* parent) : QWidget(parent), m_ctx(ctx), m_link(link)
{
    setObjectName(QStringLiteral("w_parametros"));
    setWindowTitle(QStringLiteral("Parámetros del sistema"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    tb_configuracion = ui::keyedToolBar(this, QStringLiteral("tb_configuracion"));
    ui::okCancel(tb_configuracion, cb_aceptar, cb_cancelar);
    layout->addWidget(tb_configuracion);

    frm_configuracion = new QFrame(this);
    frm_configuracion->setObjectName(QStringLiteral("frm_configuracion"));
    frm_configuracion->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(frm_configuracion);
    st_modem_port_t = new QLabel(QStringLiteral("Puerto Com:"), frm_configuracion);
    st_modem_speed_t = new QLabel(QStringLiteral("Modo Puerto Com"), frm_configuracion);
    st_IP_port_t = new QLabel(QStringLiteral("Puerto IP:"), frm_configuracion);
    cbx_modem_port = new QComboBox(frm_configuracion);
    cbx_modem_port->setObjectName(QStringLiteral("cbx_modem_port"));
    cbx_modem_port->setEditable(true);
    cbx_modem_port->setInsertPolicy(QComboBox::NoInsert);
    cbx_modem_port->addItems({"1", "2", "3", "4", "5"});
    cbx_modem_device = new QComboBox(frm_configuracion);
    cbx_modem_device->setObjectName(QStringLiteral("cbx_modem_device"));
    cbx_modem_device->setToolTip(QStringLiteral("Dispositivo que el número nombra"));
    cbx_modem_device->setPlaceholderText(QStringLiteral("Elegir dispositivo"));
    cbx_modem_device->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbx_modem_device->setMinimumContentsLength(16);
    listDevices();
    cbx_modem_speed = new QComboBox(frm_configuracion);
    cbx_modem_speed->setObjectName(QStringLiteral("cbx_modem_speed"));
    cbx_modem_speed->setEditable(true);
    cbx_modem_speed->setInsertPolicy(QComboBox::NoInsert);
    cbx_modem_speed->addItems({"Modem", "Interface", "Sin Puerto Com"});
    sle_IP_port = new QLineEdit(frm_configuracion);
    sle_IP_port->setObjectName(QStringLiteral("sle_IP_port"));
    sle_IP_port->setMaxLength(5);
    st_IP_permitidas_t = new QLabel(QStringLiteral("Paneles permitidos:"), frm_configuracion);
    sle_IP_permitidas = new QLineEdit(frm_configuracion);
    sle_IP_permitidas->setObjectName(QStringLiteral("sle_IP_permitidas"));
    sle_IP_permitidas->setMaxLength(1000);
    sle_IP_permitidas->setPlaceholderText(QStringLiteral("cualquiera"));
    sle_IP_permitidas->setToolTip(QStringLiteral("Direcciones o redes de los paneles que pueden conectarse por IP, "
                                                 "separadas por comas (por ejemplo 10.0.0.0/8, 192.168.1.20). "
                                                 "Vacío: cualquiera."));
    st_IP_escucha_t = new QLabel(QStringLiteral("Dirección de escucha:"), frm_configuracion);
    sle_IP_escucha = new QLineEdit(frm_configuracion);
    sle_IP_escucha->setObjectName(QStringLiteral("sle_IP_escucha"));
    sle_IP_escucha->setMaxLength(45);
    sle_IP_escucha->setPlaceholderText(QStringLiteral("todas"));
    sle_IP_escucha->setToolTip(QStringLiteral("Dirección local en la que se esperan los paneles por IP. Vacío: todas."));
    grid->addWidget(st_modem_port_t, 0, 0);
    cbx_modem_port->setMinimumContentsLength(3); // room for a typed "12"
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(cbx_modem_port);
    portRow->addWidget(cbx_modem_device, 1);
    grid->addLayout(portRow, 0, 1);
    grid->addWidget(st_modem_speed_t, 1, 0);
    grid->addWidget(cbx_modem_speed, 1, 1);
    grid->addWidget(st_IP_port_t, 2, 0);
    grid->addWidget(sle_IP_port, 2, 1);
    grid->addWidget(st_IP_permitidas_t, 3, 0);
    grid->addWidget(sle_IP_permitidas, 3, 1);
    grid->addWidget(st_IP_escucha_t, 4, 0);
    grid->addWidget(sle_IP_escucha, 4, 1);
    chk_verificar = new QCheckBox(QStringLiteral("Verificar las subidas leyendo el panel"), frm_configuracion);
    chk_verificar->setObjectName(QStringLiteral("chk_verificar"));
    chk_verificar->setChecked(true);
    chk_verificar->setToolTip(QStringLiteral("Al terminar una subida se lee del panel todo lo escrito y se vuelve a "
                                             "marcar lo que no coincide."));
    grid->addWidget(chk_verificar, 5, 1);
    chk_tareas = new QCheckBox(QStringLiteral("Ejecutar las tareas en esta estación"), frm_configuracion);
    chk_tareas->setObjectName(QStringLiteral("chk_tareas"));
    chk_tareas->setToolTip(QStringLiteral("Esta estación llama a los paneles de las tareas programadas cuando la "
                                          "línea está libre."));
    grid->addWidget(chk_tareas, 6, 1);
    st_dias_atencion_t = new QLabel(QStringLiteral("Atención tras:"), frm_configuracion);
    spn_dias_atencion = new QSpinBox(frm_configuracion);
    spn_dias_atencion->setObjectName(QStringLiteral("spn_dias_atencion"));
    spn_dias_atencion->setRange(1, 365);
    spn_dias_atencion->setValue(7);
    spn_dias_atencion->setSuffix(QStringLiteral(" días sin descarga de eventos"));
    spn_dias_atencion->setToolTip(QStringLiteral("La lista «Atención» de las tareas muestra los abonados sin descarga "
                                                 "de eventos en estos días."));
    grid->addWidget(st_dias_atencion_t, 7, 0);
    grid->addWidget(spn_dias_atencion, 7, 1);
    layout->addWidget(frm_configuracion, 1);

    ui::sizeWindow(this, 4600, 3900);

    connect(cb_aceptar, &QAction::triggered, this, &w_parametros::aceptar);
    connect(cb_cancelar, &QAction::triggered, this, &w_parametros::closeWindow);
    connect(cbx_modem_port, &QComboBox::currentTextChanged, this, &w_parametros::showDevice);

    showSettings();
}

void w_parametros::listDevices()
{
    const QString dir = m_ctx.main.programDir();
    for (const SerialDevice& d : serialDevices(dir)) {
        QString text = d.path;
        if (!d.description.isEmpty())
            text += QStringLiteral(" - ") + d.description;
        if (d.linkedAs > 0)
            text += QStringLiteral(" (COM%1)").arg(d.linkedAs);
        cbx_modem_device->addItem(text, d.path);
    }
    cbx_modem_device->view()->setMinimumWidth(cbx_modem_device->view()->sizeHintForColumn(0) + 8);
}

void w_parametros::showSettings()
{
    bool found = false;
    try {
        if (const auto s = settings::read(m_ctx.main.db())) {
            found = true;
            cbx_modem_port->setCurrentText(s->modem_port.toString());
            cbx_modem_speed->setCurrentText(s->modem_mode.toString());
            sle_IP_port->setText(s->ip_port.toString());
            sle_IP_permitidas->setText(s->ip_permitidas);
            sle_IP_escucha->setText(s->ip_escucha);
            chk_verificar->setChecked(s->verificar_subidas);
            chk_tareas->setChecked(s->tareas_estacion);
            spn_dias_atencion->setValue(s->dias_atencion);
        }
    } catch (const db::Error&) {
        found = false;
    }
    if (!found) {
        m_ctx.main.showMessage(201);
        cb_aceptar->setEnabled(false);
    }
    showDevice();
}

void w_parametros::showDevice()
{
    const int port = wholeNumber(cbx_modem_port->currentText(), 1, 99);
    const QString named = port > 0 ? samePathOf(serialDeviceFor(port, m_ctx.main.programDir())) : QString();
    int shown = -1;
    for (int i = 0; i < cbx_modem_device->count() && shown < 0; ++i)
        if (!named.isEmpty() && samePathOf(cbx_modem_device->itemData(i).toString()) == named)
            shown = i;
    cbx_modem_device->setCurrentIndex(shown);
}

bool w_parametros::linkDevice(int port)
{
    const QString device = cbx_modem_device->currentData().toString();
    const QString dir = m_ctx.main.programDir();
    if (device.isEmpty() || samePathOf(device) == samePathOf(serialDeviceFor(port, dir)))
        return true;
    QString error;
    if (linkSerialDevice(port, device, dir, &error))
        return true;
    m_ctx.messages.showError(error);
    return false;
}

bool w_parametros::saveData()
{
    const int port = wholeNumber(cbx_modem_port->currentText(), 1, 99);
    const int ipPort = wholeNumber(sle_IP_port->text(), 1, 65535);
    // Rejected here with a clear message rather than stored and failing later.
    if (port < 0) {
        m_ctx.messages.showError(QStringLiteral("El puerto Com debe ser un número entero entre 1 y 99"));
        cbx_modem_port->setFocus();
        return false;
    }
    if (ipPort < 0) {
        m_ctx.messages.showError(QStringLiteral("El puerto IP debe ser un número entero entre 1 y 65535"));
        sle_IP_port->setFocus();
        return false;
    }
    const QString allowed = sle_IP_permitidas->text().trimmed();
    QString bad;
    if (!LinkConnection::parseAllowedPanels(allowed, nullptr, &bad)) {
        m_ctx.messages.showError(QStringLiteral("«%1» no es una dirección ni una red válida (por ejemplo 192.168.1.20 o 10.0.0.0/8)").arg(bad));
        sle_IP_permitidas->setFocus();
        return false;
    }
    const QString listen = sle_IP_escucha->text().trimmed();
    if (!listen.isEmpty() && QHostAddress(listen).isNull()) {
        m_ctx.messages.showError(QStringLiteral("«%1» no es una dirección IP válida").arg(listen));
        sle_IP_escucha->setFocus();
        return false;
    }
    try {
        settings::writeCommunication(m_ctx.main.db(), port, cbx_modem_speed->currentText(), ipPort, allowed,
                                     listen, chk_verificar->isChecked());
        settings::writeJobs(m_ctx.main.db(), chk_tareas->isChecked(), spn_dias_atencion->value());
    } catch (const db::Error&) {
        return false;
    }
    return true;
}

void w_parametros::aceptar()
{
    // The number names the picked device before the port opens on it.
    const int port = wholeNumber(cbx_modem_port->currentText(), 1, 99);
    if (port > 0 && !linkDevice(port))
        return;
    if (!saveData())
        return;
    if (m_ctx.jobSettingChanged)
        m_ctx.jobSettingChanged();
    mdl_main& m = m_ctx.main;
    const QString mode = cbx_modem_speed->currentText();
    if (MainFrame* w = m_ctx.frame)
        w->action(QStringLiteral("cb_teclado"))->setVisible(mdl_main::keypadAvailable(mode));
    m.rememberIpPort(sle_IP_port->text().trimmed().toInt());
    const int newPort = cbx_modem_port->currentText().trimmed().toInt();
    // Never reopened under a call or a wait: the link says when it is idle.
    if (m.portNeedsReopen(newPort, mode)) {
        if (m.applyPortSettings(m_link, newPort, mode))
            m_ctx.messages.show(QStringLiteral("Atención"),
                                QStringLiteral("Los cambios del puerto se aplicarán al terminar la comunicación"),
                                MessageService::Icon::Information);
    }
    closeWindow();
}

void w_parametros::closeWindow()
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}
