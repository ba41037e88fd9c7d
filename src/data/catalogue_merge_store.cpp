#include "data/catalogue_merge_store.h"

#include "data/db.h"
#include "data/db_file.h"
#include "data/history_store.h"

#include <QSet>
#include <QSqlError>
#include <QStringList>

#include <sqlite3.h>

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
         "SELECT id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler, secreta FROM secciones", 2,
         {{"id_panel", true, false},
          {"id_seccion", true, false},
          {"tipo", true, false},
          {"long", true, false},
          {"caracteres", true, true},
          {"posicion", true, false},
          {"descripcion", false, false},
          {"filler", false, true},
          {"secreta", true, false, true}},
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

QString selectSql(const QSqlDatabase& update, const MergeTable& t)
{
    QString sql = QString::fromLatin1(t.selectSql);
    QStringList present;
    for (const MergeColumn& c : t.columns) {
        if (!c.mark)
            continue;
        if (present.isEmpty())
            present = db::columnNames(update, QString::fromLatin1(t.table));
        const QString name = QString::fromLatin1(c.name);
        if (!present.contains(name, Qt::CaseInsensitive))
            sql.replace(QStringLiteral(", %1 FROM").arg(name), QStringLiteral(", 0 AS %1 FROM").arg(name));
    }
    return sql;
}

RowReader::RowReader(const QSqlDatabase& update, const MergeTable& t) : m_columns(int(t.columns.size()))
{
    const QString sql = selectSql(update, t);
    if (sqlite3* h = db::sqliteHandle(update)) {
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(h, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK) {
            const QString why = QString::fromUtf8(sqlite3_errmsg(h));
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            throw db::Error(why);
        }
        return;
    }
    m_query = QSqlQuery(update);
    m_query.setForwardOnly(true);
    if (!m_query.exec(sql))
        throw db::Error(db::errorText(m_query.lastError()));
}

RowReader::~RowReader()
{
    sqlite3_finalize(m_stmt);
}

bool RowReader::next(QVariantList& values)
{
    values.clear();
    values.reserve(m_columns);
    if (!m_stmt) {
        if (!m_query.next()) {
            if (m_query.lastError().isValid())
                m_error = db::errorText(m_query.lastError());
            return false;
        }
        for (int j = 0; j < m_columns; ++j)
            values << m_query.value(j);
        return true;
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE)
            m_error = QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_stmt)));
        return false;
    }
    for (int j = 0; j < m_columns; ++j) {
        switch (sqlite3_column_type(m_stmt, j)) {
        case SQLITE_INTEGER:
            values << QVariant(qlonglong(sqlite3_column_int64(m_stmt, j)));
            break;
        case SQLITE_FLOAT:
            values << QVariant(sqlite3_column_double(m_stmt, j));
            break;
        case SQLITE_BLOB:
            values << QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, j)),
                                          sqlite3_column_bytes(m_stmt, j)));
            break;
        case SQLITE_NULL:
            values << QVariant();
            break;
        default:
            values << QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, j)),
                                                 sqlite3_column_bytes(m_stmt, j)));
        }
    }
    return true;
}

