#include "data/shared_ops.h"

#include "data/db.h"
#include "data/history_store.h"

bool copyValues(const QSqlDatabase& c, int id_abonado, int id_panel, int id_seccion, int id_configuracion,
                    int id_usuario)
{
    history::recordSeeding(c, history::Stamp{history::origin::plantilla(), id_usuario}, id_abonado, id_panel,
                           id_seccion, id_configuracion);
    const bool all = id_seccion == 999;
    if (all)
        db::exec(c, QStringLiteral("DELETE FROM abonados_valores WHERE id_abonado = ?"), {id_abonado});
    else
        db::exec(c, QStringLiteral("DELETE FROM abonados_valores WHERE id_abonado = ? AND id_seccion = ?"),
                 {id_abonado, id_seccion});
    QString insert = QStringLiteral(
        "INSERT INTO abonados_valores (id_abonado, id_seccion, id_item, valor, id_estado) "
        "SELECT ?, id_seccion, id_item, valor, id_estado FROM configuraciones_valores "
        "WHERE id_panel = ? AND id_configuracion = ?");
    QVariantList values{id_abonado, id_panel, id_configuracion};
    if (!all) {
        insert += QStringLiteral(" AND id_seccion = ?");
        values << id_seccion;
    }
    db::exec(c, insert, values);
    return true;
}

int nextKey(const QSqlDatabase& c, const QString& table, const QString& column, int firstKey)
{
    // Table and column names come from the code, never from input.
    db::lockNewKeys(c, table);
    const QVariant v = db::scalar(c, QStringLiteral("SELECT max(%1) + 1 FROM %2").arg(column, table));
    return v.isNull() ? firstKey : v.toInt();
}
