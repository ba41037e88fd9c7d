#include "data/report_store.h"

#include "data/db.h"

#include <QHash>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>

namespace report_store {

namespace {

// Sections of a panel model, in order, with the values of one subscriber or
// template attached (values whose item has no name in the catalogue are left
// out, as an inner join does).
QList<SectionRow> sectionsWithValues(const QSqlDatabase& c, int id_panel, const QString& valuesSql,
                                     const QVariantList& valuesArgs, const Viewer& viewer)
{
    const QSet<int> secret = permissions::secretSections(c, id_panel);
    QList<SectionRow> sections;
    QHash<int, qsizetype> index;
    {
        QSqlQuery q = db::exec(c,
                               QStringLiteral("SELECT id_seccion, descripcion FROM secciones WHERE id_panel = ? "
                                              "ORDER BY id_seccion"),
                               {id_panel});
        while (db::next(q)) {
            SectionRow s;
            s.id_seccion = q.value(0).toInt();
            s.descripcion = q.value(1).toString();
            index.insert(s.id_seccion, sections.size());
            sections.append(s);
        }
    }
    QSqlQuery q = db::exec(c, valuesSql, valuesArgs);
    while (db::next(q)) {
        const auto at = index.constFind(q.value(0).toInt());
        if (at == index.constEnd())
            continue;
        ItemRow item;
        item.id_item = q.value(1).toInt();
        item.descripcion = q.value(2).toString();
        item.valor = permissions::shown(viewer.rights, secret.contains(q.value(0).toInt()), q.value(3).toString());
        item.estado = q.value(4).toString();
        sections[*at].items.append(item);
    }
    return sections;
}

// The report's parent rows: model and template names, and the subscriber's
// line when the query gives it.
QList<ProgrammingData> parentRows(const QSqlDatabase& c, const QString& sql, const QVariantList& values)
{
    QList<ProgrammingData> parents;
    QSqlQuery q = db::exec(c, sql, values);
    const bool subscriber = q.record().indexOf(QStringLiteral("id_abonado")) >= 0;
    while (db::next(q)) {
        ProgrammingData d;
        d.panel = db::text(q, "panel");
        d.configuracion = db::text(q, "configuracion");
        if (subscriber) {
            d.id_abonado = db::integer(q, "id_abonado");
            d.codigo = db::text(q, "codigo");
            d.nombre = db::text(q, "nombre");
            d.tel_1 = db::text(q, "tel_1");
        }
        parents.append(d);
    }
    return parents;
}

} // namespace

QList<ProgrammingData> panel(const QSqlDatabase& c, int id_abonado, int id_panel, int id_configuracion,
                             const Viewer& viewer)
{
    QList<ProgrammingData> parents = parentRows(
        c,
        QStringLiteral("SELECT p.codigo || ' ' || p.version AS panel, c.descripcion AS configuracion, "
                       "a.id_abonado, a.codigo, a.apellido || ' ' || a.nombre AS nombre, a.tel_1 "
                       "FROM abonados a, paneles p, configuraciones c "
                       "WHERE a.id_panel = p.id_panel AND a.id_configuracion = c.id_configuracion "
                       "AND a.id_abonado = ? AND p.id_panel = ? AND c.id_configuracion = ? AND ") +
            permissions::groupCondition(QStringLiteral("a")),
        QVariantList{id_abonado, id_panel, id_configuracion} + permissions::groupBinds(viewer.id_usuario));
    for (ProgrammingData& d : parents)
        d.sections = sectionsWithValues(
            c, id_panel,
            QStringLiteral("SELECT av.id_seccion, av.id_item, si.descripcion, av.valor, "
                           "CASE av.id_estado WHEN 1 THEN 'Subir' WHEN -1 THEN 'Bajar' ELSE '' END AS estado "
                           "FROM abonados_valores av JOIN secciones_items si "
                           "ON si.id_panel = ? AND si.id_seccion = av.id_seccion AND si.id_item = av.id_item "
                           "WHERE av.id_abonado = ? ORDER BY av.id_seccion, av.id_item"),
            {id_panel, d.id_abonado}, viewer);
    return parents;
}

QList<ProgrammingData> configuracion(const QSqlDatabase& c, int id_panel, int id_configuracion, const Viewer& viewer)
{
    QList<ProgrammingData> parents =
        parentRows(c,
                   QStringLiteral("SELECT p.codigo || ' ' || p.version AS panel, c.descripcion AS "
                                  "configuracion FROM paneles p, configuraciones c "
                                  "WHERE p.id_panel = ? AND c.id_configuracion = ?"),
                   {id_panel, id_configuracion});
    for (ProgrammingData& d : parents)
        d.sections = sectionsWithValues(
            c, id_panel,
            QStringLiteral("SELECT cv.id_seccion, cv.id_item, si.descripcion, cv.valor, "
                           "CASE cv.id_estado WHEN 1 THEN 'Subir' WHEN -1 THEN 'Bajar' ELSE '' END AS estado "
                           "FROM configuraciones_valores cv JOIN secciones_items si "
                           "ON si.id_panel = cv.id_panel AND si.id_seccion = cv.id_seccion "
                           "AND si.id_item = cv.id_item "
                           "WHERE cv.id_panel = ? AND cv.id_configuracion = ? ORDER BY cv.id_seccion, cv.id_item"),
            {id_panel, id_configuracion}, viewer);
    return parents;
}

QList<SubscriberRow> abonados(const QSqlDatabase& c, const Viewer& viewer)
{
    QList<SubscriberRow> rows;
    // Inner join: a subscriber whose province is not in the table is not listed.
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT a.id_abonado, a.codigo, a.apellido, a.nombre, a.calle, a.numero as anumero, "
                                             "a.localidad, p.descripcion, a.tel_1 FROM abonados a, provincias p "
                                             "WHERE a.id_provincia = p.id_provincia AND ") +
                                  permissions::groupCondition(QStringLiteral("a")) + QStringLiteral(" ORDER BY a.id_abonado"),
                           permissions::groupBinds(viewer.id_usuario));
    while (db::next(q)) {
        SubscriberRow r;
        r.id_abonado = db::integer(q, "id_abonado");
        r.codigo = db::text(q, "codigo");
        r.apellido = db::text(q, "apellido");
        r.nombre = db::text(q, "nombre");
        r.calle = db::text(q, "calle");
        r.anumero = db::text(q, "anumero");
        r.localidad = db::text(q, "localidad");
        r.descripcion = db::text(q, "descripcion");
        r.tel_1 = db::text(q, "tel_1");
        rows.append(r);
    }
    return rows;
}

} // namespace report_store
