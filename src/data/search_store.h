#pragma once
// The lists the search window picks from: every row of one table by number,
// read whole so that the window filters and orders them as Spanish text.

#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace searchlists {

enum class List {
    Subscribers, // id_abonado, codigo, apellido, nombre, calle, numero, localidad
    Users,       // id_usuario, usuario
    Panels,      // id_panel, codigo, version
    Templates,   // id_configuracion, descripcion
};

struct Rows {
    int columns = 0;     // as listed above; column 0 is the number handed back
    QList<int> ids;      // column 0 of each row
    QList<QString> cells; // row after row; a null reads as the empty text
};
// Every row by number; subscribers only of the groups operator `id_usuario`
// works on (0, or an operator without groups: all). Throws db::Error.
Rows read(const QSqlDatabase& c, List list, int id_usuario = 0);

} // namespace searchlists