QString missingTable(const QSqlDatabase& update)
{
    for (const MergeTable& t : mergeTables()) {
        QSqlQuery q(update);
        if (!q.exec(selectSql(update, t) + QStringLiteral(" LIMIT 0")))
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
            sets << (t.columns[j].mark ? QStringLiteral("%1 = CASE WHEN %1 = 1 THEN 1 ELSE ? END")
                                       : QStringLiteral("%1 = ?")).arg(columnSql(t.columns[j].name));
    }
    const QString table = QString::fromLatin1(t.table);
    m_count = prepare(station, QStringLiteral("SELECT COUNT(*) as total%1 FROM %2 WHERE %3")
                                   .arg(t.templateOne ? QStringLiteral(", MAX(valor) AS valor") : QString(), table,
                                        whereKeys(t)));
    m_insert = prepare(station, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                    .arg(table, cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
    m_update = prepare(station, QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(table, sets.join(QStringLiteral(", ")), whereKeys(t)));
}

namespace {

// The rows of the batch being merged, in the station's connection.
const QString kLoaded = QStringLiteral("novedades_filas");

// Bound values per statement that loads rows: well under either engine's limit.
constexpr int kLoadValues = 900;

} // namespace

namespace {

// The same rows into the temporary table of a file, statement by statement
// through the engine itself: there a row costs less than QtSql's binding.
void loadRowsIntoFile(sqlite3* h, const std::vector<const QVariantList*>& rows, int width,
                      const std::function<void()>& loaded)
{
    const QByteArray sql = QStringLiteral("INSERT INTO %1 VALUES (%2)")
                               .arg(kLoaded, QStringList(width, QStringLiteral("?")).join(QStringLiteral(", ")))
                               .toUtf8();
    sqlite3_stmt* st = nullptr;
    const auto fail = [&] {
        const QString why = QString::fromUtf8(sqlite3_errmsg(h));
        sqlite3_finalize(st);
        throw db::Error(why);
    };
    if (sqlite3_prepare_v2(h, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
        fail();
    QByteArray text;
    for (size_t r = 0; r < rows.size(); ++r) {
        sqlite3_bind_int64(st, 1, sqlite3_int64(r));
        int p = 2;
        for (const QVariant& v : *rows[r]) {
            if (v.isNull()) {
                sqlite3_bind_null(st, p);
            } else if (v.typeId() == QMetaType::LongLong) {
                sqlite3_bind_int64(st, p, v.toLongLong());
            } else {
                text = v.toString().toUtf8();
                sqlite3_bind_text(st, p, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            }
            ++p;
        }
        if (sqlite3_step(st) != SQLITE_DONE)
            fail();
        sqlite3_reset(st);
        if (loaded)
            loaded();
    }
    sqlite3_finalize(st);
}

} // namespace

void RowWriter::loadRows(const std::vector<const QVariantList*>& rows, const std::function<void()>& loaded)
{
    const MergeTable& t = m_table;
    // On a file an INTEGER key is the row's own number: no index of its own
    // to keep up for every row loaded.
    QStringList defs{QStringLiteral("n INTEGER PRIMARY KEY")}, cols{QStringLiteral("n")};
    for (const MergeColumn& c : t.columns) {
        defs << columnSql(c.name) + (c.numeric ? QStringLiteral(" BIGINT") : QStringLiteral(" TEXT"));
        cols << columnSql(c.name);
    }
    // Made anew in the batch's transaction: a batch rolled back on a server
    // takes its table with it.
    db::exec(m_station, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kLoaded));
    db::exec(m_station, QStringLiteral("CREATE TEMPORARY TABLE %1 (%2)").arg(kLoaded, defs.join(QStringLiteral(", "))));
    if (sqlite3* h = db::sqliteHandle(m_station)) {
        loadRowsIntoFile(h, rows, int(cols.size()), loaded);
        return;
    }
    const int width = int(cols.size());
    const int perStatement = qMax(1, kLoadValues / width);
    const QString tuple = QLatin1Char('(') + QStringList(width, QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')');
    const auto statement = [&](int n) {
        return prepare(m_station, QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                      .arg(kLoaded, cols.join(QStringLiteral(", ")),
                                           QStringList(n, tuple).join(QStringLiteral(", "))));
    };
    std::optional<QSqlQuery> full;
    for (size_t from = 0; from < rows.size(); from += size_t(perStatement)) {
        const int n = int(qMin(rows.size() - from, size_t(perStatement)));
        std::optional<QSqlQuery> once;
        if (n == perStatement && !full)
            full.emplace(statement(n));
        if (n != perStatement)
            once.emplace(statement(n));
        QSqlQuery& q = n == perStatement ? *full : *once;
        int p = 0;
        for (size_t r = from; r < from + size_t(n); ++r) {
            q.bindValue(p++, qlonglong(r));
            for (const QVariant& v : *rows[r])
                q.bindValue(p++, v);
        }
        execute(q);
        if (loaded)
            for (int r = 0; r < n; ++r)
                loaded();
    }
}

std::optional<qint64> RowWriter::applyAll(const std::vector<const QVariantList*>& rows, const std::function<void()>& loaded)
{
    if (rows.empty())
        return 0;
    const MergeTable& t = m_table;
    // A key the batch repeats: looked for here, where it costs a hash per
    // row. Numbers go in as their bytes, texts with their length: no two
    // different keys are alike, and no number is written out as text.
    QSet<QByteArray> seen;
    seen.reserve(qsizetype(rows.size()));
    QByteArray key;
    for (const QVariantList* r : rows) {
        key.clear();
        for (int k = 0; k < t.keyCount; ++k) {
            const QVariant& v = r->at(k);
            if (t.columns[size_t(k)].numeric) {
                const qint64 n = v.toLongLong();
                key.append(reinterpret_cast<const char*>(&n), sizeof n);
            } else {
                const QString text = v.toString();
                const qint64 length = text.size();
                key.append(reinterpret_cast<const char*>(&length), sizeof length);
                key.append(reinterpret_cast<const char*>(text.constData()), text.size() * qsizetype(sizeof(QChar)));
            }
        }
        if (seen.contains(key))
            return std::nullopt;
        seen.insert(key);
    }
    loadRows(rows, loaded);
    QStringList keys, same, cols, sets;
    for (size_t j = 0; j < t.columns.size(); ++j) {
        const QString c = columnSql(t.columns[j].name);
        cols << c;
        if (int(j) < t.keyCount) {
            keys << c;
            same << QStringLiteral("s.%1 = u.%1").arg(c);
        } else if (t.columns[j].mark) {
            sets << QStringLiteral("%1 = CASE WHEN %2.%1 = 1 THEN 1 ELSE excluded.%1 END").arg(c, QString::fromLatin1(t.table));
        } else {
            sets << QStringLiteral("%1 = excluded.%1").arg(c);
        }
    }
    if (t.templateOne)
        same.prepend(QStringLiteral("s.id_configuracion = 1"));
    const QString sep = QStringLiteral(", "), table = QString::fromLatin1(t.table);
    const qint64 inserted =
        db::scalar(m_station, QStringLiteral("SELECT COUNT(*) FROM %1 u WHERE NOT EXISTS (SELECT 1 FROM %2 s WHERE %3)")
                                  .arg(kLoaded, table, same.join(QStringLiteral(" AND "))))
            .toLongLong();
    if (t.templateOne)
        history::recordMerged(m_station, history::Stamp{history::origin::migracion(), 0, m_fecha}, kLoaded);
    // In the file's order, as row by row. "WHERE true" keeps a file's parser
    // from reading ON CONFLICT as a join's condition.
    const QString owner = t.templateOne ? QStringLiteral("id_configuracion, ") : QString();
    const QString one = t.templateOne ? QStringLiteral("1, ") : QString();
    db::exec(m_station, QStringLiteral("INSERT INTO %1 (%2%3) SELECT %4%3 FROM %5 WHERE true ORDER BY n "
                                       "ON CONFLICT (%2%6) DO UPDATE SET %7")
                            .arg(table, owner, cols.join(sep), one, kLoaded, keys.join(sep), sets.join(sep)));
    db::exec(m_station, QStringLiteral("DROP TABLE %1").arg(kLoaded));
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
