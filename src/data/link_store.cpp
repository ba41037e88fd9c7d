#include "data/link_store.h"

#include "data/db.h"
#include "data/db_file.h"
#include "data/history_store.h"
#include "data/panel_image_store.h"
#include "data/settings_store.h"

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

bool SqlLinkStore::storeSections(qint32 abonado, const QList<LinkSectionRead>& sections)
{
    QList<history::ReadValue> read;
    for (const LinkSectionRead& s : sections)
        for (const auto& [item, valor] : s.items)
            read.append({s.seccion, item, valor});
    if (read.isEmpty())
        return true;
    try {
        // One transaction for the sections of an answer, two statements per
        // batch of values however many sections: the history of the values
        // that change, read from the stored ones, then the values and their
        // marks. A commit (a disk sync) per section, or a statement per
        // value, cost more than the values themselves.
        const history::Stamp stamp{history::origin::panel(), m_usuario};
        constexpr qsizetype perStatement = 224; // 896 bound values, under either engine's limit
        db::Transaction t(m_c);
        for (qsizetype from = 0; from < read.size(); from += perStatement) {
            QVariantList v;
            const QString table = history::readTable(m_c, read.mid(from, perStatement), v);
            history::recordRead(m_c, stamp, abonado, table, v);
            // Only what differs is written (null and empty read alike); an
            // unchanged value only loses its mark.
            v << abonado;
            db::execWrite(m_c,
                     QStringLiteral("UPDATE abonados_valores SET id_estado = 0, valor = CASE WHEN COALESCE(valor, '') = "
                                    "COALESCE(n.column4, '') THEN valor ELSE n.column4 END FROM %1 AS n "
                                    "WHERE id_abonado = ? AND id_seccion = n.column2 AND (n.column3 = id_item OR n.column3 < 1) "
                                    "AND (id_estado <> 0 OR COALESCE(valor, '') <> COALESCE(n.column4, ''))")
                         .arg(table),
                     v);
        }
        t.commit();
        return true;
    } catch (const db::Error& e) {
        return failed(e);
    }
}

bool SqlLinkStore::storeEvents(const QList<LinkEventRow>& rows)
{
    if (rows.isEmpty())
        return true;
    try {
        // One transaction for all the rows, a statement per batch of them:
        // a commit (a disk sync) or a statement per record cost more than
        // everything else of a download. `orden` follows the order given,
        // which the statement keeps by each row's place; a record without a
        // date gets the time of storing, as the column's default would.
        const QString now = db::engine(m_c) == db::Engine::PostgreSQL
                                ? QStringLiteral("to_char(localtimestamp(0), 'YYYY-MM-DD HH24:MI:SS')")
                                : QStringLiteral("strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')");
        const QString tuple = QStringLiteral("(CAST(? AS INTEGER), CAST(? AS INTEGER), CAST(? AS INTEGER), "
                                             "CAST(? AS INTEGER), CAST(? AS INTEGER), CAST(? AS TEXT), CAST(? AS INTEGER))");
        constexpr qsizetype perStatement = 128; // 896 bound values, under either engine's limit
        const QVariant noDate = QVariant(QMetaType(QMetaType::QString));
        db::Transaction all(m_c);
        for (qsizetype from = 0; from < rows.size(); from += perStatement) {
            const qsizetype n = qMin(perStatement, rows.size() - from);
            QVariantList v;
            v.reserve(n * 7);
            for (qsizetype i = from; i < from + n; ++i) {
                const LinkEventRow& e = rows.at(i);
                v << qlonglong(i) << e.abonado << e.panel << e.evento << e.parametro
                  << (e.fecha.isEmpty() ? noDate : QVariant(e.fecha)) << e.tipo;
            }
            db::exec(m_c,
                     QStringLiteral("INSERT INTO abonados_eventos (id_abonado, id_panel, id_evento, parametro, fecha, "
                                    "id_tipo) SELECT column2, column3, column4, column5, COALESCE(column6, %1), column7 "
                                    "FROM (VALUES %2) AS v ORDER BY column1")
                         .arg(now, QStringList(n, tuple).join(QStringLiteral(", "))),
                     v);
        }
        all.commit();
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
