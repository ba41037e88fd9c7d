#include "data/history_store.h"

#include "data/db_file.h"
#include "data/oplog_store.h"

namespace history {

namespace {

const QString kColumns = QStringLiteral(
    "INSERT INTO valores_historial (id_historial, fecha, id_abonado, id_configuracion, id_panel, id_seccion, "
    "id_item, valor_anterior, valor_nuevo, origen, id_usuario) ");

// The highest number so far; new rows count on from it, read inside the
// transaction that inserts them.
// Called inside the change's transaction; on a server the lock keeps two
// stations from numbering history rows alike until it commits.
qint64 lastKey(const QSqlDatabase& c)
{
    db::lockNewKeys(c, QStringLiteral("valores_historial"));
    return db::scalar(c, QStringLiteral("SELECT COALESCE(max(id_historial), 0) FROM valores_historial")).toLongLong();
}

// How rows inserted by one statement are numbered after the highest so far,
// in `order`: a file numbers a row given no key so itself, in the order the
// rows come, which spares a window over them (as costly to prepare as the
// rest of a small statement, and a sort of a large one); a server counts on
// from the highest, read in the statement. Called inside the change's
// transaction, like lastKey, and takes the same lock.
struct Numbering {
    QString key, orderBy;
};
Numbering numbering(const QSqlDatabase& c, const QString& order)
{
    db::lockNewKeys(c, QStringLiteral("valores_historial"));
    if (db::engine(c) != db::Engine::PostgreSQL)
        return {QStringLiteral("NULL"), QStringLiteral(" ORDER BY ") + order};
    return {QStringLiteral("(SELECT COALESCE(max(id_historial), 0) FROM valores_historial) + ROW_NUMBER() OVER (ORDER BY %1)")
                .arg(order),
            QString()};
}

QVariant user(const Stamp& s)
{
    return s.usuario > 0 ? QVariant(s.usuario) : QVariant(QMetaType(QMetaType::Int));
}

QVariant text(const std::optional<QString>& v)
{
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::QString));
}

QVariant key(bool present, int id)
{
    return present ? QVariant(id) : QVariant(QMetaType(QMetaType::Int));
}

// The rows of `o` within the filter's days, section and operator.
QString ownerCondition(const values::Owner& o)
{
    return o.isSubscriber ? QStringLiteral("h.id_abonado = ?") : QStringLiteral("h.id_configuracion = ? AND h.id_panel = ?");
}

} // namespace

void Batch::add(const values::Owner& o, int seccion, int item, const std::optional<QString>& before,
                const std::optional<QString>& after)
{
    if (before.has_value() == after.has_value() && before.value_or(QString()) == after.value_or(QString()))
        return;
    m_rows.append({o, seccion, item, before, after});
}

void Batch::write()
{
    if (m_rows.isEmpty())
        return;
    // A few rows per statement: fewer round trips than one each, well under
    // any engine's limit of bound values.
    constexpr qsizetype Chunk = 64;
    qint64 next = lastKey(m_c) + 1;
    for (qsizetype from = 0; from < m_rows.size(); from += Chunk) {
        const qsizetype n = qMin(Chunk, m_rows.size() - from);
        QStringList marks;
        QVariantList v;
        v.reserve(n * 11);
        for (qsizetype i = from; i < from + n; ++i) {
            const Pending& p = m_rows.at(i);
            marks << QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            v << next++ << m_stamp.fecha << key(p.owner.isSubscriber, p.owner.id)
              << key(!p.owner.isSubscriber, p.owner.id) << p.owner.panel << p.seccion << p.item << text(p.before)
              << text(p.after) << m_stamp.origen << user(m_stamp);
        }
        db::exec(m_c, kColumns + QStringLiteral("VALUES ") + marks.join(QStringLiteral(", ")), v);
    }
    m_rows.clear();
}

