// Catalogue migration: an update file of 40 models (210,040 rows) merged into
// a station that already holds the first 20 of them with older texts, against
// a single-transaction bulk upsert of the same rows with the sqlite3 library.
// On a server the station's half is copied in first, as sorvent-db does.

#include "bench.h"

#include "data/catalogue_export_store.h"
#include "data/copy_store.h"
#include "data/db.h"
#include "data/seed.h"
#include "migration/catalogue_merge.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <sqlite3.h>
#include <stdexcept>
#include <string>

namespace {

constexpr int kFirstModel = 101, kModels = 40, kSections = 250, kValuesPerSection = 4, kItemsPerSection = 8;

void check(int rc, sqlite3* d, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(d));
}

sqlite3* openFile(const QString& file)
{
    sqlite3* d = nullptr;
    check(sqlite3_open(file.toUtf8().constData(), &d), d, "open");
    check(sqlite3_exec(d, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr), d, "pragma");
    return d;
}

struct Stmt {
    Stmt(sqlite3* d, const char* sql) : db(d) { check(sqlite3_prepare_v2(d, sql, -1, &s, nullptr), d, sql); }
    ~Stmt() { sqlite3_finalize(s); }
    Stmt& i(int n, qint64 v) { sqlite3_bind_int64(s, n, v); return *this; }
    Stmt& t(int n, const std::string& v) { sqlite3_bind_text(s, n, v.c_str(), int(v.size()), SQLITE_TRANSIENT); return *this; }
    void step() { check(sqlite3_step(s), db, "step"); sqlite3_reset(s); }
    sqlite3* db;
    sqlite3_stmt* s = nullptr;
};

// Writes models [from, to) into a station database; `suffix` marks the texts
// so that a station holding older texts gets them updated.
void fillModels(const QString& file, int from, int to, const std::string& suffix)
{
    sqlite3* d = openFile(file);
    check(sqlite3_exec(d, "BEGIN", nullptr, nullptr, nullptr), d, "begin");
    {
        Stmt panel(d, "INSERT INTO paneles VALUES (?, ?, ?, ?, 1)");
        Stmt section(d, "INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler) "
                     "VALUES (?, ?, ?, 2, 2, ?, ?, ?)");
        Stmt value(d, "INSERT INTO secciones_valores VALUES (?, ?, ?, ?)");
        Stmt item(d, "INSERT INTO secciones_items VALUES (?, ?, ?, ?)");
        Stmt tmpl(d, "INSERT INTO configuraciones_valores VALUES (1, ?, ?, ?, ?, 0)");
        for (int p = from; p < to; ++p) {
            panel.i(1, p).t(2, "BX-" + std::to_string(p)).t(3, "1.0" + suffix).t(4, std::to_string(p)).step();
            for (int s = 1; s <= kSections; ++s) {
                section.i(1, p).i(2, s).i(3, 1 + s % 5).i(4, s * 4).t(5, "Sección " + std::to_string(s) + suffix).t(6, "F").step();
                for (int v = 0; v < kValuesPerSection; ++v)
                    value.i(1, p).i(2, s).t(3, std::string(1, char('A' + v))).t(4, "Valor " + std::to_string(v) + suffix).step();
                for (int it = 1; it <= kItemsPerSection; ++it) {
                    item.i(1, p).i(2, s).i(3, it).t(4, "Ítem 'x' " + std::to_string(it) + suffix).step();
                    tmpl.i(1, p).i(2, s).i(3, it).t(4, "A" + suffix).step();
                }
            }
        }
    }
    check(sqlite3_exec(d, "COMMIT", nullptr, nullptr, nullptr), d, "commit");
    sqlite3_close(d);
}

// The five catalogue tables: how the update file is read and each row upserted.
struct Table {
    const char* select;
    const char* upsert;
    int columns;
    unsigned textMask; // bit j: column j is text
};
const Table kTables[] = {
    {"SELECT id_panel, codigo, version, cadena, id_seccionpwd FROM paneles",
     "INSERT INTO paneles (id_panel, codigo, version, cadena, id_seccionpwd) VALUES (?, ?, ?, ?, ?) "
     "ON CONFLICT (id_panel) DO UPDATE SET codigo = excluded.codigo, version = excluded.version, "
     "cadena = excluded.cadena, id_seccionpwd = excluded.id_seccionpwd",
     5, 0b01110},
    {"SELECT id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler FROM secciones",
     "INSERT INTO secciones (id_panel, id_seccion, tipo, long, caracteres, posicion, descripcion, filler) "
     "VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id_panel, id_seccion) DO UPDATE SET tipo = excluded.tipo, "
     "long = excluded.long, caracteres = excluded.caracteres, posicion = excluded.posicion, "
     "descripcion = excluded.descripcion, filler = excluded.filler",
     8, 0b11000000},
    {"SELECT id_panel, id_seccion, id_valor, descripcion FROM secciones_valores",
     "INSERT INTO secciones_valores (id_panel, id_seccion, id_valor, descripcion) VALUES (?, ?, ?, ?) "
     "ON CONFLICT (id_panel, id_seccion, id_valor) DO UPDATE SET descripcion = excluded.descripcion",
     4, 0b1100},
    {"SELECT id_panel, id_seccion, id_item, descripcion FROM secciones_items",
     "INSERT INTO secciones_items (id_panel, id_seccion, id_item, descripcion) VALUES (?, ?, ?, ?) "
     "ON CONFLICT (id_panel, id_seccion, id_item) DO UPDATE SET descripcion = excluded.descripcion",
     4, 0b1000},
    {"SELECT id_panel, id_seccion, id_item, valor, id_estado FROM configuraciones_valores WHERE id_configuracion = 1",
     "INSERT INTO configuraciones_valores (id_configuracion, id_panel, id_seccion, id_item, valor, id_estado) "
     "VALUES (1, ?, ?, ?, ?, ?) ON CONFLICT (id_configuracion, id_panel, id_seccion, id_item) "
     "DO UPDATE SET valor = excluded.valor, id_estado = excluded.id_estado",
     5, 0b01000},
};

