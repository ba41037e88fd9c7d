#include "data/template_store.h"

#include "data/db.h"
#include "data/history_store.h"
#include "data/shared_ops.h"

#include <QList>

namespace templates {

std::optional<QString> name(const QSqlDatabase& c, int configuracion)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT descripcion FROM configuraciones WHERE id_configuracion = ?"),
                           {configuracion});
    if (!db::next(q))
        return std::nullopt;
    return db::text(q, "descripcion");
}

int onlyTemplateOf(const QSqlDatabase& c, int panel)
{
    QSqlQuery q = db::exec(
        c, QStringLiteral("SELECT DISTINCT id_configuracion FROM configuraciones_valores WHERE id_panel = ? LIMIT 2"),
        {panel});
    QList<int> ids;
    while (db::next(q))
        ids << q.value(0).toInt();
    return ids.size() == 1 ? ids.first() : 0;
}

int copy(const QSqlDatabase& c, int source, const QString& name, int usuario)
{
    return db::withNewKey(c, [&] {
        const int id = nextKey(c, QStringLiteral("configuraciones"), QStringLiteral("id_configuracion"), 1);
        db::exec(c, QStringLiteral("INSERT INTO configuraciones (id_configuracion, descripcion) VALUES (?, ?)"), {id, name});
        // Every model's values and marks of the source.
        db::exec(c,
                 QStringLiteral("INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, "
                                "id_item, valor, id_estado) SELECT ?, id_panel, id_seccion, id_item, valor, "
                                "id_estado FROM configuraciones_valores WHERE id_configuracion = ?"),
                 {id, source});
        // Every starting value is kept, named by where it came from: the
        // source may change or go later, and a copy's history is read alone.
        history::recordTemplateCreated(c, history::Stamp{history::origin::copiedFrom(source), usuario}, id);
        return id;
    });
}

void rename(const QSqlDatabase& c, int configuracion, const QString& name)
{
    db::Transaction t(c);
    QSqlQuery q = db::exec(c, QStringLiteral("UPDATE configuraciones SET descripcion = ? WHERE id_configuracion = ?"),
                           {name, configuracion});
    if (q.numRowsAffected() != 1)
        throw db::Error(QStringLiteral("La configuración %1 no existe").arg(configuracion));
    t.commit();
}

void remove(const QSqlDatabase& c, int configuracion)
{
    db::Transaction t(c);
    // The schema removes the values with the template, and refuses while a
    // subscriber uses it.
    db::exec(c, QStringLiteral("DELETE FROM configuraciones WHERE id_configuracion = ?"), {configuracion});
    history::markDeleted(c, values::Owner::templ(configuracion, 0));
    t.commit();
}

} // namespace templates
