// Memory map transfer and event log download: the scheduler and the decoder
// of mdl_trans call these. Until the memory image and the event records are
// handled here, a transfer finds nothing to move and the answers are only
// counted (mdl_trans::answersReceived).

#include "link/mdl_trans.h"

void mdl_trans::f_siguienteescritura()
{
    // No address is marked for writing: the transfer is over and the next
    // turn comes 100 ms later.
    writePending = false;
    waitCountdown = 1;
}

void mdl_trans::f_siguientelectura()
{
    readPending = false;
    waitCountdown = 1;
}

void mdl_trans::f_recibememoria(int count)
{
    Q_UNUSED(count);
}

void mdl_trans::f_confirmaescritura(int count)
{
    Q_UNUSED(count);
}

void mdl_trans::f_guardaeventos(int count)
{
    Q_UNUSED(count);
}

void mdl_trans::f_guardaeventosfecha(int count)
{
    Q_UNUSED(count);
}
