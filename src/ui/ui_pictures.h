#pragma once
// The station's pictures, looked up by their keys: toolbar and button icons
// ("cb_abonados", "cb_aceptar" ..., the application's "sorvent") from the SVG
// set in icons/; the pictures that show state (lamps "verde", "amarillo" ...,
// "modem_si", the transfer marks "subir" and "bajar", "modificar" for editable
// texts) drawn in code.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace ui {

QPixmap picture(const QString& key, int size = 16);
QIcon icon(const QString& key);

} // namespace ui
