#include "migration/catalogue_merge.h"

#include "data/text_rules.h"
#include "data/db.h"
#include "link/panel_link.h"

#include <QSqlError>
#include <QSqlQuery>
#include <climits>
#include <cmath>

namespace migration {

namespace {

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

} // namespace

const std::vector<MergeStage>& mergeStages()
{
    static const std::vector<MergeStage> stages = {
        {"Paneles...", 0, 10},
        {"Secciones...", 10, 10},
        {"Valores secciones...", 20, 30},
        {"Items Secciones...", 50, 30},
        {"Configuraciones...", 80, 20},
    };
    return stages;
}

double progressOf(const MergeStage& s, qint64 i, qint64 n)
{
    if (n <= 0)
        return s.rangeStart;
    return s.rangeStart + double(s.rangeWidth) * double(qMin(i, n)) / double(n);
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
    m_shown = 0;
    const std::vector<MergeTable>& tables = merge_store::mergeTables();
    for (size_t k = 0; k < tables.size(); ++k)
        mergeTable(tables[k], mergeStages()[k]);
}

void CatalogueMerge::mergeTable(const MergeTable& t, const MergeStage& stage)
{
    if (onTable)
        onTable(QString::fromUtf8(stage.caption));

    const qint64 total = merge_store::countRows(m_update, t);

    // Items and template values are placed by their section, merged before.
    m_sections.clear();
    m_lastItems.clear();
    if (QLatin1String(t.table) == QLatin1String("secciones")) {
        for (const QSqlDatabase& c : {m_station, m_update})
            merge_store::raiseLastItems(c, m_lastItems);
    }
    if (t.columns.size() > 2 && QLatin1String(t.columns[2].name) == QLatin1String("id_item"))
        m_sections = merge_store::sectionPlaces(m_station);

    m_places = placesOf(t);
    m_writer.emplace(m_station, t);
    merge_store::RowReader reader(m_update, t);

    const int perBatch = qMax(1, batchRows);
    qint64 i = 0;
    bool more = true;
    while (more) {
        std::vector<Row> batch;
        batch.reserve(size_t(perBatch));
        QString readError;
        while (int(batch.size()) < perBatch) {
            Row row;
            if (!reader.next(row.values)) {
                readError = reader.error();
                more = false;
                break;
            }
            readError = readRow(t, row);
            if (!readError.isEmpty()) {
                more = false;
                break;
            }
            batch.push_back(std::move(row));
        }
        if (!batch.empty())
            applyBatch(t, stage, batch, i, total);
        if (!readError.isEmpty())
            throw db::Error(readError);
    }
    m_writer.reset();
}

QString CatalogueMerge::readRow(const MergeTable& t, Row& row) const
{
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
            // Invisible controls in a catalogue text would reach every screen
            // and report that shows it.
            v = textrules::withoutControls(v.toString());
        }
    }
    return outOfRange(t, row.values);
}

CatalogueMerge::Places CatalogueMerge::placesOf(const MergeTable& t)
{
    const auto place = [&](const char* column) {
        for (size_t j = 0; j < t.columns.size(); ++j)
            if (qstrcmp(t.columns[j].name, column) == 0)
                return int(j);
        return -1;
    };
    return {place("id_panel"), place("id_seccion"), place("id_item"),   place("id_seccionpwd"), place("tipo"),
            place("posicion"), place("long"),       place("caracteres"), place("id_estado"),    place("cadena"),
            place("secreta")};
}

