#include "panelimage.h"

#include "data/db.h"

#include <QSqlQuery>
#include <QVariant>

namespace panelimage {

QList<Row> rows(const QSqlDatabase& c, int abonado)
{
    QList<Row> out;
    QSqlQuery q = db::exec(c,
                           QStringLiteral("SELECT s.posicion, s.tipo, s.long, s.id_seccion, v.id_item, v.valor, "
                                          "s.filler FROM abonados_valores v JOIN abonados a USING (id_abonado) "
                                          "JOIN secciones s ON s.id_panel = a.id_panel AND s.id_seccion = "
                                          "v.id_seccion WHERE v.id_abonado = ? ORDER BY s.posicion, v.id_item"),
                           {abonado});
    while (q.next())
        out << Row{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(),
                   q.value(4).toInt(), q.value(5).toString(), q.value(6).toString()};
    return out;
}

int markedRows(const QSqlDatabase& c, int abonado)
{
    return db::scalar(c, QStringLiteral("SELECT COUNT(*) FROM abonados_valores WHERE id_estado <> 0 AND id_abonado = ?"),
                      {abonado})
        .toInt();
}

QByteArray expectedImage(const QList<Row>& rows)
{
    QByteArray m(MemorySize, '\0');
    for (const Row& r : rows) {
        QString v = r.valor;
        switch (r.tipo) {
        case 1:
            if (v == QLatin1String("1"))
                m[r.pos] = char(quint8(m[r.pos]) | (1 << (r.item - 1)));
            break;
        case 2:
            m[r.pos + r.item - 1] = char(v.toInt(nullptr, 16));
            break;
        case 3:
            while (!r.filler.isEmpty() && v.endsWith(r.filler))
                v.chop(1);
            m[r.pos + r.item - 1] = char(v.toInt());
            break;
        default: {
            const QByteArray bytes = QByteArray::fromHex((v.left(r.lng) + (r.lng % 2 ? "0" : "")).toLatin1());
            for (int k = 0; k < bytes.size(); ++k)
                m[r.pos + k] = bytes.at(k);
            if (r.lng % 2) // the odd last digit is a byte of its own
                m[r.pos + r.lng / 2] = char(v.mid(r.lng - 1, 1).toInt(nullptr, 16));
        }
        }
    }
    return m;
}

Values expectedValues(const QList<Row>& rows, const QByteArray& m)
{
    Values out;
    for (const Row& r : rows) {
        QString v;
        switch (r.tipo) {
        case 1: v = quint8(m[r.pos]) >> (r.item - 1) & 1 ? "1" : "0"; break;
        case 2: v = QString::asprintf("%02X", quint8(m[r.pos + r.item - 1])); break;
        case 3: v = QString::asprintf("%03d", quint8(m[r.pos + r.item - 1])); break;
        default: v = QString::fromLatin1(m.mid(r.pos, (r.lng + 1) / 2).toHex().toUpper()); break;
        }
        out[{r.section, r.item}] = v;
    }
    return out;
}

Values storedValues(const QList<Row>& rows)
{
    Values out;
    for (const Row& r : rows)
        out[{r.section, r.item}] = r.valor;
    return out;
}

} // namespace panelimage
