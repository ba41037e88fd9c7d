#pragma once
// The subscriber a link session works on, as the console (or any other
// caller) hands it over when it asks for a call, a transfer or a
// comparison. The link keeps it for the session: events are stored under
// it and its codes go into every request, whatever window is open.

#include <QString>

struct LinkSubscriber {
    qint32 number = 0;    // id_abonado; 0 when none
    qint32 model = 0;     // id_panel
    QString accessCode;   // the stored access code of the panel
    QString protocolCode; // cadena of the panel model
};
