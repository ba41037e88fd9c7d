#include "data/value_store.h"

#include "data/db.h"
#include "data/history_store.h"

namespace values {

namespace {

// Table and key column of the owner's values; names from the code only.
QString table(const Owner& o)
{
    return o.isSubscriber ? QStringLiteral("abonados_valores") : QStringLiteral("configuraciones_valores");
}

// The WHERE clause that picks the owner's rows, and its values.
QString ownerWhere(const Owner& o)
{
    return o.isSubscriber ? QStringLiteral("id_abonado = ?") : QStringLiteral("id_panel = ? AND id_configuracion = ?");
}

QVariantList ownerKey(const Owner& o)
{
    return o.isSubscriber ? QVariantList{o.id} : QVariantList{o.panel, o.id};
}

} // namespace

QList<SectionMark> sectionMarks(const QSqlDatabase& c, const Owner& o)
{
    const QString sql =
        QStringLiteral("SELECT s.id_seccion, s.descripcion, "
                       "COALESCE((SELECT max(v.id_estado) FROM %1 v WHERE %2 AND v.id_seccion = s.id_seccion), 0) "
                       "AS estado FROM secciones s WHERE s.id_panel = ? ORDER BY s.id_seccion")
            .arg(table(o), o.isSubscriber ? QStringLiteral("v.id_abonado = ?")
                                          : QStringLiteral("v.id_configuracion = ? AND v.id_panel = s.id_panel"));
    QSqlQuery q = db::exec(c, sql, {o.id, o.panel});
    QList<SectionMark> rows;
    while (db::next(q))
        rows << SectionMark{db::integer(q, "id_seccion"), db::text(q, "descripcion"), db::integer(q, "estado")};
    return rows;
}

void writeMarks(const QSqlDatabase& c, const Owner& o, int marca, int seccion)
{
    QString sql = QStringLiteral("UPDATE %1 SET id_estado = ? WHERE %2").arg(table(o), ownerWhere(o));
    QVariantList v = QVariantList{marca} + ownerKey(o);
    if (seccion >= 0) {
        sql += QStringLiteral(" AND id_seccion = ?");
        v << seccion;
    }
    db::exec(c, sql, v);
}

void setMarks(const QSqlDatabase& c, const Owner& o, int marca, int seccion)
{
    db::Transaction t(c);
    writeMarks(c, o, marca, seccion);
    t.commit();
}

void presetMarks(const QSqlDatabase& c, int abonado, int panel, int configuracion)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = 0 WHERE id_abonado = ?"), {abonado});
    // Bajar last: it wins in a template section that holds both marks.
    for (int marca : {1, -1})
        db::exec(c,
                 QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = ? AND id_seccion IN "
                                "(SELECT id_seccion FROM configuraciones_valores WHERE id_panel = ? "
                                "AND id_configuracion = ? AND id_estado = ?)"),
                 {marca, abonado, panel, configuracion, marca});
    t.commit();
}

void invertMarks(const QSqlDatabase& c, int abonado)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = id_estado * -1 WHERE id_abonado = ?"),
             {abonado});
    t.commit();
}

std::optional<QString> itemValue(const QSqlDatabase& c, const Owner& o, int seccion, int item)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT valor FROM %1 WHERE %2 AND id_seccion = ? AND id_item = ?")
                                  .arg(table(o), ownerWhere(o)),
                           ownerKey(o) + QVariantList{seccion, item});
    if (!db::next(q))
        return std::nullopt;
    return db::text(q, "valor");
}

bool writeItemValue(const QSqlDatabase& c, const Owner& o, int seccion, int item, const QString& valor,
                    const history::Stamp& stamp)
{
    const std::optional<QString> before = itemValue(c, o, seccion, item);
    if (!before)
        return false;
    if (*before == valor)
        return true; // unchanged: no statement, no history row
    db::exec(c, QStringLiteral("UPDATE %1 SET valor = ? WHERE %2 AND id_seccion = ? AND id_item = ?")
                    .arg(table(o), ownerWhere(o)),
             QVariantList{valor} + ownerKey(o) + QVariantList{seccion, item});
    history::Batch h(c, stamp);
    h.add(o, seccion, item, before, valor);
    h.write();
    return true;
}

std::optional<locks::Holder> saveSection(const QSqlDatabase& c, const Owner& o, int seccion,
                                         const QList<std::pair<int, QString>>& values, int marca,
                                         const history::Stamp& stamp)
{
    db::Transaction t(c);
    if (o.isSubscriber)
        if (std::optional<locks::Holder> h = locks::heldByOtherUntilCommit(c, o.id))
            return h;
    for (const auto& [item, valor] : values)
        if (!writeItemValue(c, o, seccion, item, valor, stamp))
            throw db::Error(QStringLiteral("No existe el valor del item %1").arg(item));
    if (marca > 0)
        writeMarks(c, o, marca, seccion);
    t.commit();
    return std::nullopt;
}

bool takeFromPanel(const QSqlDatabase& c, int abonado, int panel, int seccion, int item, const QString& valor,
                   int usuario)
{
    return writeItemValue(c, Owner::subscriber(abonado, panel), seccion, item, valor,
                          history::Stamp{history::origin::panel(), usuario});
}

} // namespace values
