// The catalogue merge of a whole update file: the input is the file itself
// (the seeds are small files exported by sorvent-catalogo), checked and
// merged into a fresh demo station as at start-up. Mutations are libFuzzer's
// byte changes, which reach the file's structure, or row edits made through
// SQLite (a column set to an edge value, a row deleted or copied with a new
// key, now and then a column or table gone), which mostly keep the file
// readable and so reach the merge's own checks. Whatever the file holds,
// the merged catalogue stays within the ranges the station works with, the
// editor and the link can use every section, an editor opened and saved on
// a merged value stores it again unchanged, and the reports of the merged
// models set every text inside its column.

#include "fuzz_support.h"
#include "common/link_test_access.h"

#include "app/station.h"
#include "data/catalogue_export_store.h"
#include "data/db.h"
#include "data/shared_ops.h"
#include "link/panel_link.h"
#include "migration/catalogue_merge.h"
#include "records/section_format.h"
#include "reports/dr_layouts.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QSet>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

namespace {

const QString kUpdate = QStringLiteral("fuzz-novedades");

struct Table {
    const char* name;
    std::vector<const char*> columns;
};
const Table kTables[] = {
    {"paneles", {"id_panel", "codigo", "version", "cadena", "id_seccionpwd"}},
    {"secciones", {"id_panel", "id_seccion", "tipo", "long", "caracteres", "posicion", "descripcion", "filler"}},
    {"secciones_valores", {"id_panel", "id_seccion", "id_valor", "descripcion"}},
    {"secciones_items", {"id_panel", "id_seccion", "id_item", "descripcion"}},
    {"configuraciones_valores", {"id_configuracion", "id_panel", "id_seccion", "id_item", "valor", "id_estado"}},
};

// Values at the edges of what the merge accepts, and of other types.
QVariant edgeValue(std::minstd_rand& rng)
{
    static const qint64 ints[] = {-1, 0, 1, 2, 3, 5, 6, 8, 9, 255, 256, 4999, 5000, 5001, 10002, 10003,
                                  2147483647LL, 2147483648LL, -2147483648LL};
    switch (rng() % 7) {
    case 0: return ints[rng() % std::size(ints)];
    case 1: return qint64(rng() % 64) - 8;
    case 2: return rng() % 2 ? 2.0 : 0.5;
    case 3: {
        static const char* const texts[] = {"", " 7", "FF", "256", "12x", "F", "0A"};
        return QString::fromLatin1(texts[rng() % std::size(texts)]);
    }
    case 4: return QByteArray("\xff\x00", 2);
    case 5: {
        // Imported text the station cleans or refuses: control characters,
        // accents, a length past any field.
        static const char* const texts[] = {"ZONA\x01\t1", "ÑANDÚ ÁREA", "  ", "\x7f", "%_'\""};
        if (rng() % 4 == 0)
            return QString(300, QLatin1Char('A'));
        return QString::fromUtf8(texts[rng() % std::size(texts)]);
    }
    default: return {};
    }
}

// The file's shape changed as an older or damaged update file would have it:
// a column or table missing, a table of another name, a column more.
void editSchema(const QSqlDatabase& c, const Table& t, std::minstd_rand& rng)
{
    const QString table = QString::fromLatin1(t.name);
    const QString column = QString::fromLatin1(t.columns[rng() % t.columns.size()]);
    switch (rng() % 4) {
    case 0: db::exec(c, QStringLiteral("ALTER TABLE %1 DROP COLUMN \"%2\"").arg(table, column)); break;
    case 1: db::exec(c, QStringLiteral("ALTER TABLE %1 RENAME TO %1_x").arg(table)); break;
    case 2: db::exec(c, QStringLiteral("DROP TABLE %1").arg(table)); break;
    default: db::exec(c, QStringLiteral("ALTER TABLE %1 ADD COLUMN extra INTEGER DEFAULT 7").arg(table)); break;
    }
}

// A copy of a row with one column at an edge value: a new key the station
// lacks, or the same key twice in the file.
void copyRow(const QSqlDatabase& c, const Table& t, const QVariant& rowid, std::minstd_rand& rng)
{
    const QString table = QString::fromLatin1(t.name);
    QStringList columns;
    for (const char* col : t.columns)
        columns << QStringLiteral("\"%1\"").arg(QLatin1String(col));
    const QString list = columns.join(QLatin1Char(','));
    db::exec(c, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %1 WHERE rowid = ?").arg(table, list), {rowid});
    const QVariant copy = db::scalar(c, QStringLiteral("SELECT last_insert_rowid()"));
    const QString column = QString::fromLatin1(t.columns[rng() % t.columns.size()]);
    db::exec(c, QStringLiteral("UPDATE %1 SET \"%2\" = ? WHERE rowid = ?").arg(table, column), {edgeValue(rng), copy});
}

// One to three row edits on the update file in `data`; 0 when it is no
// database or the result does not fit.
size_t editRows(uint8_t* data, size_t size, size_t maxSize, std::minstd_rand& rng)
{
    static const QString file = QDir(fuzz::station().main.programDir()).filePath(QStringLiteral("mutar.mdb"));
    static const QString name = QStringLiteral("fuzz-mutar");
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(file + QLatin1String(suffix));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            return 0;
    }
    try {
        const QSqlDatabase c = db::open(name, file);
        for (int edits = 1 + int(rng() % 3); edits > 0; --edits) {
            const Table& t = kTables[rng() % std::size(kTables)];
            const QString table = QString::fromLatin1(t.name);
            const qint64 rows = db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).toLongLong();
            if (rows == 0)
                continue;
            const QVariant rowid =
                db::scalar(c, QStringLiteral("SELECT rowid FROM %1 LIMIT 1 OFFSET ?").arg(table), {qint64(rng() % rows)});
            try {
                const unsigned kind = rng() % 16;
                if (kind == 0) {
                    editSchema(c, t, rng);
                    continue;
                }
                if (kind < 3) {
                    db::exec(c, QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(table), {rowid});
                    continue;
                }
                if (kind < 6) {
                    copyRow(c, t, rowid, rng);
                    continue;
                }
                const QString column = QString::fromLatin1(t.columns[rng() % t.columns.size()]);
                db::exec(c, QStringLiteral("UPDATE %1 SET \"%2\" = ? WHERE rowid = ?").arg(table, column),
                         {edgeValue(rng), rowid});
            } catch (const db::Error&) {
                // A change the file's own keys refuse.
            }
        }
    } catch (const db::Error&) {
        db::close(name);
        return 0;
    }
    db::close(name);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || size_t(f.size()) > maxSize)
        return 0;
    const QByteArray edited = f.readAll();
    std::memcpy(data, edited.constData(), size_t(edited.size()));
    return size_t(edited.size());
}

