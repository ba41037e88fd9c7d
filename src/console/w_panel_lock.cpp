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
#include "link/line_sharing.h"
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

QString w_panel::operatorName() const
{
    const mdl_main& m = m_ctx.main;
    const std::optional<users::Account> me = users::find(m.db(), m.currentUser());
    return me ? me->usuario : QStringLiteral("?");
}

bool w_panel::lineIsMine()
{
    bool asked = false;
    const bool mine = takeLineFromJob(m_link, m_ctx.messages, &asked);
    m_tookLineFromJob = m_tookLineFromJob || asked;
    return mine;
}

bool w_panel::takeSubscriber()
{
    try {
        if (m_hold.take(m_subscriber.number))
            return true;
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo reservar el abonado para esta estación.\n%1").arg(e.text()));
        return false;
    }
    refuseWhenHeldElsewhere();
    return false;
}

void w_panel::releaseSubscriberWhenIdle()
{
    m_hold.linkChanged(m_link.phase() == PanelLink::LinkPhase::Idle);
}

void w_panel::afterDialClick(bool dialled)
{
    if (dialled)
        logOperation(3, subscriberText());
    m_hold.afterDial(m_link.phase() == PanelLink::LinkPhase::Idle);
}

void w_panel::waitClick(const std::function<void()>& click)
{
    // Waiting for the panel's call holds the subscriber as a dial does: the
    // panel that calls in is this subscriber's. A click that ends the wait
    // (or, connected, only switches the call-back to IP) takes nothing.
    if (!lineIsMine())
        return;
    const bool starting = m_link.phase() == PanelLink::LinkPhase::Idle;
    if (starting && !takeSubscriber())
        return;
    click();
    if (starting)
        m_hold.afterDial(m_link.phase() == PanelLink::LinkPhase::Idle);
}

void w_panel::holdFollowsSubscriber()
{
    try {
        if (!m_hold.follow(m_subscriber.number, m_link.phase() == PanelLink::LinkPhase::Listening))
            refuseWhenHeldElsewhere();
    } catch (const db::Error& e) {
        m_ctx.messages.showError(QStringLiteral("No se pudo reservar el abonado para esta estación.\n%1").arg(e.text()));
    }
}

void w_panel::releaseSubscriber()
{
    m_hold.release();
}

void w_panel::holdAfterReconnect()
{
    // When another station took the subscriber while the server was away
    // this console's transfer must not go on: the call ends with its end
    // frames.
    std::optional<locks::Holder> other;
    if (m_hold.afterReconnect(&other) != SubscriberHold::Reconnected::TakenByOther)
        return;
    PanelLink& link = m_link;
    if (link.phase() == PanelLink::LinkPhase::Listening)
        link.stopWaiting();
    else
        link.hangUp();
    heldElsewhere();
    m_ctx.messages.showError(QStringLiteral("Mientras no había conexión con el servidor otra estación tomó el abonado "
                                            "(%1): la comunicación con el panel termina.")
                                 .arg(other ? other->text() : QStringLiteral("En uso por otra estación")));
}
