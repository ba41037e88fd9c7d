#pragma once
// The station's pictures, drawn in code and looked up by their keys
// ("modem_si", "amarillo", "cb_abonados" ...; the transfer marks "subir" and
// "bajar"; "modificar" for editable texts).

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace ui {

QPixmap picture(const QString& key, int size = 16);
QIcon icon(const QString& key);

} // namespace ui