void recordSeeding(const QSqlDatabase& c, const Stamp& s, int abonado, int panel, int seccion, int configuracion)
{
    const bool all = seccion == 999;
    // Values the template brings that differ from the stored ones, or are new.
    QString added = kColumns + QStringLiteral(
        "SELECT ? + ROW_NUMBER() OVER (ORDER BY cv.id_seccion, cv.id_item), ?, ?, NULL, ?, cv.id_seccion, "
        "cv.id_item, av.valor, cv.valor, ?, ? FROM configuraciones_valores cv LEFT JOIN abonados_valores av "
        "ON av.id_abonado = ? AND av.id_seccion = cv.id_seccion AND av.id_item = cv.id_item "
        "WHERE cv.id_panel = ? AND cv.id_configuracion = ? "
        "AND (av.id_item IS NULL OR COALESCE(av.valor, '') <> COALESCE(cv.valor, ''))");
    QVariantList v{lastKey(c), s.fecha, abonado, panel, s.origen, user(s), abonado, panel, configuracion};
    if (!all) {
        added += QStringLiteral(" AND cv.id_seccion = ?");
        v << seccion;
    }
    db::exec(c, added, v);
    // Stored values the template does not have: the copy drops them.
    QString dropped = kColumns + QStringLiteral(
        "SELECT ? + ROW_NUMBER() OVER (ORDER BY av.id_seccion, av.id_item), ?, av.id_abonado, NULL, ?, "
        "av.id_seccion, av.id_item, av.valor, NULL, ?, ? FROM abonados_valores av WHERE av.id_abonado = ? "
        "AND NOT EXISTS (SELECT 1 FROM configuraciones_valores cv WHERE cv.id_panel = ? "
        "AND cv.id_configuracion = ? AND cv.id_seccion = av.id_seccion AND cv.id_item = av.id_item)");
    v = {lastKey(c), s.fecha, panel, s.origen, user(s), abonado, panel, configuracion};
    if (!all) {
        dropped += QStringLiteral(" AND av.id_seccion = ?");
        v << seccion;
    }
    db::exec(c, dropped, v);
}

void recordMerged(const QSqlDatabase& c, const Stamp& s, const QString& rows)
{
    // As Batch::add keeps them: a new value always, a stored one when it
    // changes (null and empty read alike).
    const Numbering k = numbering(c, QStringLiteral("u.n"));
    db::exec(c,
             kColumns + QStringLiteral("SELECT %2, ?, NULL, 1, u.id_panel, u.id_seccion, "
                                       "u.id_item, cv.valor, u.valor, ?, ? FROM %1 u LEFT JOIN configuraciones_valores cv "
                                       "ON cv.id_configuracion = 1 AND cv.id_panel = u.id_panel "
                                       "AND cv.id_seccion = u.id_seccion AND cv.id_item = u.id_item "
                                       "WHERE (cv.id_item IS NULL OR COALESCE(cv.valor, '') <> COALESCE(u.valor, ''))%3")
                            .arg(rows, k.key, k.orderBy),
             {s.fecha, s.origen, user(s)});
}

void recordTemplateCreated(const QSqlDatabase& c, const Stamp& s, int configuracion)
{
    db::exec(c,
             kColumns + QStringLiteral("SELECT ? + ROW_NUMBER() OVER (ORDER BY id_panel, id_seccion, id_item), ?, "
                                       "NULL, id_configuracion, id_panel, id_seccion, id_item, NULL, valor, ?, ? "
                                       "FROM configuraciones_valores WHERE id_configuracion = ?"),
             {lastKey(c), s.fecha, s.origen, user(s), configuracion});
}

void recordUpload(const QSqlDatabase& c, const Stamp& s, int abonado, const QList<int>& sections, bool onlyMarked)
{
    if (sections.isEmpty())
        return;
    QStringList marks;
    QVariantList v{lastKey(c), s.fecha, s.origen, user(s), abonado};
    for (const int seccion : sections) {
        marks << QStringLiteral("?");
        v << seccion;
    }
    db::exec(c,
             kColumns + QStringLiteral("SELECT ? + ROW_NUMBER() OVER (ORDER BY av.id_seccion, av.id_item), ?, "
                                       "av.id_abonado, NULL, a.id_panel, av.id_seccion, av.id_item, NULL, av.valor, "
                                       "?, ? FROM abonados_valores av JOIN abonados a ON a.id_abonado = av.id_abonado "
                                       "WHERE av.id_abonado = ? %1AND av.id_seccion IN (%2)")
                              .arg(onlyMarked ? QStringLiteral("AND av.id_estado = 1 ") : QString(),
                                   marks.join(QStringLiteral(", "))),
             v);
}

QString readTable(const QSqlDatabase& c, const QList<ReadValue>& values, QVariantList& params)
{
    // Typed in every row on a server, which takes a bare parameter for
    // text; a file takes the bound values' own types, and parses the
    // statement faster without.
    const QString row = db::engine(c) == db::Engine::PostgreSQL
                            ? QStringLiteral("(CAST(? AS INTEGER), CAST(? AS INTEGER), CAST(? AS INTEGER), CAST(? AS TEXT))")
                            : QStringLiteral("(?, ?, ?, ?)");
    QList<int> order; // sections in the order first given
    params.reserve(params.size() + values.size() * 4);
    for (const ReadValue& r : values) {
        qsizetype place = order.indexOf(r.seccion);
        if (place < 0) {
            place = order.size();
            order << r.seccion;
        }
        params << int(place) << r.seccion << r.item << r.valor;
    }
    return QStringLiteral("(VALUES %1)").arg(QStringList(values.size(), row).join(QStringLiteral(", ")));
}

