#include "data/panel_image_store.h"

#include "data/db.h"

#include <QSqlQuery>

namespace panel_image {

std::optional<Known> read(const QSqlDatabase& c, int abonado)
{
    QSqlQuery q = db::exec(c, QStringLiteral("SELECT memoria, conocida, fecha FROM abonados_imagen WHERE id_abonado = ?"),
                           {abonado});
    if (!db::next(q))
        return std::nullopt;
    Known k{q.value(0).toByteArray(), q.value(1).toByteArray(), q.value(2).toString()};
    // A short or damaged row counts only for what it holds.
    k.memoria = k.memoria.leftJustified(Size, '\0', true);
    k.conocida = k.conocida.leftJustified(Size, '\0', true);
    return k;
}

void merge(const QSqlDatabase& c, int abonado, const QByteArray& memoria, const QByteArray& known)
{
    db::Transaction t(c);
    Known k = read(c, abonado).value_or(Known{QByteArray(Size, '\0'), QByteArray(Size, '\0'), QString()});
    for (int a = 0; a < Size && a < memoria.size() && a < known.size(); ++a) {
        if (known.at(a)) {
            k.memoria[a] = memoria.at(a);
            k.conocida[a] = 1;
        }
    }
    db::exec(c,
             QStringLiteral("INSERT INTO abonados_imagen (id_abonado, fecha, memoria, conocida) VALUES (?, ?, ?, ?) "
                            "ON CONFLICT(id_abonado) DO UPDATE SET fecha = excluded.fecha, memoria = excluded.memoria, "
                            "conocida = excluded.conocida"),
             {abonado, db::nowText(), k.memoria, k.conocida});
    t.commit();
}

} // namespace panel_image
