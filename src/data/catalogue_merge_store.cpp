#include "data/catalogue_merge_store.h"

#include "data/db.h"
#include "data/history_store.h"

#include <QSqlError>

namespace merge_store {

namespace {

// "long" is a reserved word in some dialects: quoted the standard way, which
// both engines take.
QString columnSql(const char* name)
{
    const QString n = QString::fromLatin1(name);
    return n == QLatin1String("long") ? QStringLiteral("\"long\"") : n;
}

QString whereKeys(const MergeTable& t)
{
    QStringList parts;
    if (t.templateOne)
        parts << QStringLiteral("id_configuracion = 1");
    for (int k = 0; k < t.keyCount; ++k)
        parts << columnSql(t.columns[size_t(k)].name) + QStringLiteral(" = ?");
    return parts.join(QStringLiteral(" AND "));
}

QSqlQuery prepare(const QSqlDatabase& c, const QString& sql)
{
    QSqlQuery q(c);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw db::Error(db::errorText(q.lastError()));
    return q;
}

void execute(QSqlQuery& q)
{
    if (!q.exec())
        throw db::Error(db::errorText(q.lastError()));
}

} // namespace

const std::vector<MergeTable>& mergeTables()
{
    static const std::vector<MergeTable> tables = {
        {"paneles", "SELECT COUNT(*) as total FROM paneles",
         "SELECT id_panel, codigo, version, cadena, id_seccionpwd FROM paneles", 1,
         {{"id_panel", true, false},
          {"codigo", false, false},
          {"version", false, false},
          {"cadena", false, false},
          {"id_seccionpwd", true, false}},
         false},
        {"secciones", "SELECT COUNT(*) as total FROM secciones",
         "SELECT id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler FROM secciones", 2,
         {{"id_panel", true, false},
          {"id_seccion", true, false},
          {"tipo", true, false},
          {"long", true, false},
          {"caracteres", true, true},
          {"posicion", true, false},
          {"descripcion", false, false},
          {"filler", false, true}},
         false},
        {"secciones_valores", "SELECT COUNT(*) as total FROM secciones_valores",
         "SELECT id_panel, id_seccion, id_valor, descripcion FROM secciones_valores", 3,
         {{"id_panel", true, false}, {"id_seccion", true, false}, {"id_valor", false, false}, {"descripcion", false, true}},
         false},
        {"secciones_items", "SELECT COUNT(*) as total FROM secciones_items",
         "SELECT id_panel, id_seccion, id_item, descripcion FROM secciones_items", 3,
         {{"id_panel", true, false}, {"id_seccion", true, false}, {"id_item", true, false}, {"descripcion", false, false}},
         false},
        {"configuraciones_valores", "SELECT COUNT(*) as total FROM configuraciones_valores WHERE id_configuracion = 1",
         "SELECT id_panel, id_seccion, id_item, valor, id_estado FROM configuraciones_valores WHERE id_configuracion = 1",
         3,
         {{"id_panel", true, false},
          {"id_seccion", true, false},
          {"id_item", true, false},
          {"valor", false, true},
          {"id_estado", true, false}},
         true},
    };
    return tables;
}

qint64 countRows(const QSqlDatabase& update, const MergeTable& t)
{
    return db::scalar(update, QString::fromLatin1(t.countSql)).toLongLong();
}

QSqlQuery readRows(const QSqlDatabase& update, const MergeTable& t)
{
    QSqlQuery q(update);
    q.setForwardOnly(true);
    if (!q.exec(QString::fromLatin1(t.selectSql)))
        throw db::Error(db::errorText(q.lastError()));
    return q;
}

QString missingTable(const QSqlDatabase& update)
{
    for (const MergeTable& t : mergeTables()) {
        QSqlQuery q(update);
        if (!q.exec(QString::fromLatin1(t.selectSql) + QStringLiteral(" LIMIT 0")))
            return QString::fromLatin1(t.table);
    }
    return {};
}

void raiseLastItems(const QSqlDatabase& c, QHash<SectionKey, qint64>& last)
{
    QSqlQuery s = db::exec(c, QStringLiteral("SELECT id_panel, id_seccion, MAX(id_item) FROM secciones_items "
                                             "GROUP BY id_panel, id_seccion"));
    while (db::next(s)) {
        qint64& l = last[{s.value(0).toLongLong(), s.value(1).toLongLong()}];
        l = qMax(l, s.value(2).toLongLong());
    }
}

QHash<SectionKey, QPair<int, int>> sectionPlaces(const QSqlDatabase& c)
{
    QHash<SectionKey, QPair<int, int>> places;
    QSqlQuery s = db::exec(c, QStringLiteral("SELECT id_panel, id_seccion, tipo, posicion FROM secciones"));
    while (db::next(s))
        places.insert({s.value(0).toLongLong(), s.value(1).toLongLong()}, {s.value(2).toInt(), s.value(3).toInt()});
    return places;
}

RowWriter::RowWriter(const QSqlDatabase& station, const MergeTable& t)
    : m_table(t), m_station(station), m_fecha(db::nowText())
{
    QStringList cols, marks, sets;
    if (t.templateOne) {
        cols << QStringLiteral("id_configuracion");
        marks << QStringLiteral("1");
    }
    for (size_t j = 0; j < t.columns.size(); ++j) {
        cols << columnSql(t.columns[j].name);
        marks << QStringLiteral("?");
        if (int(j) >= t.keyCount)
            sets << columnSql(t.columns[j].name) + QStringLiteral(" = ?");
    }
    const QString table = QString::fromLatin1(t.table);
    m_count = prepare(station, QStringLiteral("SELECT COUNT(*) as total%1 FROM %2 WHERE %3")
                                   .arg(t.templateOne ? QStringLiteral(", MAX(valor) AS valor") : QString(), table,
                                        whereKeys(t)));
    m_insert = prepare(station, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                    .arg(table, cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
    m_update = prepare(station, QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(table, sets.join(QStringLiteral(", ")), whereKeys(t)));
    m_chunked = db::engine(station) == db::Engine::PostgreSQL;
}

// One statement for `rows` rows: an upsert on the table's key that answers
// how many rows were new or, for template 1, each row's key, whether it was
// new and its value before (every part of one statement sees the table as
// it was when the statement began).
QString RowWriter::chunkSql(int rows) const
{
    const MergeTable& t = m_table;
    QStringList cols, casts, keys, oldKeys, sets, keyJoin, oldJoin;
    for (size_t j = 0; j < t.columns.size(); ++j) {
        const QString c = columnSql(t.columns[j].name);
        cols << c;
        // A bare placeholder in VALUES would be taken as text.
        casts << QStringLiteral("CAST(? AS %1)").arg(t.columns[j].numeric ? QStringLiteral("INTEGER") : QStringLiteral("TEXT"));
        if (int(j) < t.keyCount) {
            keys << c;
            oldKeys << QStringLiteral("s.") + c;
            keyJoin << QStringLiteral("u.%1 = o.%1").arg(c);
            oldJoin << QStringLiteral("s.%1 = v.%1").arg(c);
        } else {
            sets << QStringLiteral("%1 = EXCLUDED.%1").arg(c);
        }
    }
    const QString table = QString::fromLatin1(t.table), sep = QStringLiteral(", ");
    const QString tuple = QLatin1Char('(') + casts.join(sep) + QLatin1Char(')');
    QStringList tuples;
    for (int r = 0; r < rows; ++r)
        tuples << tuple;
    const QString one = t.templateOne ? QStringLiteral("1, ") : QString();
    const QString owner = t.templateOne ? QStringLiteral("id_configuracion, ") : QString();
    const QString values = QStringLiteral("v (%1) AS (VALUES %2)").arg(cols.join(sep), tuples.join(sep));
    const QString upsert = QStringLiteral("up AS (INSERT INTO %1 (%2%3) SELECT %4%3 FROM v ON CONFLICT (%2%5) "
                                          "DO UPDATE SET %6 RETURNING %5, (xmax = 0) AS nuevo)")
                               .arg(table, owner, cols.join(sep), one, keys.join(sep), sets.join(sep));
    if (!t.templateOne)
        return QStringLiteral("WITH %1, %2 SELECT COUNT(*) FILTER (WHERE nuevo) FROM up").arg(values, upsert);
    const QString old = QStringLiteral("o AS (SELECT %1, s.valor FROM %2 s JOIN v ON s.id_configuracion = 1 AND %3)")
                            .arg(oldKeys.join(sep), table, oldJoin.join(QStringLiteral(" AND ")));
    return QStringLiteral("WITH %1, %2, %3 SELECT u.id_panel, u.id_seccion, u.id_item, u.nuevo, o.valor FROM up u "
                          "LEFT JOIN o ON %4")
        .arg(values, old, upsert, keyJoin.join(QStringLiteral(" AND ")));
}

qint64 RowWriter::applyMany(const std::vector<const QVariantList*>& rows)
{
    const int n = int(rows.size());
    std::optional<QSqlQuery> once;
    if (n == ChunkRows && !m_chunk)
        m_chunk.emplace(prepare(m_station, chunkSql(n)));
    if (n != ChunkRows)
        once.emplace(prepare(m_station, chunkSql(n)));
    QSqlQuery& q = n == ChunkRows ? *m_chunk : *once;
    int p = 0;
    for (const QVariantList* r : rows)
        for (const QVariant& v : *r)
            q.bindValue(p++, v);
    execute(q);
    qint64 inserted = 0;
    if (!m_table.templateOne) {
        if (db::next(q))
            inserted = q.value(0).toLongLong();
        q.finish();
        return inserted;
    }
    const auto keyOf = [](const QVariant& a, const QVariant& b, const QVariant& c) {
        return QStringLiteral("%1/%2/%3").arg(a.toLongLong()).arg(b.toLongLong()).arg(c.toLongLong());
    };
    QHash<QString, std::pair<bool, QVariant>> written; // key -> (new, value before)
    while (db::next(q))
        written.insert(keyOf(q.value(0), q.value(1), q.value(2)), {q.value(3).toBool(), q.value(4)});
    q.finish();
    // The history in the file's order, as row by row.
    for (const QVariantList* r : rows) {
        const auto w = written.constFind(keyOf(r->at(0), r->at(1), r->at(2)));
        if (w == written.cend())
            throw db::Error(QStringLiteral("El servidor no confirmó una fila escrita."));
        inserted += w->first ? 1 : 0;
        recordValue(*r, !w->first, w->second);
    }
    return inserted;
}

bool RowWriter::apply(const QVariantList& values)
{
    const MergeTable& t = m_table;
    for (int k = 0; k < t.keyCount; ++k)
        m_count.bindValue(k, values.at(k));
    execute(m_count);
    const bool found = db::next(m_count);
    const qint64 existing = found ? m_count.value(0).toLongLong() : 0;
    const QVariant before = found && t.templateOne ? m_count.value(1) : QVariant();
    m_count.finish();

    if (existing == 0) {
        for (int j = 0; j < values.size(); ++j)
            m_insert.bindValue(j, values.at(j));
        execute(m_insert);
        recordValue(values, false, before);
        return true;
    }
    // Every station row with that key gets the copied columns.
    int p = 0;
    for (int j = t.keyCount; j < values.size(); ++j)
        m_update.bindValue(p++, values.at(j));
    for (int k = 0; k < t.keyCount; ++k)
        m_update.bindValue(p++, values.at(k));
    execute(m_update);
    recordValue(values, true, before);
    return false;
}

void RowWriter::recordValue(const QVariantList& values, bool existed, const QVariant& before)
{
    if (!m_table.templateOne)
        return;
    if (!m_history)
        m_history.emplace(m_station, history::Stamp{history::origin::migracion(), 0, m_fecha});
    // Columns: id_panel, id_seccion, id_item, valor, id_estado.
    m_history->add(values::Owner::templ(1, values.at(0).toInt()), values.at(1).toInt(), values.at(2).toInt(),
                   existed ? std::optional<QString>(before.toString()) : std::nullopt, values.at(3).toString());
}

void RowWriter::flush()
{
    if (m_history)
        m_history->write();
}

void RowWriter::discard()
{
    m_history.reset();
}

} // namespace merge_store
