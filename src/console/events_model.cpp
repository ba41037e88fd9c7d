#include "console/events_model.h"

#include "session/mdl_main.h"
#include "data/db.h"
#include "link/frame_codec.h"

#include <QColor>
#include <QDateTime>
#include <QGuiApplication>
#include <QPalette>

namespace {
// Short records carry no date: the store put the download time.
bool downloadTime(const events::Row& r)
{
    return codec::protocolCodeOf(r.cadena) < 2;
}
} // namespace

void EventsModel::show(qint32 abonado)
{
    beginResetModel();
    m_abonado = abonado;
    m_rows.clear();
    m_complete = abonado < 1;
    if (!m_complete)
        m_rows = nextPage();
    endResetModel();
}

QList<events::Row> EventsModel::nextPage()
{
    QList<events::Row> page;
    try {
        page = events::page(m_station.db(), m_abonado, m_rows.isEmpty() ? 0 : m_rows.last().orden, PageRows);
    } catch (const db::Error& e) {
        qWarning("EventsModel: %s", qPrintable(e.text()));
    }
    m_complete = page.size() < PageRows;
    return page;
}

int EventsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int EventsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant EventsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const events::Row& r = m_rows.at(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case 0: {
            const QDateTime fecha = QDateTime::fromString(r.fecha, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            return fecha.isValid() ? fecha.toString(QStringLiteral("dd/MM/yyyy HH:mm")) : r.fecha;
        }
        case 1:
            return r.descripcion.isNull() ? QStringLiteral("Evento %1 (sin descripción)").arg(r.id_evento) : r.descripcion;
        case 2: return QString::number(r.parametro);
        default: return {};
        }
    }
    if (index.column() == 0 && downloadTime(r)) {
        if (role == Qt::ForegroundRole)
            return QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
        if (role == Qt::ToolTipRole)
            return QStringLiteral("Fecha de descarga: el panel no envía la fecha");
    }
    if (role == Qt::TextAlignmentRole && index.column() == 2)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant EventsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const captions[] = {"FECHA", "EVENTO", "USU/ZONA"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3)
        return QString::fromLatin1(captions[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool EventsModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && !m_complete;
}

void EventsModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    const QList<events::Row> page = nextPage();
    if (page.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size()) - 1);
    m_rows += page;
    endInsertRows();
}
