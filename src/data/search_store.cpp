#include "data/search_store.h"

#include "data/db.h"
#include "data/permissions.h"

#include <QSqlRecord>

namespace searchlists {

namespace {

QString statement(List list)
{
    switch (list) {
    case List::Subscribers:
        return QStringLiteral("SELECT a.id_abonado, a.codigo, a.apellido, a.nombre, a.calle, a.numero, a.localidad "
                              "FROM abonados a WHERE ") +
               permissions::groupCondition(QStringLiteral("a")) + QStringLiteral(" ORDER BY a.id_abonado");
    case List::Users:
        return QStringLiteral("SELECT id_usuario, usuario FROM usuarios ORDER BY id_usuario");
    case List::Panels:
        return QStringLiteral("SELECT id_panel, codigo, version FROM paneles ORDER BY id_panel");
    case List::Templates:
        break;
    }
    return QStringLiteral("SELECT id_configuracion, descripcion FROM configuraciones ORDER BY id_configuracion");
}

} // namespace

Rows read(const QSqlDatabase& c, List list, int id_usuario)
{
    // A forward-only query read to its end: every row, however many.
    QSqlQuery q = db::exec(c, statement(list),
                           list == List::Subscribers ? permissions::groupBinds(id_usuario) : QVariantList{});
    Rows rows;
    rows.columns = q.record().count();
    while (db::next(q)) {
        rows.ids << q.value(0).toInt();
        for (int i = 0; i < rows.columns; ++i)
            rows.cells << q.value(i).toString();
    }
    return rows;
}

} // namespace searchlists