// The same rows as one bulk upsert in a single transaction.
void bulkUpsert(const QString& stationFile, const QString& updateFile)
{
    sqlite3* st = openFile(stationFile);
    sqlite3* up = openFile(updateFile);
    check(sqlite3_exec(st, "BEGIN", nullptr, nullptr, nullptr), st, "begin");
    for (const Table& t : kTables) {
        Stmt in(up, t.select);
        Stmt out(st, t.upsert);
        int rc;
        while ((rc = sqlite3_step(in.s)) == SQLITE_ROW) {
            for (int j = 0; j < t.columns; ++j) {
                if (sqlite3_column_type(in.s, j) == SQLITE_NULL)
                    sqlite3_bind_null(out.s, j + 1);
                else if (t.textMask & (1u << j))
                    sqlite3_bind_text(out.s, j + 1, reinterpret_cast<const char*>(sqlite3_column_text(in.s, j)),
                                      sqlite3_column_bytes(in.s, j), SQLITE_TRANSIENT);
                else
                    sqlite3_bind_int64(out.s, j + 1, sqlite3_column_int64(in.s, j));
            }
            out.step();
        }
        check(rc, up, "select");
    }
    check(sqlite3_exec(st, "COMMIT", nullptr, nullptr, nullptr), st, "commit");
    sqlite3_close(up);
    sqlite3_close(st);
}

// The same rows upserted into a server in one transaction, as many rows a
// statement as its bound values allow: what the engine does at best.
void bulkUpsertServer(const QSqlDatabase& st, const QString& updateFile)
{
    sqlite3* up = openFile(updateFile);
    db::Transaction tr(st);
    for (const Table& t : kTables) {
        const std::string upsert(t.upsert);
        const size_t values = upsert.find(" VALUES ("), conflict = upsert.find(" ON CONFLICT");
        const QString head = QString::fromStdString(upsert.substr(0, values + 8));
        const QString tuple = QString::fromStdString(upsert.substr(values + 8, conflict - values - 8));
        const QString tail = QString::fromStdString(upsert.substr(conflict));
        const int perStatement = 900 / t.columns;
        Stmt in(up, t.select);
        QVariantList v;
        int rows = 0;
        const auto flush = [&] {
            if (rows == 0)
                return;
            db::exec(st, head + QStringList(rows, tuple).join(QStringLiteral(", ")) + tail, v);
            v.clear();
            rows = 0;
        };
        int rc;
        while ((rc = sqlite3_step(in.s)) == SQLITE_ROW) {
            for (int j = 0; j < t.columns; ++j) {
                if (sqlite3_column_type(in.s, j) == SQLITE_NULL)
                    v << ((t.textMask & (1u << j)) ? QVariant(QMetaType::fromType<QString>()) : QVariant(QMetaType::fromType<qlonglong>()));
                else if (t.textMask & (1u << j))
                    v << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(in.s, j)), sqlite3_column_bytes(in.s, j));
                else
                    v << qlonglong(sqlite3_column_int64(in.s, j));
            }
            if (++rows == perStatement)
                flush();
        }
        check(rc, up, "select");
        flush();
    }
    tr.commit();
    sqlite3_close(up);
}

// Row counts and the number of old texts left: both ways must agree.
std::string summary(const QString& file)
{
    sqlite3* d = openFile(file);
    std::string out;
    {
        Stmt q(d, "SELECT (SELECT COUNT(*) FROM paneles), (SELECT COUNT(*) FROM secciones), "
                  "(SELECT COUNT(*) FROM secciones_valores), (SELECT COUNT(*) FROM secciones_items), "
                  "(SELECT COUNT(*) FROM configuraciones_valores), "
                  "(SELECT COUNT(*) FROM secciones_items WHERE descripcion LIKE '%anterior%')");
        check(sqlite3_step(q.s), d, "summary");
        for (int j = 0; j < 6; ++j)
            out += std::to_string(sqlite3_column_int64(q.s, j)) + " ";
    }
    sqlite3_close(d);
    return out;
}

