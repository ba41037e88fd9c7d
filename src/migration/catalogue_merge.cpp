#include "migration/catalogue_merge.h"

#include "data/db.h"

#include <QSqlError>
#include <cmath>

namespace migration {

namespace {

QString engineText(const QSqlError& e)
{
    QString t = e.databaseText();
    if (t.isEmpty())
        t = e.text();
    return t.isEmpty() ? QStringLiteral("Error desconocido de la base de datos") : t;
}

// "long" is a reserved word in the original dialect; SQLite takes the
// bracketed form as well.
QString columnSql(const char* name)
{
    const QString n = QString::fromLatin1(name);
    return n == QLatin1String("long") ? QStringLiteral("[long]") : n;
}

QVariant typedNull(bool numeric)
{
    return numeric ? QVariant(QMetaType::fromType<qlonglong>()) : QVariant(QMetaType::fromType<QString>());
}

// Integers may arrive as integers, as whole reals or as digits in text.
bool toInteger(const QVariant& v, qlonglong& out)
{
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15)
            return false;
        out = qlonglong(d);
        return true;
    }
    bool ok = false;
    out = v.toLongLong(&ok);
    return ok;
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
        throw db::Error(engineText(q.lastError()));
    return q;
}

void execute(QSqlQuery& q)
{
    if (!q.exec())
        throw db::Error(engineText(q.lastError()));
}

} // namespace

