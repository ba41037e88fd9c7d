#include "link/line_sharing.h"

#include "data/messages.h"
#include "link/panel_link.h"

bool takeLineFromJob(PanelLink& link, MessageService& messages, bool* asked, bool* interrupted)
{
    LineSharing* sharing = link.lineSharing();
    const qint32 subscriber = sharing ? sharing->jobOnLine() : 0;
    if (asked)
        *asked = subscriber != 0;
    if (interrupted)
        *interrupted = false;
    if (subscriber == 0)
        return true;
    const bool interrupt =
        messages.askYesNo(QStringLiteral("Hay una tarea en curso con el abonado %1. ¿La interrumpe?").arg(subscriber),
                          MessageService::Default::No);
    if (interrupted)
        *interrupted = interrupt;
    // The box's event loop ran the job on: the answer is for whatever it
    // is doing now (between panels it leaves the line to the operator).
    if (link.lineSharing() != sharing)
        return link.phase() == PanelLink::LinkPhase::Idle;
    sharing->operatorTakesLine(interrupt);
    return interrupt && link.phase() == PanelLink::LinkPhase::Idle && !link.waitingForCall();
}
