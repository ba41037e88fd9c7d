#include "data/catalogue_store.h"

#include "data/db.h"

namespace catalogue {

QList<Entry> pickList(const QSqlDatabase& c, PickList list)
{
    QString sql;
    switch (list) {
    case PickList::Provinces:
        sql = QStringLiteral("SELECT id_provincia, descripcion FROM provincias ORDER BY descripcion COLLATE espanol");
        break;
    case PickList::ContactKinds:
        sql = QStringLiteral("SELECT id_contacto, descripcion FROM contactos ORDER BY descripcion COLLATE espanol");
        break;
    case PickList::Templates:
        sql = QStringLiteral("SELECT id_configuracion, descripcion FROM configuraciones ORDER BY descripcion COLLATE espanol");
        break;
    case PickList::PanelModels:
        sql = QStringLiteral("SELECT id_panel, codigo || ' ' || version AS texto FROM paneles ORDER BY (codigo || ' ' || version) COLLATE espanol");
        break;
    }
    QSqlQuery q = db::exec(c, sql);
    QList<Entry> entries;
    while (db::next(q))
        entries << Entry{q.value(0).toInt(), q.value(1).toString()};
    return entries;
}

int onlyPanel(const QSqlDatabase& c)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_panel FROM paneles LIMIT 2"));
    QList<int> ids;
    while (db::next(q))
        ids << q.value(0).toInt();
    return ids.size() == 1 ? ids.first() : 0;
}

std::optional<QString> panelCaption(const QSqlDatabase& c, int panel)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT codigo, version FROM paneles WHERE id_panel = ?"), {panel});
    if (!db::next(q))
        return std::nullopt;
    return db::text(q, "codigo") + QLatin1Char(' ') + db::text(q, "version");
}

std::optional<Section> section(const QSqlDatabase& c, int panel, int seccion)
{
    QSqlQuery q = db::exec(
        c, QStringLiteral("SELECT tipo, caracteres, descripcion, filler FROM secciones WHERE id_panel = ? AND id_seccion = ?"),
        {panel, seccion});
    if (!db::next(q))
        return std::nullopt;
    return Section{db::integer(q, "tipo"), db::integer(q, "caracteres"), db::text(q, "descripcion"),
                   db::text(q, "filler")};
}

QList<Item> templateItems(const QSqlDatabase& c, int configuracion, int panel, int seccion, int limit)
{
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT si.id_item, cv.valor, si.descripcion FROM secciones_items si "
                                          "JOIN configuraciones_valores cv ON cv.id_panel = si.id_panel "
                                          "AND cv.id_seccion = si.id_seccion AND cv.id_item = si.id_item "
                                          "WHERE cv.id_configuracion = ? AND si.id_panel = ? AND si.id_seccion = ? "
                                          "ORDER BY si.id_item LIMIT ?"),
                           {configuracion, panel, seccion, limit});
    QList<Item> items;
    while (db::next(q))
        items << Item{db::integer(q, "id_item"), db::text(q, "descripcion"), db::text(q, "valor")};
    return items;
}

QList<ListValue> valueList(const QSqlDatabase& c, int panel, int seccion)
{
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT id_valor, descripcion FROM secciones_valores "
                                          "WHERE id_panel = ? AND id_seccion = ? ORDER BY id_valor"),
                           {panel, seccion});
    QList<ListValue> values;
    while (db::next(q))
        values << ListValue{db::text(q, "id_valor"), db::text(q, "descripcion")};
    return values;
}

QHash<int, QList<ListValue>> valueLists(const QSqlDatabase& c, int panel)
{
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT id_seccion, id_valor, descripcion FROM secciones_valores "
                                          "WHERE id_panel = ? ORDER BY id_seccion, id_valor"),
                           {panel});
    QHash<int, QList<ListValue>> lists;
    while (db::next(q))
        lists[q.value(0).toInt()] << ListValue{db::text(q, "id_valor"), db::text(q, "descripcion")};
    return lists;
}

} // namespace catalogue
