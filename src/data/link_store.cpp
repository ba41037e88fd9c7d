#include "data/link_store.h"

#include "data/db.h"
#include "data/history_store.h"
#include "data/panel_image_store.h"
#include "data/settings_store.h"

#include <QHash>
#include <functional>

bool SqlLinkStore::failed(const db::Error& e)
{
    const QString text = e.text();
    qWarning("enlace: no se pudo guardar: %s", qPrintable(text));
    if (m_error)
        *m_error = text;
    return false;
}

std::optional<LinkIpSettings> SqlLinkStore::ipSettings()
{
    try {
        const std::optional<settings::Row> r = settings::read(m_c);
        if (!r)
            return std::nullopt;
        LinkIpSettings s;
        bool ok = false;
        s.port = r->ip_port.toInt(&ok);
        if (!ok)
            s.port = -1;
        s.allowed = r->ip_permitidas;
        s.listen = r->ip_escucha.trimmed();
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
        while (db::next(q))
            rows.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toString().trimmed(),
                         q.value(4).toInt(), q.value(5).toInt(), q.value(6).toInt()});
        return rows;
    } catch (const db::Error&) {
        return std::nullopt;
    }
}

namespace {

// `trace` writes the value history of the change in the same transaction.
bool markSections(const QSqlDatabase& c, qint32 abonado, const QList<int>& sections, int estado,
                  const std::function<void()>& trace = {})
{
    db::Transaction t(c);
    if (trace)
        trace();
    for (const int s : sections)
        db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = ? AND id_seccion = ?"),
                 {estado, abonado, s});
    t.commit();
    return true;
}

} // namespace

bool SqlLinkStore::sectionsWritten(qint32 abonado, const QList<int>& sections)
{
    try {
        return markSections(m_c, abonado, sections, 0, [&] {
            history::recordUpload(m_c, history::Stamp{history::origin::subida(), m_usuario}, abonado, sections, true);
        });
    } catch (const db::Error& e) {
        return failed(e);
    }
}

bool SqlLinkStore::sectionsVerified(qint32 abonado, const QList<int>& sections)
{
    try {
        return markSections(m_c, abonado, sections, 0, [&] {
            history::recordUpload(m_c, history::Stamp{history::origin::subidaVerificada(), m_usuario}, abonado, sections,
                                  false);
        });
    } catch (const db::Error& e) {
        return failed(e);
    }
}

bool SqlLinkStore::remarkForUpload(qint32 abonado, const QList<int>& sections)
{
    try {
        return markSections(m_c, abonado, sections, 1);
    } catch (const db::Error& e) {
        return failed(e);
    }
}

bool SqlLinkStore::verifyUploads()
{
    try {
        QSqlQuery q = db::exec(m_c, QStringLiteral("SELECT verificar_subidas FROM configuracion WHERE id_configuracion = 1"));
        return !db::next(q) || q.value(0).isNull() || q.value(0).toInt() != 0;
    } catch (const db::Error&) {
        return true;
    }
}

bool SqlLinkStore::storeSection(qint32 abonado, int seccion, const QList<QPair<int, QString>>& items)
{
    try {
        db::Transaction t(m_c);
        // The section as stored: only what differs is written, and each
        // value that changes gets its history row.
        struct Stored {
            QString valor;
            int estado;
        };
        QHash<int, Stored> stored;
        int panel = 0;
        QSqlQuery q = db::exec(m_c,
                               QStringLiteral("SELECT av.id_item, av.valor, av.id_estado, a.id_panel "
                                              "FROM abonados_valores av JOIN abonados a ON a.id_abonado = av.id_abonado "
                                              "WHERE av.id_abonado = ? AND av.id_seccion = ?"),
                               {abonado, seccion});
        while (db::next(q)) {
            stored.insert(q.value(0).toInt(), {q.value(1).toString(), q.value(2).toInt()});
            panel = q.value(3).toInt();
        }
        q.finish();
        history::Batch h(m_c, history::Stamp{history::origin::panel(), m_usuario});
        const values::Owner owner = values::Owner::subscriber(abonado, panel);
        QList<QPair<int, QString>> changed; // one statement sets them all
        QVariantList marked;                // unchanged, their mark cleared
        auto store = [&](int item, const Stored& now, const QString& valor) {
            if (now.valor != valor) {
                changed.append({item, valor});
                h.add(owner, seccion, item, now.valor, valor);
            } else if (now.estado != 0) {
                marked << item;
            }
        };
        for (const auto& [item, valor] : items) {
            if (item > 0) {
                if (const auto it = stored.constFind(item); it != stored.cend())
                    store(item, *it, valor);
            } else {
                for (auto it = stored.cbegin(); it != stored.cend(); ++it)
                    store(it.key(), *it, valor);
            }
        }
        writeSection(abonado, seccion, changed, marked);
        h.write();
        t.commit();
        return true;
    } catch (const db::Error& e) {
        return failed(e);
    }
}

void SqlLinkStore::writeSection(qint32 abonado, int seccion, const QList<QPair<int, QString>>& changed,
                                const QVariantList& marked)
{
    auto marks = [](qsizetype n) { return QStringList(n, QStringLiteral("?")).join(QStringLiteral(", ")); };
    if (!changed.isEmpty()) {
        QString cases;
        QVariantList v;
        QVariantList keys;
        for (const auto& [item, valor] : changed) {
            cases += QStringLiteral(" WHEN ? THEN ?");
            v << item << valor;
            keys << item;
        }
        db::exec(m_c,
                 QStringLiteral("UPDATE abonados_valores SET id_estado = 0, valor = CASE id_item%1 ELSE valor END "
                                "WHERE id_abonado = ? AND id_seccion = ? AND id_item IN (%2)")
                     .arg(cases, marks(keys.size())),
                 v + QVariantList{abonado, seccion} + keys);
    }
    if (!marked.isEmpty())
        db::exec(m_c,
                 QStringLiteral("UPDATE abonados_valores SET id_estado = 0 WHERE id_abonado = ? AND id_seccion = ? "
                                "AND id_item IN (%1)")
                     .arg(marks(marked.size())),
                 QVariantList{abonado, seccion} + marked);
}

bool SqlLinkStore::storeEvents(const QList<LinkEventRow>& rows)
{
    if (rows.isEmpty())
        return true;
    try {
        // One transaction for the answer: a commit (a disk sync) per record
        // cost more than everything else of a download. Inserted in the
        // answer's order, which `orden` keeps.
        db::Transaction t(m_c);
        for (const LinkEventRow& e : rows) {
            if (e.fecha.isEmpty())
                db::exec(m_c,
                         QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, "
                                        "id_tipo) VALUES (?, ?, ?, ?, ?)"),
                         {e.abonado, e.panel, e.evento, e.parametro, e.tipo});
            else
                db::exec(m_c,
                         QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, "
                                        "fecha, id_tipo) VALUES (?, ?, ?, ?, ?, ?)"),
                         {e.abonado, e.panel, e.evento, e.parametro, e.fecha, e.tipo});
        }
        t.commit();
        return true;
    } catch (const db::Error& e) {
        return failed(e);
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
    } catch (const db::Error& e) {
        return failed(e);
    }
}