// The rows of `panels` in the catalogue tables (template 1's values only, as
// an update file carries them), table by table.
QList<qint64> catalogueRows(const QSqlDatabase& c, const QString& panels)
{
    QList<qint64> n;
    for (const char* t : {"paneles", "secciones", "secciones_valores", "secciones_items"})
        n << db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM %1 WHERE id_panel IN (%2)").arg(QLatin1String(t), panels))
                 .toLongLong();
    n << db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM configuraciones_valores WHERE id_configuracion = 1 AND "
                                      "id_panel IN (%1)")
                           .arg(panels))
             .toLongLong();
    return n;
}

// The models of the file that the station now holds.
QList<int> broughtModels(const QSqlDatabase& update, const QSqlDatabase& station)
{
    QList<int> panels;
    try {
        QSqlQuery q = db::exec(update, QStringLiteral("SELECT DISTINCT id_panel FROM paneles"));
        while (db::next(q)) {
            const int p = q.value(0).toInt();
            if (db::scalar(station, QStringLiteral("SELECT COUNT(*) FROM paneles WHERE id_panel = ?"), {p}).toInt() == 1)
                panels << p;
        }
    } catch (const db::Error&) {
        return {}; // a file whose models cannot be listed brought none
    }
    return panels;
}

QString sqlList(const QList<int>& ids)
{
    QStringList keys;
    for (int id : ids)
        keys << QString::number(id);
    return keys.join(QLatin1Char(','));
}

