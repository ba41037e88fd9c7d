#include "data/search_store.h"

#include "data/db.h"
#include "data/db_file.h"
#include "data/permissions.h"

#include <QSqlRecord>
#include <sqlite3.h>

namespace searchlists {

namespace {

QString statement(List list)
{
    switch (list) {
    case List::Subscribers:
        return QStringLiteral("SELECT a.id_abonado, a.codigo, a.apellido, a.nombre, a.calle, a.numero, a.localidad "
                              "FROM abonados a WHERE ") +
               permissions::groupCondition(QStringLiteral("a")) + QStringLiteral(" ORDER BY a.id_abonado");
    case List::Users:
        return QStringLiteral("SELECT id_usuario, usuario FROM usuarios ORDER BY id_usuario");
    case List::Panels:
        return QStringLiteral("SELECT id_panel, codigo, version FROM paneles ORDER BY id_panel");
    case List::Templates:
        break;
    }
    return QStringLiteral("SELECT id_configuracion, descripcion FROM configuraciones ORDER BY id_configuracion");
}

// On a file the rows are read through the engine itself: for a list of tens
// of thousands of subscribers, QtSql's value per cell cost more than the
// query. Cells read as QtSql reads them: numbers as their digits, a null as
// the empty text.
Rows readFile(sqlite3* h, const QString& sql, const QVariantList& binds)
{
    sqlite3_stmt* st = nullptr;
    const auto fail = [&] {
        const QString why = QString::fromUtf8(sqlite3_errmsg(h));
        sqlite3_finalize(st);
        throw db::Error(why);
    };
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(h, text.constData(), int(text.size()), &st, nullptr) != SQLITE_OK)
        fail();
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& v = binds.at(i);
        int rc = SQLITE_OK;
        if (v.isNull()) {
            rc = sqlite3_bind_null(st, i + 1);
        } else if (v.typeId() == QMetaType::QString) {
            const QByteArray b = v.toString().toUtf8();
            rc = sqlite3_bind_text(st, i + 1, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_int64(st, i + 1, v.toLongLong());
        }
        if (rc != SQLITE_OK)
            fail();
    }
    Rows rows;
    rows.columns = sqlite3_column_count(st);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        rows.ids << sqlite3_column_int(st, 0);
        for (int i = 0; i < rows.columns; ++i)
            rows.cells << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                            sqlite3_column_bytes(st, i));
    }
    if (rc != SQLITE_DONE)
        fail();
    sqlite3_finalize(st);
    return rows;
}

} // namespace

Rows read(const QSqlDatabase& c, List list, int id_usuario)
{
    const QVariantList binds = list == List::Subscribers ? permissions::groupBinds(id_usuario) : QVariantList{};
    if (sqlite3* h = db::sqliteHandle(c))
        return readFile(h, statement(list), binds);
    // Every row, however many, fetched at once.
    QSqlQuery q = db::execWhole(c, statement(list), binds);
    Rows rows;
    rows.columns = q.record().count();
    while (db::next(q)) {
        rows.ids << q.value(0).toInt();
        for (int i = 0; i < rows.columns; ++i)
            rows.cells << q.value(i).toString();
    }
    return rows;
}

} // namespace searchlists
