// The console's hold on its subscriber when several stations share a
// server: a dial or a wait for the panel's call takes the subscriber, the
// end of the connection or of the wait gives it back; while another station
// holds it this console may look but not dial, mark or restore values.

#include "console/w_panel.h"

#include "session/mdl_main.h"
#include "data/db.h"
#include "data/lock_store.h"
#include "data/messages.h"
#include "data/users_store.h"
#include "link/panel_link.h"

#include <QLabel>
#include <QTimer>

bool w_panel::heldElsewhere()
{
    std::optional<locks::Holder> h;
    if (m_subscriber.number >= 1) {
        try {
            h = locks::heldByOther(m_ctx.main.db(), m_subscriber.number);
        } catch (const db::Error& e) {
            qWarning("w_panel: bloqueo: %s", qPrintable(e.text()));
        }
    }
    st_bloqueo->setText(h ? h->text() : QString());
    st_bloqueo->setVisible(h.has_value());
    // The line goes when the other station lets go: looked at again now and
    // then while it shows, never while the subscriber is free.
    if (!h)
        tm_bloqueo->stop();
    else if (!tm_bloqueo->isActive())
        tm_bloqueo->start();
    return h.has_value();
}

bool w_panel::refuseWhenHeldElsewhere()
{
    if (!heldElsewhere())
        return false;
    m_ctx.messages.showError(st_bloqueo->text());
    return true;
}

bool w_panel::takeSubscriber()
{
    if (m_subscriber.number < 1 || m_held == m_subscriber.number)
        return true;
    const mdl_main& m = m_ctx.main;
    try {
        const std::optional<users::Account> me = users::find(m.db(), m.currentUser);
        if (locks::acquire(m.db(), m_subscriber.number, me ? me->usuario : QStringLiteral("?"), db::stationName(m.db()))) {
            m_held = m_subscriber.number;
            m_heldLinkSeen = false;
            return true;
        }
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo reservar el abonado para esta estación.\n%1").arg(e.text()));
        return false;
    }
    refuseWhenHeldElsewhere();
    return false;
}

void w_panel::releaseSubscriberWhenIdle()
{
    // The dial may begin a moment after the click: the hold ends when the
    // link, having left idle, is idle again.
    if (m_ctx.trans.phase() != PanelLink::LinkPhase::Idle) {
        m_heldLinkSeen = m_held != 0;
        return;
    }
    if (m_heldLinkSeen)
        releaseSubscriber();
}

void w_panel::afterDialClick(bool dialled)
{
    if (dialled)
        logOperation(3, subscriberText());
    // No dial under way (refused, or failed at once): nothing to hold.
    if (m_ctx.trans.phase() == PanelLink::LinkPhase::Idle)
        releaseSubscriber();
}

void w_panel::waitClick(const std::function<void()>& click)
{
    // Waiting for the panel's call holds the subscriber as a dial does: the
    // panel that calls in is this subscriber's. A click that ends the wait
    // (or, connected, only switches the call-back to IP) takes nothing.
    const bool starting = m_ctx.trans.phase() == PanelLink::LinkPhase::Idle;
    if (starting && !takeSubscriber())
        return;
    click();
    if (starting && m_ctx.trans.phase() == PanelLink::LinkPhase::Idle)
        releaseSubscriber();
}

void w_panel::holdFollowsSubscriber()
{
    // The panel awaited is the one of the subscriber on show; a dial under
    // way keeps the hold on the subscriber it calls.
    if (m_held == 0 || m_held == m_subscriber.number || m_ctx.trans.phase() != PanelLink::LinkPhase::Listening)
        return;
    releaseSubscriber();
    if (takeSubscriber())
        m_heldLinkSeen = true; // the link left idle already: its return ends the hold
}

void w_panel::releaseSubscriber()
{
    if (m_held == 0)
        return;
    try {
        locks::release(m_ctx.main.db(), m_held);
    } catch (const db::Error& e) {
        // The server frees it with the session all the same.
        qWarning("w_panel: liberar abonado: %s", qPrintable(e.text()));
    }
    m_held = 0;
    m_heldLinkSeen = false;
}

void w_panel::holdAfterReconnect()
{
    // The server let go of the hold with the session it lost: take it again.
    // When another station took the subscriber meanwhile this console's
    // transfer must not go on: the call ends with its end frames.
    if (m_held == 0)
        return;
    const qint32 held = std::exchange(m_held, 0);
    const mdl_main& m = m_ctx.main;
    std::optional<locks::Holder> other;
    try {
        const std::optional<users::Account> me = users::find(m.db(), m.currentUser);
        if (locks::acquire(m.db(), held, me ? me->usuario : QStringLiteral("?"), db::stationName(m.db()))) {
            m_held = held;
            return;
        }
        other = locks::heldByOther(m.db(), held);
    } catch (const db::Error& e) {
        // Lost again: the next reconnection tries once more.
        m_held = held;
        qWarning("w_panel: bloqueo tras reconectar: %s", qPrintable(e.text()));
        return;
    }
    m_heldLinkSeen = false;
    PanelLink& link = m_ctx.trans;
    if (link.phase() == PanelLink::LinkPhase::Listening)
        link.stopWaiting();
    else
        link.hangUp();
    heldElsewhere();
    m_ctx.messages.showError(QStringLiteral("Mientras no había conexión con el servidor otra estación tomó el abonado "
                                            "(%1): la comunicación con el panel termina.")
                                 .arg(other ? other->text() : QStringLiteral("En uso por otra estación")));
}
