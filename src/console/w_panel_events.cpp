#include "console/w_panel.h"

#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "console/events_model.h"
#include "data/db.h"
#include "data/event_store.h"
#include "data/messages.h"
#include "link/panel_link.h"

#include <QAction>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>
#include <QtDebug>

QWidget* w_panel::buildEventos()
{
    auto* page = new QWidget;
    st_borraeventos_t = new QLabel(QStringLiteral("Borrar Eventos Hasta:"), page);
    st_borraeventos_t->setObjectName(QStringLiteral("st_borraeventos_t"));
    dp_borraeventos = new QDateEdit(page);
    dp_borraeventos->setObjectName(QStringLiteral("dp_borraeventos"));
    dp_borraeventos->setCalendarPopup(true);
    dp_borraeventos->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    img_borraeventos = new QLabel(page);
    img_borraeventos->setObjectName(QStringLiteral("img_borraeventos"));
    img_borraeventos->setPixmap(ui::picture(QStringLiteral("aceptar")));
    img_borraeventos->setToolTip(QStringLiteral("Borra eventos hasta la fecha indicada"));
    clickable(img_borraeventos, nullptr, [this] { deleteEvents(); });

    dg_eventos = new QTableView(page);
    dg_eventos->setObjectName(QStringLiteral("dg_eventos"));
    m_eventos = new EventsModel(m_ctx.main, this);
    dg_eventos->setModel(m_eventos);
    dg_eventos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dg_eventos->setSelectionBehavior(QAbstractItemView::SelectRows);
    dg_eventos->verticalHeader()->hide();
    dg_eventos->setColumnWidth(0, qMax(ui::twips(2000), fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00")) + 12));
    dg_eventos->setColumnWidth(1, ui::twips(4000));
    dg_eventos->setColumnWidth(2, ui::twips(1000));
    dg_eventos->horizontalHeader()->setStretchLastSection(true);

    auto* l = new QVBoxLayout(page);
    l->setContentsMargins(3, 3, 3, 3);
    auto* top = new QHBoxLayout;
    top->addWidget(st_borraeventos_t);
    top->addWidget(dp_borraeventos);
    top->addWidget(img_borraeventos);
    top->addStretch(1);
    l->addLayout(top);
    l->addWidget(dg_eventos, 1);
    return page;
}

void w_panel::updateTransferKeys()
{
    // While a transfer or an event download is pending a click would be
    // ignored: the keys say so.
    const PanelLink& link = m_link;
    const bool busy = link.writePending() || link.readPending() || link.eventsPending();
    cb_subirch->setEnabled(m_marksUp && !busy);
    cb_bajarsel->setEnabled(m_marksDown && !busy && rightAllows(cb_bajarsel));
    cb_eventos->setEnabled(m_subscriber.number >= 1 && !busy && rightAllows(cb_eventos));
    // Reading the panel needs the link up and idle; the comparison window
    // changes values and marks, which only who may program the panel may.
    const bool idle = m_subscriber.number >= 1 && link.connected() && !busy && m_ctx.main.may(permissions::Right::Programar);
    cb_comparar->setEnabled(idle);
    cb_subircambios->setEnabled(idle);
}

void w_panel::startTransfer(PanelLink::Transfer kind, int log, bool loadImage)
{
    PanelLink& link = m_link;
    if (!lineIsMine() || !link.connected() || link.writePending() || link.readPending() || link.eventsPending())
        return;
    logOperation(log, subscriberText());
    // The flag first: the image counts the sections of the pending direction.
    link.requestTransfer(kind);
    if (loadImage)
        link.loadTransfer(m_subscriber);
    updateTransferKeys();
}

void w_panel::showEvents()
{
    m_eventos->show(m_subscriber.number);
}

QDate w_panel::defaultDeleteDate(const QDate& today)
{
    const QDate monthBack = today.addMonths(-1);
    return QDate(monthBack.year(), monthBack.month(), qMin(today.day(), 28));
}

void w_panel::deleteEvents()
{
    if (!m_ctx.main.may(permissions::Right::Borrar) || m_subscriber.number < 1)
        return;
    // Up to the start of the picked day, as the dates are compared.
    const QDate day = dp_borraeventos->date();
    const QString until = day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
    const QString shown = day.toString(QStringLiteral("dd/MM/yyyy"));
    try {
        const QSqlDatabase c = m_ctx.main.db();
        const int n = events::countUntil(c, m_subscriber.number, until);
        if (n == 0) {
            m_ctx.messages.show(QStringLiteral("Atención"),
                                QStringLiteral("No hay eventos anteriores al %1.").arg(shown),
                                MessageService::Icon::Information);
            return;
        }
        // Deleted events cannot be read from the panel again: ask first.
        if (!m_ctx.messages.askYesNo(n == 1 ? QStringLiteral("¿Borra 1 evento anterior al %1?").arg(shown)
                             : QStringLiteral("¿Borra %1 eventos anteriores al %2?").arg(n).arg(shown)))
            return;
        events::removeUntil(c, m_subscriber.number, until);
    } catch (const db::Error& e) {
        qWarning("w_panel: borrar eventos: %s", qPrintable(e.text()));
        return;
    }
    showEvents();
}