void recordRead(const QSqlDatabase& c, const Stamp& s, int abonado, const QString& read, const QVariantList& readParams)
{
    // As Batch::add keeps them: a stored value that changes (null and empty
    // read alike), numbered after the highest so far in the same statement.
    QVariantList v{s.fecha, s.origen, user(s)};
    v << readParams << abonado;
    const Numbering k = numbering(c, QStringLiteral("n.column1, av.id_item"));
    db::execWrite(c,
             kColumns + QStringLiteral("SELECT %2, ?, av.id_abonado, NULL, "
                                       "a.id_panel, av.id_seccion, av.id_item, av.valor, n.column4, ?, ? "
                                       "FROM %1 AS n JOIN abonados_valores av ON av.id_seccion = n.column2 "
                                       "AND (n.column3 = av.id_item OR n.column3 < 1) "
                                       "JOIN abonados a ON a.id_abonado = av.id_abonado "
                                       "WHERE av.id_abonado = ? AND COALESCE(av.valor, '') <> COALESCE(n.column4, '')%3")
                            .arg(read, k.key, k.orderBy),
             v);
}

void markDeleted(const QSqlDatabase& c, const values::Owner& o)
{
    if (o.isSubscriber)
        db::exec(c, QStringLiteral("UPDATE valores_historial SET borrado = 1 WHERE id_abonado = ?"), {o.id});
    else
        db::exec(c, QStringLiteral("UPDATE valores_historial SET borrado = 1 WHERE id_configuracion = ?"), {o.id});
}

QList<Row> rows(const QSqlDatabase& c, const Filter& f)
{
    QString sql = QStringLiteral(
        "SELECT h.fecha, h.id_seccion, s.descripcion AS seccion, h.id_item, si.descripcion AS item, s.tipo, "
        "s.caracteres, s.filler, h.valor_anterior, h.valor_nuevo, h.origen, u.usuario "
        "FROM valores_historial h "
        "LEFT JOIN secciones s ON s.id_panel = h.id_panel AND s.id_seccion = h.id_seccion "
        "LEFT JOIN secciones_items si ON si.id_panel = h.id_panel AND si.id_seccion = h.id_seccion "
        "AND si.id_item = h.id_item "
        "LEFT JOIN usuarios u ON u.id_usuario = h.id_usuario "
        "WHERE %1 AND h.borrado = 0 AND h.fecha >= ? AND h.fecha < ?")
                      .arg(ownerCondition(f.owner));
    QVariantList v = f.owner.isSubscriber ? QVariantList{f.owner.id} : QVariantList{f.owner.id, f.owner.panel};
    v << oplog::startOfDay(f.from) << oplog::startOfDay(f.to.addDays(1));
    if (f.seccion >= 0) {
        sql += QStringLiteral(" AND h.id_seccion = ?");
        v << f.seccion;
    }
    if (f.usuario > 0) {
        sql += QStringLiteral(" AND h.id_usuario = ?");
        v << f.usuario;
    }
    sql += QStringLiteral(" ORDER BY h.fecha DESC, h.id_historial DESC");
    QSqlQuery q = db::exec(c, sql, v);
    QList<Row> out;
    auto optionalText = [&q](int column) {
        const QVariant x = q.value(column);
        return x.isNull() ? std::nullopt : std::optional<QString>(x.toString());
    };
    while (db::next(q))
        out.append({q.value(0).toString(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toInt(),
                    q.value(4).toString(), q.value(5).toInt(), q.value(6).toInt(), q.value(7).toString(),
                    optionalText(8), optionalText(9), q.value(10).toString(), q.value(11).toString()});
    return out;
}

QList<QPair<int, QString>> operators(const QSqlDatabase& c, const values::Owner& o)
{
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT DISTINCT h.id_usuario, u.usuario FROM valores_historial h "
                                          "LEFT JOIN usuarios u ON u.id_usuario = h.id_usuario "
                                          "WHERE %1 AND h.borrado = 0 AND h.id_usuario IS NOT NULL ORDER BY u.usuario")
                               .arg(ownerCondition(o)),
                           o.isSubscriber ? QVariantList{o.id} : QVariantList{o.id, o.panel});
    QList<QPair<int, QString>> out;
    while (db::next(q))
        out.append({q.value(0).toInt(), q.value(1).toString()});
    return out;
}

int purge(const QSqlDatabase& c, const QDate& through)
{
    db::Transaction t(c);
    QSqlQuery q = db::exec(c, QStringLiteral("DELETE FROM valores_historial WHERE fecha < ?"),
                           {oplog::startOfDay(through.addDays(1))});
    const int n = q.numRowsAffected();
    t.commit();
    return n;
}

} // namespace history