// What the station holds of the models the file brought, it can ship again:
// exported and merged into the station as it was before the file, it gives
// the same catalogue rows.
void roundTrip(const QList<int>& panels, const QSqlDatabase& station, const QString& stationFile,
               const QString& pristine, const QString& dir)
{
    if (panels.isEmpty())
        return;
    const QString shipped = QDir(dir).filePath(QStringLiteral("reenvio.mdb"));
    const QString second = QDir(dir).filePath(QStringLiteral("segunda.mdb"));
    QFile::remove(shipped);
    QFile::remove(second);
    QFile::copy(pristine, second);
    QFile::setPermissions(second, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString names[] = {QStringLiteral("fuzz-reenvio"), QStringLiteral("fuzz-segunda")};
    bool merged = true;
    QList<qint64> again;
    try {
        export_store::exportCatalogue(stationFile, shipped, panels);
        const QSqlDatabase file = db::open(names[0], shipped);
        const QSqlDatabase other = db::open(names[1], second);
        db::exec(other, QStringLiteral("PRAGMA synchronous = OFF"));
        migration::CatalogueMerge m(file, other);
        m.run();
        again = catalogueRows(other, sqlList(panels));
    } catch (const db::Error&) {
        merged = false;
    }
    for (const QString& n : names)
        db::close(n);
    fuzz::require(merged, "el catálogo que la estación exporta no se puede volver a fusionar");
    fuzz::require(again == catalogueRows(station, sqlList(panels)),
                  "el catálogo exportado y fusionado de nuevo no es el de la estación");
}

// An editor opened on a merged template value and saved without a change
// stores what it stored the first time: the fill it hides is the fill it
// adds back.
void editorKeepsValues(const QSqlDatabase& station, const QList<int>& panels)
{
    QSqlQuery q = db::exec(station, QStringLiteral("SELECT s.tipo, s.caracteres, s.filler, v.valor FROM "
                                                   "configuraciones_valores v JOIN secciones s USING (id_panel, "
                                                   "id_seccion) WHERE v.id_configuracion = 1 AND v.id_panel IN (%1)")
                                         .arg(sqlList(panels)));
    while (db::next(q)) {
        const SectionFormat f{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString()};
        if (!f.sizeKnown())
            continue;
        const std::optional<QString> first = f.saved(f.shown(q.value(3).toString()));
        if (!first)
            continue;
        fuzz::require(f.saved(f.shown(*first)) == first, "abrir y guardar un valor sin cambios lo cambia");
        f.defaultShown(*first);
    }
}

// Every text of a report inside the page's margins and no wider than its
// column (a cut word ends in a hyphen on its line; a column narrower than
// one letter and the hyphen is the only overflow allowed).
void requireLaidOut(const reports::Document& doc)
{
    const reports::PageSetup& s = doc.setup;
    for (const reports::Page& page : doc.pages)
        for (const reports::PlacedText& t : page.texts) {
            fuzz::require(t.rect.left() >= s.margins.left() - 0.5 &&
                              t.rect.right() <= s.paper.width() - s.margins.right() + 0.5,
                          "un texto del reporte fuera de los márgenes");
            const qreal width = QFontMetricsF(reports::fontFor(t.style)).horizontalAdvance(t.text);
            fuzz::require(width <= t.rect.width() + 0.5 || t.text.size() <= 2, "un texto del reporte más ancho que su columna");
        }
}

// The sections the file carries; a whole demo model's report per input
// would take most of each run.
using SectionKeys = QSet<QPair<int, int>>;
SectionKeys fileSections(const QSqlDatabase& update)
{
    SectionKeys keys;
    QSqlQuery q = db::exec(update, QStringLiteral("SELECT id_panel, id_seccion FROM secciones"));
    while (db::next(q))
        keys.insert({q.value(0).toInt(), q.value(1).toInt()});
    return keys;
}

QList<report_store::ProgrammingData> onlyOf(QList<report_store::ProgrammingData> data, int panel,
                                            const SectionKeys& keys)
{
    for (report_store::ProgrammingData& d : data)
        d.sections.removeIf([&](const report_store::SectionRow& r) { return !keys.contains({panel, r.id_seccion}); });
    return data;
}

// The template report of the sections the file brought, and the panel
// report of a subscriber given the first merged model.
void printModels(const QSqlDatabase& update, const QSqlDatabase& station, const QList<int>& panels)
{
    if (panels.isEmpty())
        return;
    const SectionKeys keys = fileSections(update);
    const QDate printed(2026, 1, 2);
    for (int p : panels)
        requireLaidOut(reports::dr_configuracion(onlyOf(report_store::configuracion(station, p, 1), p, keys), {}, printed));
    const int first = panels.first();
    db::exec(station, QStringLiteral("UPDATE abonados SET id_panel = ?, id_configuracion = 1 WHERE id_abonado = 2"),
             {first});
    {
        db::Transaction tr(station);
        if (copyValues(station, 2, first, 999, 1, 1))
            tr.commit();
    }
    requireLaidOut(reports::dr_panel(onlyOf(report_store::panel(station, 2, first, 1), first, keys), {}, printed));
}

} // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed)
{
    std::minstd_rand rng(seed);
    if (rng() % 2) {
        if (const size_t n = editRows(data, size, maxSize, rng))
            return n;
    }
    return LLVMFuzzerMutate(data, size, maxSize);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString dir = fuzz::station().main.programDir();
    static const QString pristineDb = QDir(dir).filePath(QStringLiteral("pristine.mdb"));
    static const QString dbFile = QDir(dir).filePath(mdl_main::DbFile);
    static const QString updateFile = QDir(dir).filePath(mdl_main::UpdateFile);
    static bool ready = false;
    if (!ready) {
        db::close(mdl_main::DbConnection);
        QFile::copy(dbFile, pristineDb);
        ready = true;
    }
    db::close(mdl_main::DbConnection);
    db::close(kUpdate);
    QFile::remove(dbFile);
    QFile::copy(pristineDb, dbFile);
    QFile::setPermissions(dbFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // A mutated header may ask for a journal or a write-ahead log.
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(updateFile + QLatin1String(suffix));
    {
        QFile f(updateFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            return 0;
    }
    const QSqlDatabase station = db::open(mdl_main::DbConnection, dbFile);
    // A disk sync per merged batch would take most of each run; this copy
    // need not survive a crash.
    db::exec(station, QStringLiteral("PRAGMA synchronous = OFF"));

    // The start-up's check: a file that is no update file is never merged.
    QSqlDatabase update;
    try {
        update = db::open(kUpdate, updateFile);
        if (!migration::CatalogueMerge::unreadable(update).isEmpty())
            return 0;
    } catch (const db::Error&) {
        return 0;
    }

    migration::CatalogueMerge merge(update, station);
    // Batches of a few rows, so that a refused row also falls in a later
    // batch of the small seeds, after others were committed.
    merge.batchRows = 4;
    double shown = 0;
    merge.onProgress = [&shown](double p) {
        fuzz::require(p >= shown && p <= 100, "el progreso de la migración retrocede o pasa del 100 %");
        shown = p;
    };
    try {
        merge.run();
    } catch (const db::Error&) {
        // Refused rows stop the merge: what came before stays merged.
    }

    // Whatever got in is within the station's ranges.
    const int outside =
        db::scalar(station, QStringLiteral(
                                "SELECT (SELECT COUNT(*) FROM secciones WHERE id_panel < 1 OR id_seccion < 0 OR tipo NOT "
                                "BETWEEN 1 AND 5 OR posicion NOT BETWEEN 0 AND 5000 OR long NOT BETWEEN 0 AND "
                                "2 * (5001 - posicion) OR (caracteres IS NOT NULL AND caracteres NOT BETWEEN 0 AND "
                                "2 * (5001 - posicion))) + (SELECT COUNT(*) FROM paneles WHERE id_panel < 1 OR "
                                "CAST(cadena AS INTEGER) NOT BETWEEN 0 AND 255) + (SELECT COUNT(*) FROM "
                                "configuraciones_valores WHERE id_estado NOT IN (-1, 0, 1)) + (SELECT COUNT(*) FROM "
                                "secciones_items i JOIN secciones s USING (id_panel, id_seccion) WHERE i.id_item < 1 OR "
                                "(s.tipo = 1 AND i.id_item > 8) OR (s.tipo IN (2, 3) AND s.posicion + i.id_item > 5001))"))
            .toInt();
    fuzz::require(outside == 0, "el catálogo fusionado tiene valores fuera de rango");

    const QList<int> brought = broughtModels(update, station);
    roundTrip(brought, station, dbFile, pristineDb, dir);
    try {
        editorKeepsValues(station, brought);
        printModels(update, station, brought);
    } catch (const db::Error&) {
        // A failed query reaches the operator as a message, not as a wrong
        // value or a crash, which is what these checks look for.
    }

    // The editor's formats and the link's memory image from every section.
    QSqlQuery q = db::exec(station, QStringLiteral("SELECT tipo, caracteres, filler FROM secciones"));
    while (q.next()) {
        SectionFormat f{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString()};
        fuzz::require(f.sizeKnown(), "una sección con un largo que nadie puede mostrar");
        f.saved(QString(qMin(f.caracteres, 64), QLatin1Char('1')));
        f.shown(QStringLiteral("12FF"));
    }
    try {
        copyValues(station, 1, 1, 999, 1, 1);
        db::exec(station, QStringLiteral("UPDATE abonados_valores SET id_estado = 1 WHERE id_abonado = 1"));
        static PanelLink link;
        link.setHost(&fuzz::station());
        link.requestTransfer(PanelLink::Transfer::Write);
        link.loadTransfer({1, 1, QString(), QString()});
        LinkTestAccess::setWritePending(link, false);
    } catch (const db::Error&) {
    }
    return 0;
}
