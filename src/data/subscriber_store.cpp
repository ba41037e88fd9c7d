#include "data/subscriber_store.h"

#include "data/db.h"
#include "data/history_store.h"
#include "data/shared_ops.h"

namespace subscribers {

std::optional<QSqlRecord> record(const QSqlDatabase& c, int abonado)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT * FROM abonados WHERE id_abonado = ?"), {abonado});
    if (!db::next(q))
        return std::nullopt;
    return q.record();
}

namespace {

// In the saving transaction: a save of another station with the same code
// waits for this one, so both cannot miss each other.
void checkCode(const QSqlDatabase& c, const QString& codigo, int abonado, const std::optional<CodeCheck>& check)
{
    if (!check)
        return;
    db::lockNewKeys(c, QStringLiteral("abonados"));
    const std::optional<CodeHolder> other = otherWithCode(c, codigo, abonado);
    if (other && other->abonado != check->accepted)
        throw CodeTaken(*other);
}

} // namespace

namespace {

// The record's columns from codigo to observaciones; the group may follow.
constexpr int kColumns = 24;

QVariantList withGroup(const QVariantList& fields)
{
    QVariantList v = fields.mid(0, kColumns);
    v << (fields.size() > kColumns ? fields.at(kColumns) : QVariant(QMetaType(QMetaType::Int)));
    return v;
}

} // namespace

int insert(const QSqlDatabase& c, const QVariantList& fields, int usuario, const std::optional<CodeCheck>& codeCheck)
{
    // Another station may take the same number meanwhile: then a new one.
    return db::withNewKey(c, [&] {
        checkCode(c, fields.at(0).toString(), 0, codeCheck);
        const int id = nextKey(c, QStringLiteral("abonados"), QStringLiteral("id_abonado"), 1);
        db::exec(c,
                 QStringLiteral("INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, "
                                "nombre, calle, numero, piso, depto, localidad, id_provincia, cp, tel_1, tel_2, "
                                "ref_contacto1, id_contacto1, tel_contacto1, ref_contacto2, id_contacto2, "
                                "tel_contacto2, ref_contacto3, id_contacto3, tel_contacto3, observaciones, id_grupo) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                 QVariantList{id} + withGroup(fields));
        copyValues(c, id, fields.at(1).toInt(), 999, fields.at(2).toInt(), usuario);
        return id;
    });
}

namespace {

bool sameRow(const QSqlRecord& a, const QSqlRecord& b)
{
    if (a.count() != b.count())
        return false;
    for (int i = 0; i < a.count(); ++i) {
        const QVariant x = a.value(i), y = b.value(i);
        if (x.isNull() != y.isNull() || x.toString() != y.toString())
            return false;
    }
    return true;
}

} // namespace

void update(const QSqlDatabase& c, int abonado, const QVariantList& fields, const std::optional<QSqlRecord>& asRead,
            const std::optional<CodeCheck>& codeCheck)
{
    db::Transaction t(c);
    checkCode(c, fields.at(0).toString(), abonado, codeCheck);
    if (asRead) {
        // Read again and kept from other stations' changes until the commit.
        QSqlQuery q = db::exec(c, QStringLiteral("SELECT * FROM abonados WHERE id_abonado = ?") + db::forUpdate(c), {abonado});
        if (!db::next(q))
            throw Changed(QStringLiteral("Otra estación eliminó este registro mientras usted lo editaba: no se guardaron los "
                                         "cambios."), true);
        if (!sameRow(q.record(), *asRead))
            throw Changed(QStringLiteral("Otra estación modificó este registro mientras usted lo editaba: no se guardaron "
                                         "los cambios. Se muestran los datos actuales."), false);
    }
    if (fields.size() > kColumns)
        db::exec(c, QStringLiteral("UPDATE abonados SET id_grupo = ? WHERE id_abonado = ?"), {fields.at(kColumns), abonado});
    QSqlQuery q = db::exec(
        c,
        QStringLiteral("UPDATE abonados SET codigo = ?, id_panel = ?, id_configuracion = ?, apellido = ?, "
                       "nombre = ?, calle = ?, numero = ?, piso = ?, depto = ?, localidad = ?, "
                       "id_provincia = ?, cp = ?, tel_1 = ?, tel_2 = ?, ref_contacto1 = ?, id_contacto1 = ?, "
                       "tel_contacto1 = ?, ref_contacto2 = ?, id_contacto2 = ?, tel_contacto2 = ?, "
                       "ref_contacto3 = ?, id_contacto3 = ?, tel_contacto3 = ?, observaciones = ? "
                       "WHERE id_abonado = ?"),
        fields.mid(0, kColumns) + QVariantList{abonado});
    // Saving over a subscriber that is gone is a failure, not a success.
    if (q.numRowsAffected() != 1)
        throw db::Error(QStringLiteral("El abonado %1 no existe").arg(abonado));
    t.commit();
}

void remove(const QSqlDatabase& c, int abonado)
{
    db::Transaction t(c);
    db::exec(c, QStringLiteral("DELETE FROM abonados WHERE id_abonado = ?"), {abonado});
    history::markDeleted(c, values::Owner::subscriber(abonado, 0));
    t.commit();
}

std::optional<CodeHolder> otherWithCode(const QSqlDatabase& c, const QString& codigo, int exceptAbonado)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT id_abonado, codigo, apellido FROM abonados WHERE codigo = ? "
                                             "AND id_abonado <> ? ORDER BY id_abonado"),
                           {codigo, exceptAbonado});
    if (!q.next())
        return std::nullopt;
    return CodeHolder{db::integer(q, "id_abonado"), db::text(q, "codigo"), db::text(q, "apellido")};
}

std::optional<ConsoleHeader> consoleHeader(const QSqlDatabase& c, int abonado)
{
    QSqlQuery q = db::exec(
        c,
        QStringLiteral("SELECT a.id_abonado, a.codigo, COALESCE(a.apellido, '') || ' ' || COALESCE(a.nombre, '') "
                       "AS nombre, a.tel_1, p.cadena AS panel, a.id_panel, a.id_configuracion, "
                       "COALESCE(p.codigo, '') || ' ' || COALESCE(p.version, '') AS modelo, av.valor "
                       "FROM abonados a, paneles p, abonados_valores av "
                       "WHERE a.id_panel = p.id_panel AND a.id_abonado = av.id_abonado "
                       "AND p.id_seccionpwd = av.id_seccion AND av.id_item = 1 AND a.id_abonado = ?"),
        {abonado});
    if (!db::next(q))
        return std::nullopt;
    ConsoleHeader h;
    h.abonado = db::integer(q, "id_abonado");
    h.codigo = db::text(q, "codigo");
    h.nombre = db::text(q, "nombre");
    h.telefono = db::text(q, "tel_1");
    h.modelo = db::text(q, "modelo");
    h.cadena = db::text(q, "panel");
    h.panel = db::integer(q, "id_panel");
    h.configuracion = db::integer(q, "id_configuracion");
    h.password = db::text(q, "valor");
    return h;
}

} // namespace subscribers
