// The catalogue merge of a mutated update file: the demo catalogue exported
// as an update file, then changed by the input (any column of any row set to
// a chosen integer, text or null, rows deleted), merged into a fresh station.
// Whatever the file holds, the merged catalogue stays within the ranges the
// station works with, and the editor and the link can use every section.

#include "fuzz_support.h"

#include "app/station.h"
#include "data/catalogue_export_store.h"
#include "data/db.h"
#include "data/shared_ops.h"
#include "link/mdl_trans.h"
#include "migration/catalogue_merge.h"
#include "records/section_format.h"

#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

struct Table {
    const char* name;
    const char* columns[8];
};
const Table kTables[] = {
    {"paneles", {"id_panel", "codigo", "version", "cadena", "id_seccionpwd"}},
    {"secciones", {"id_panel", "id_seccion", "tipo", "long", "caracteres", "posicion", "descripcion", "filler"}},
    {"secciones_valores", {"id_panel", "id_seccion", "id_valor", "descripcion"}},
    {"secciones_items", {"id_panel", "id_seccion", "id_item", "descripcion"}},
    {"configuraciones_valores", {"id_configuracion", "id_panel", "id_seccion", "id_item", "valor", "id_estado"}},
};

int columnCount(const Table& t)
{
    int n = 0;
    while (n < 8 && t.columns[n])
        ++n;
    return n;
}

// Reads the input a few bytes at a time.
struct Reader {
    const uint8_t* p;
    size_t n;
    bool more() const { return n > 0; }
    uint8_t byte()
    {
        if (!n)
            return 0;
        --n;
        return *p++;
    }
    qint64 integer()
    {
        // Small numbers most of the time, any 64-bit value now and then.
        const uint8_t kind = byte();
        if (kind < 0xC0)
            return qint64(qint8(byte())) * (kind % 4 == 0 ? 1000 : 1);
        qint64 v = 0;
        for (int i = 0; i < 8; ++i)
            v = (v << 8) | byte();
        return v;
    }
    QString text()
    {
        const int len = byte() % 12;
        QByteArray t;
        for (int i = 0; i < len; ++i)
            t += char(byte());
        return QString::fromLatin1(t);
    }
};

const QString kUpdate = QStringLiteral("fuzz-novedades");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString dir = fuzz::station().main.programDir();
    static const QString pristineDb = QDir(dir).filePath(QStringLiteral("pristine.mdb"));
    static const QString pristineUpdate = QDir(dir).filePath(QStringLiteral("pristine-novedades.mdb"));
    static const QString dbFile = QDir(dir).filePath(mdl_main::DbFile);
    static const QString updateFile = QDir(dir).filePath(mdl_main::UpdateFile);
    static bool ready = false;
    if (!ready) {
        db::close(mdl_main::DbConnection);
        QFile::copy(dbFile, pristineDb);
        // One model keeps every run short; the merge treats each model alike.
        export_store::exportCatalogue(pristineDb, pristineUpdate, {1});
        ready = true;
    }
    db::close(mdl_main::DbConnection);
    db::close(kUpdate);
    QFile::remove(dbFile);
    QFile::remove(updateFile);
    QFile::copy(pristineDb, dbFile);
    QFile::copy(pristineUpdate, updateFile);
    QFile::setPermissions(dbFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::setPermissions(updateFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QSqlDatabase station = db::open(mdl_main::DbConnection, dbFile);
    const QSqlDatabase update = db::open(kUpdate, updateFile);

    // The input's changes to the update file.
    Reader in{data, size};
    for (int edits = 0; in.more() && edits < 16; ++edits) {
        const Table& t = kTables[in.byte() % 5];
        const QString table = QString::fromLatin1(t.name);
        const qint64 rows = db::scalar(update, QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).toLongLong();
        const qint64 row = rows ? 1 + qint64(in.byte()) * 7 % rows : 1;
        const uint8_t action = in.byte();
        try {
            if (action == 0xFF) {
                db::exec(update, QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(table), {row});
                continue;
            }
            const QString column = QString::fromLatin1(t.columns[action % columnCount(t)]);
            QVariant value;
            switch (in.byte() % 3) {
            case 0: value = in.integer(); break;
            case 1: value = in.text(); break;
            default: break; // null
            }
            db::exec(update, QStringLiteral("UPDATE %1 SET %2 = ? WHERE rowid = ?").arg(table, column), {value, row});
        } catch (const db::Error&) {
            // A change the file's own keys refuse: the file stays as it was.
        }
    }

    try {
        migration::CatalogueMerge(update, station).run();
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

    // The editor's formats and the link's memory image from every section.
    QSqlQuery q = db::exec(station, QStringLiteral("SELECT tipo, caracteres, filler FROM secciones"));
    while (q.next()) {
        SectionFormat f{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString()};
        fuzz::require(f.sizeKnown(), "una sección con un largo que nadie puede mostrar");
        f.saved(QString(qMin(f.caracteres, 64), QLatin1Char('1')));
        f.shown(QStringLiteral("12FF"));
    }
    try {
        f_copiavalores(station, 1, 1, 999, 1, 1);
        db::exec(station, QStringLiteral("UPDATE abonados_valores SET id_estado = 1 WHERE id_abonado = 1"));
        static mdl_trans link;
        link.setHost(&fuzz::station());
        link.forTestSetWritePending(true);
        link.f_cargatransferencia(1);
        link.forTestSetWritePending(false);
    } catch (const db::Error&) {
    }
    return 0;
}