// Built once: the update file and the station that holds half of it.
struct Setup {
    QTemporaryDir dir;
    QString update = dir.filePath(QStringLiteral("novedades20.mdb"));
    QString base = dir.filePath(QStringLiteral("base.mdb"));
    qint64 rows = 0;
    std::vector<double> merged, direct, serverDirect; // ms

    Setup()
    {
        const QString maintainer = dir.filePath(QStringLiteral("mantenimiento.mdb"));
        seed::createStationDatabase(maintainer, false);
        fillModels(maintainer, kFirstModel, kFirstModel + kModels, "");
        QList<int> models;
        for (int p = kFirstModel; p < kFirstModel + kModels; ++p)
            models << p;
        const export_store::ExportCounts n = export_store::exportCatalogue(maintainer, update, models);
        rows = n.paneles + n.secciones + n.secciones_valores + n.secciones_items + n.configuraciones_valores;
        seed::createStationDatabase(base, false);
        fillModels(base, kFirstModel, kFirstModel + kModels / 2, " (anterior)");
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

// Merges the update file into `station`; the milliseconds it took.
double merge(const QSqlDatabase& station)
{
    Setup& s = setup();
    double ms = 0;
    {
        QSqlDatabase up = db::open(QStringLiteral("bench-novedades"), s.update);
        migration::CatalogueMerge m(up, station);
        QElapsedTimer t;
        t.start();
        m.run();
        ms = t.nsecsElapsed() / 1e6;
        if (m.rowsMerged() != s.rows || m.rowsInserted() != s.rows / 2)
            throw std::runtime_error("filas combinadas inesperadas");
    }
    db::close(QStringLiteral("bench-novedades"));
    return ms;
}

// The same counts as summary(), read from a server.
std::string serverSummary(const QSqlDatabase& c)
{
    QSqlQuery q = db::exec(c, "SELECT (SELECT COUNT(*) FROM paneles), (SELECT COUNT(*) FROM secciones), "
                              "(SELECT COUNT(*) FROM secciones_valores), (SELECT COUNT(*) FROM secciones_items), "
                              "(SELECT COUNT(*) FROM configuraciones_valores), "
                              "(SELECT COUNT(*) FROM secciones_items WHERE descripcion LIKE '%anterior%')");
    std::string out;
    if (db::next(q))
        for (int j = 0; j < 6; ++j)
            out += std::to_string(q.value(j).toLongLong()) + " ";
    return out;
}

// A server database holding the station's half, as sorvent-db copies it.
QSqlDatabase serverStation(const QString& connection)
{
    const QSqlDatabase st = bench::newServerDatabase(connection);
    copy_store::copyStation(db::open(QStringLiteral("bench-base"), setup().base), st);
    db::close(QStringLiteral("bench-base"));
    return st;
}

double runOnServer()
{
    Setup& s = setup();
    double ms = 0;
    std::string merged, direct;
    {
        const QSqlDatabase st = serverStation(QStringLiteral("bench-estacion"));
        ms = merge(st);
        merged = serverSummary(st);
    }
    db::close(QStringLiteral("bench-estacion"));
    {
        const QSqlDatabase st = serverStation(QStringLiteral("bench-directo"));
        QElapsedTimer t;
        t.start();
        bulkUpsertServer(st, s.update);
        s.serverDirect.push_back(t.nsecsElapsed() / 1e6);
        direct = serverSummary(st);
    }
    db::close(QStringLiteral("bench-directo"));
    if (merged != direct)
        throw std::runtime_error("la migración y el upsert directo no dejan lo mismo en el servidor");
    return ms;
}

double runOnce()
{
    if (bench::engine() == bench::Engine::server)
        return runOnServer();
    Setup& s = setup();
    const QString a = s.dir.filePath(QStringLiteral("a.mdb")), b = s.dir.filePath(QStringLiteral("b.mdb"));
    QFile::remove(a);
    QFile::remove(b);
    QFile::copy(s.base, a);
    QFile::copy(s.base, b);
    s.merged.push_back(merge(db::open(QStringLiteral("bench-estacion"), a)));
    db::close(QStringLiteral("bench-estacion"));
    QElapsedTimer t;
    t.start();
    bulkUpsert(b, s.update);
    s.direct.push_back(t.nsecsElapsed() / 1e6);
    if (summary(a) != summary(b))
        throw std::runtime_error("la migración y el upsert directo no dejan lo mismo");
    return s.merged.back();
}

// The bare twin is the direct bulk upsert on either engine.
const bench::Register reg("catalogue migration, 210,040 rows, half new", "2x the bare bulk upsert", 5, runOnce, {},
                          bench::On::both, [] {
    return bench::median(bench::engine() == bench::Engine::server ? setup().serverDirect : setup().direct);
});

} // namespace
