#include "data/link_store.h"

#include "data/db.h"
#include "data/panel_image_store.h"

std::optional<LinkIpSettings> SqlLinkStore::ipSettings()
{
    try {
        QSqlQuery q = db::exec(m_c, QStringLiteral("SELECT ip_port, ip_permitidas, ip_escucha FROM configuracion "
                                                   "WHERE id_configuracion = 1"));
        if (!q.next())
            return std::nullopt;
        LinkIpSettings s;
        bool ok = false;
        s.port = q.value(0).toInt(&ok);
        if (!ok)
            s.port = -1;
        s.allowed = db::text(q, "ip_permitidas");
        s.listen = db::text(q, "ip_escucha").trimmed();
        return s;
    } catch (const db::Error&) {
        return std::nullopt;
    }
}

std::optional<QList<LinkValueRow>> SqlLinkStore::transferValues(qint32 abonado)
{
    try {
        QSqlQuery q = db::exec(m_c,
                               QStringLiteral("SELECT s.posicion, s.tipo, s.long, av.valor, av.id_estado, av.id_seccion, "
                                              "av.id_item FROM abonados a, secciones s, abonados_valores av "
                                              "WHERE a.id_panel = s.id_panel AND av.id_seccion = s.id_seccion "
                                              "AND a.id_abonado = av.id_abonado AND a.id_abonado = ? "
                                              "ORDER BY s.posicion, av.id_item"),
                               {abonado});
        QList<LinkValueRow> rows;
        while (q.next())
            rows.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toString().trimmed(),
                         q.value(4).toInt(), q.value(5).toInt(), q.value(6).toInt()});
        return rows;
    } catch (const db::Error&) {
        return std::nullopt;
    }
}

namespace {

bool markSections(const QSqlDatabase& c, qint32 abonado, const QList<int>& sections, int estado)
{
    try {
        db::Transaction t(c);
        for (const int s : sections)
            db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = ? AND id_seccion = ?"),
                     {estado, abonado, s});
        t.commit();
        return true;
    } catch (const db::Error&) {
        return false;
    }
}

} // namespace

bool SqlLinkStore::sectionsWritten(qint32 abonado, const QList<int>& sections)
{
    return markSections(m_c, abonado, sections, 0);
}

bool SqlLinkStore::remarkForUpload(qint32 abonado, const QList<int>& sections)
{
    return markSections(m_c, abonado, sections, 1);
}

bool SqlLinkStore::verifyUploads()
{
    try {
        QSqlQuery q = db::exec(m_c, QStringLiteral("SELECT verificar_subidas FROM configuracion WHERE id_configuracion = 1"));
        return !q.next() || q.value(0).isNull() || q.value(0).toInt() != 0;
    } catch (const db::Error&) {
        return true;
    }
}

bool SqlLinkStore::storeSection(qint32 abonado, int seccion, const QList<QPair<int, QString>>& items)
{
    try {
        db::Transaction t(m_c);
        for (const auto& [item, valor] : items) {
            if (item > 0)
                db::exec(m_c,
                         QStringLiteral("UPDATE abonados_valores SET id_estado = 0, valor = ? "
                                        "WHERE id_abonado = ? AND id_seccion = ? AND id_item = ?"),
                         {valor, abonado, seccion, item});
            else
                db::exec(m_c,
                         QStringLiteral("UPDATE abonados_valores SET id_estado = 0, valor = ? "
                                        "WHERE id_abonado = ? AND id_seccion = ?"),
                         {valor, abonado, seccion});
        }
        t.commit();
        return true;
    } catch (const db::Error&) {
        return false;
    }
}

bool SqlLinkStore::storeEvent(const LinkEventRow& e)
{
    try {
        db::Transaction t(m_c);
        if (e.fecha.isEmpty())
            db::exec(m_c,
                     QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, id_tipo) "
                                    "VALUES (?, ?, ?, ?, ?)"),
                     {e.abonado, e.panel, e.evento, e.parametro, e.tipo});
        else
            db::exec(m_c,
                     QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, fecha, "
                                    "id_tipo) VALUES (?, ?, ?, ?, ?, ?)"),
                     {e.abonado, e.panel, e.evento, e.parametro, e.fecha, e.tipo});
        t.commit();
        return true;
    } catch (const db::Error&) {
        return false;
    }
}

std::optional<QPair<QByteArray, QByteArray>> SqlLinkStore::knownPanelImage(qint32 abonado)
{
    try {
        if (const auto k = panel_image::read(m_c, abonado))
            return qMakePair(k->memoria, k->conocida);
    } catch (const db::Error&) {
    }
    return std::nullopt;
}

bool SqlLinkStore::rememberPanelBytes(qint32 abonado, const QByteArray& bytes, const QByteArray& known)
{
    try {
        panel_image::merge(m_c, abonado, bytes, known);
        return true;
    } catch (const db::Error&) {
        return false;
    }
}