QString CatalogueMerge::outOfRange(const MergeTable& t, const QVariantList& values) const
{
    // One memory map of addresses 0-5000; a text section holds at most two
    // hexadecimal digits for every byte from its position to the end.
    constexpr qlonglong lastAddress = PanelLink::MemorySize - 1;
    // The table's columns by place, found once per table: by name for
    // every row they cost more than the checks.
    const Places& p = m_places;
    const QVariant none;
    const auto at = [&](int place) -> const QVariant& { return place < 0 ? none : values.at(place); };
    const auto refuse = [&](const char* column, const QString& value, const QString& allowed) {
        return QStringLiteral("El archivo de novedades tiene un valor fuera de rango en la columna %1 de la tabla %2 "
                              "(%3): %4; %5.")
            .arg(QString::fromLatin1(column), QString::fromLatin1(t.table), keyText(t, values), value, allowed);
    };
    QString error;
    const auto check = [&](const char* column, int place, qlonglong lo, qlonglong hi) {
        const QVariant& v = at(place);
        if (!error.isEmpty() || !v.isValid() || v.isNull())
            return;
        const qlonglong n = v.toLongLong();
        if (n < lo || n > hi)
            error = refuse(column, QString::number(n), QStringLiteral("se admite de %1 a %2").arg(lo).arg(hi));
    };

    check("id_panel", p.id_panel, 1, INT_MAX);
    check("id_seccion", p.id_seccion, 0, INT_MAX);
    check("id_item", p.id_item, 1, INT_MAX);
    check("id_seccionpwd", p.id_seccionpwd, 0, INT_MAX);
    check("tipo", p.tipo, 1, 5);
    check("posicion", p.posicion, 0, lastAddress);
    if (error.isEmpty() && at(p.posicion).isValid()) {
        const qlonglong room = 2 * (lastAddress + 1 - at(p.posicion).toLongLong());
        check("long", p.length, 0, room);
        check("caracteres", p.caracteres, 0, room);
    }
    check("id_estado", p.id_estado, -1, 1);
    check("secreta", p.secreta, 0, 1);
    if (error.isEmpty() && at(p.tipo).isValid()) {
        // The section's items, where they are already, must stay on the map.
        const qint64 last = m_lastItems.value({at(p.id_panel).toLongLong(), at(p.id_seccion).toLongLong()});
        const qint64 tipo = at(p.tipo).toLongLong(), posicion = at(p.posicion).toLongLong();
        if (tipo == 1 && last > 8)
            error = refuse("tipo", QString::number(tipo), QStringLiteral("la sección tiene el ítem %1 y una de bits llega al 8").arg(last));
        else if ((tipo == 2 || tipo == 3) && posicion + last - 1 > lastAddress)
            error = refuse("posicion", QString::number(posicion),
                           QStringLiteral("su ítem %1 quedaría fuera de la memoria del panel (0 a %2)").arg(last).arg(lastAddress));
    }
    if (error.isEmpty() && at(p.cadena).isValid()) {
        // The protocol code goes into one byte of every request.
        bool ok = false;
        const int code = at(p.cadena).toString().trimmed().toInt(&ok);
        if (!ok || code < 0 || code > 255)
            error = refuse("cadena", QLatin1Char('\'') + at(p.cadena).toString() + QLatin1Char('\''),
                           QStringLiteral("debe ser un número entero de 0 a 255"));
    }
    if (error.isEmpty() && at(p.id_item).isValid()) {
        const auto s = m_sections.constFind({at(p.id_panel).toLongLong(), at(p.id_seccion).toLongLong()});
        const qlonglong item = at(p.id_item).toLongLong();
        if (s != m_sections.cend() && s->first == 1 && item > 8)
            error = refuse("id_item", QString::number(item), QStringLiteral("una sección de bits tiene los ítems 1 a 8"));
        else if (s != m_sections.cend() && (s->first == 2 || s->first == 3) && s->second + item - 1 > lastAddress)
            error = refuse("id_item", QString::number(item),
                           QStringLiteral("su byte quedaría fuera de la memoria del panel (0 a %1)").arg(lastAddress));
    }
    return error;
}

QString CatalogueMerge::unreadable(const QSqlDatabase& update)
{
    const QString table = merge_store::missingTable(update);
    if (table.isEmpty())
        return {};
    return QStringLiteral("no tiene la tabla %1 con sus columnas").arg(table);
}

void CatalogueMerge::showProgress(const MergeStage& stage, qint64 i, qint64 total)
{
    // A batch written again row by row after its one-go write failed goes
    // over rows already shown: the bar waits instead of going back.
    m_shown = qMax(m_shown, progressOf(stage, i, total));
    if (onProgress)
        onProgress(m_shown);
}

void CatalogueMerge::applyBatch(const MergeTable& t, const MergeStage& stage, const std::vector<Row>& batch, qint64& i,
                                qint64 total)
{
    {
        const qint64 from = i;
        try {
            db::Transaction tr(m_station);
            std::vector<const QVariantList*> rows;
            rows.reserve(batch.size());
            for (const Row& r : batch)
                rows.push_back(&r.values);
            // Row by row as read, so that a small merge moves the bar as smoothly.
            const std::optional<qint64> inserted = m_writer->applyAll(rows, [&] { showProgress(stage, ++i, total); });
            if (inserted) {
                tr.commit();
                m_merged += qint64(batch.size());
                m_inserted += *inserted;
                return;
            }
        } catch (const db::Error&) {
            // Row by row below, which names the row at fault.
        }
        i = from;
    }
    size_t failed = batch.size();
    QString error;
    {
        db::Transaction tr(m_station);
        qint64 inserted = 0;
        for (size_t j = 0; j < batch.size(); ++j) {
            try {
                if (m_writer->apply(batch[j].values))
                    ++inserted;
            } catch (const db::Error& e) {
                failed = j;
                error = QStringLiteral("%1\nTabla %2, fila %3.")
                            .arg(e.text(), QString::fromLatin1(t.table), keyText(t, batch[j].values));
                break;
            }
            showProgress(stage, ++i, total);
        }
        if (failed == batch.size()) {
            m_writer->flush();
            tr.commit();
            m_merged += qint64(batch.size());
            m_inserted += inserted;
            return;
        }
    }
    // Some errors undo the whole open transaction, so it was rolled back and
    // the rows before the failing one are written again: they stay merged, as
    // when every row took effect on its own.
    m_writer->discard();
    if (failed > 0) {
        db::Transaction tr(m_station);
        qint64 inserted = 0;
        for (size_t j = 0; j < failed; ++j)
            if (m_writer->apply(batch[j].values))
                ++inserted;
        m_writer->flush();
        tr.commit();
        m_merged += qint64(failed);
        m_inserted += inserted;
    }
    throw db::Error(error);
}

} // namespace migration
