#pragma once
// The console's lamps in words, for screen readers: the name of the lamp
// ("Zona 3") and its state ("Zona 3: abierta"), from the control's name and
// the picture the link chose for it.

#include <QString>

struct LampText {
    QString name;   // empty: not a lamp of the console
    QString state;
};

LampText lampText(const QString& control, const QString& picture);