const std::vector<MergeTable>& mergeTables()
{
    static const std::vector<MergeTable> tables = {
        {"paneles", "Paneles...", 0, 10, "SELECT COUNT(*) as total FROM paneles",
         "SELECT id_panel, codigo, version, cadena, id_seccionpwd FROM paneles", 1,
         {{"id_panel", true, false},
          {"codigo", false, false},
          {"version", false, false},
          {"cadena", false, false},
          {"id_seccionpwd", true, false}},
         false},
        {"secciones", "Secciones...", 10, 10, "SELECT COUNT(*) as total FROM secciones",
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
        {"secciones_valores", "Valores secciones...", 20, 30, "SELECT COUNT(*) as total FROM secciones_valores",
         "SELECT id_panel, id_seccion, id_valor, descripcion FROM secciones_valores", 3,
         {{"id_panel", true, false}, {"id_seccion", true, false}, {"id_valor", false, false}, {"descripcion", false, true}},
         false},
        {"secciones_items", "Items Secciones...", 50, 30, "SELECT COUNT(*) as total FROM secciones_items",
         "SELECT id_panel, id_seccion, id_item, descripcion FROM secciones_items", 3,
         {{"id_panel", true, false}, {"id_seccion", true, false}, {"id_item", true, false}, {"descripcion", false, false}},
         false},
        {"configuraciones_valores", "Configuraciones...", 80, 20,
         "SELECT COUNT(*) as total FROM configuraciones_valores WHERE id_configuracion = 1",
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

double progressOf(const MergeTable& t, qint64 i, qint64 n)
{
    if (n <= 0)
        return t.rangeStart;
    return t.rangeStart + double(t.rangeWidth) * double(qMin(i, n)) / double(n);
}

int roundPercent(double progress)
{
    // nearbyint rounds halves to even in the default rounding mode.
    return int(std::nearbyint(progress));
}

QString percentText(double progress)
{
    return QStringLiteral("%1 %").arg(roundPercent(progress));
}

QString keyText(const MergeTable& t, const QVariantList& values)
{
    QStringList parts;
    for (int k = 0; k < t.keyCount && k < values.size(); ++k) {
        const MergeColumn& c = t.columns[size_t(k)];
        const QVariant& v = values.at(k);
        QString shown;
        if (v.isNull())
            shown = QStringLiteral("null");
        else if (c.numeric)
            shown = v.toString();
        else
            shown = QLatin1Char('\'') + v.toString() + QLatin1Char('\'');
        parts << QStringLiteral("%1 = %2").arg(QString::fromLatin1(c.name), shown);
    }
    return parts.join(QStringLiteral(", "));
}

CatalogueMerge::CatalogueMerge(const QSqlDatabase& update, const QSqlDatabase& station)
    : m_update(update), m_station(station)
{
}

void CatalogueMerge::run()
{
    if (!m_update.isValid() || !m_update.isOpen())
        throw db::Error(QStringLiteral("No está abierto el archivo de novedades"));
    if (!m_station.isValid() || !m_station.isOpen())
        throw db::Error(QStringLiteral("No está abierta la base de datos"));
    for (const MergeTable& t : mergeTables())
        mergeTable(t);
}

void CatalogueMerge::mergeTable(const MergeTable& t)
{
    if (onTable)
        onTable(QString::fromUtf8(t.caption));

    const qint64 total = db::scalar(m_update, QString::fromLatin1(t.countSql)).toLongLong();

    // Statements on the station database, values always bound.
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
    m_table = &t;
    m_count = prepare(m_station, QStringLiteral("SELECT COUNT(*) as total FROM %1 WHERE %2").arg(table, whereKeys(t)));
    m_insert = prepare(m_station, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(table, cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
    m_updateRow = prepare(m_station, QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                         .arg(table, sets.join(QStringLiteral(", ")), whereKeys(t)));

    QSqlQuery q(m_update);
    q.setForwardOnly(true);
    if (!q.exec(QString::fromLatin1(t.selectSql)))
        throw db::Error(engineText(q.lastError()));

    const int perBatch = qMax(1, batchRows);
    qint64 i = 0;
    bool more = true;
    while (more) {
        std::vector<Row> batch;
        batch.reserve(size_t(perBatch));
        QString readError;
        while (int(batch.size()) < perBatch) {
            if (!q.next()) {
                if (q.lastError().isValid())
                    readError = engineText(q.lastError());
                more = false;
                break;
            }
            Row row;
            readError = readRow(t, q, row);
            if (!readError.isEmpty()) {
                more = false;
                break;
            }
            batch.push_back(std::move(row));
        }
        if (!batch.empty())
            applyBatch(t, batch, i, total);
        if (!readError.isEmpty())
            throw db::Error(readError);
    }
    m_count = QSqlQuery();
    m_insert = QSqlQuery();
    m_updateRow = QSqlQuery();
    m_table = nullptr;
}

QString CatalogueMerge::readRow(const MergeTable& t, const QSqlQuery& q, Row& row) const
{
    row.values.clear();
    row.values.reserve(qsizetype(t.columns.size()));
    for (size_t j = 0; j < t.columns.size(); ++j)
        row.values << q.value(int(j));
    // Only the columns of the null rule may be null; anything else would
    // write a half-valid catalogue, so the row is refused.
    for (size_t j = 0; j < t.columns.size(); ++j) {
        const MergeColumn& c = t.columns[j];
        QVariant& v = row.values[qsizetype(j)];
        if (v.isNull()) {
            if (!c.nullable)
                return QStringLiteral("El archivo de novedades tiene un valor nulo en la columna %1 de la tabla %2 (%3).")
                    .arg(QString::fromLatin1(c.name), QString::fromLatin1(t.table), keyText(t, row.values));
            v = typedNull(c.numeric);
        } else if (c.numeric) {
            qlonglong n = 0;
            if (!toInteger(v, n))
                return QStringLiteral("El archivo de novedades tiene un valor no numérico en la columna %1 de la tabla %2 (%3): %4")
                    .arg(QString::fromLatin1(c.name), QString::fromLatin1(t.table), keyText(t, row.values), v.toString());
            v = n;
        } else {
            v = v.toString();
        }
    }
    return {};
}

bool CatalogueMerge::applyRow(const Row& row)
{
    const MergeTable& t = *m_table;
    for (int k = 0; k < t.keyCount; ++k)
        m_count.bindValue(k, row.values.at(k));
    execute(m_count);
    const qint64 existing = m_count.next() ? m_count.value(0).toLongLong() : 0;
    m_count.finish();

    if (existing == 0) {
        for (int j = 0; j < row.values.size(); ++j)
            m_insert.bindValue(j, row.values.at(j));
        execute(m_insert);
        return true;
    }
    // Every station row with that key gets the copied columns.
    int p = 0;
    for (int j = t.keyCount; j < row.values.size(); ++j)
        m_updateRow.bindValue(p++, row.values.at(j));
    for (int k = 0; k < t.keyCount; ++k)
        m_updateRow.bindValue(p++, row.values.at(k));
    execute(m_updateRow);
    return false;
}

void CatalogueMerge::applyBatch(const MergeTable& t, const std::vector<Row>& batch, qint64& i, qint64 total)
{
    size_t failed = batch.size();
    QString error;
    {
        db::Transaction tr(m_station);
        qint64 inserted = 0;
        for (size_t j = 0; j < batch.size(); ++j) {
            try {
                if (applyRow(batch[j]))
                    ++inserted;
            } catch (const db::Error& e) {
                failed = j;
                error = QStringLiteral("%1\nTabla %2, fila %3.")
                            .arg(e.text(), QString::fromLatin1(t.table), keyText(t, batch[j].values));
                break;
            }
            ++i;
            if (onProgress)
                onProgress(progressOf(t, i, total));
        }
        if (failed == batch.size()) {
            tr.commit();
            m_merged += qint64(batch.size());
            m_inserted += inserted;
            return;
        }
    }
    // Some errors undo the whole open transaction, so it was rolled back and
    // the rows before the failing one are written again: they stay merged, as
    // when every row took effect on its own.
    if (failed > 0) {
        db::Transaction tr(m_station);
        qint64 inserted = 0;
        for (size_t j = 0; j < failed; ++j)
            if (applyRow(batch[j]))
                ++inserted;
        tr.commit();
        m_merged += qint64(failed);
        m_inserted += inserted;
    }
    throw db::Error(error);
}

} // namespace migration
