#pragma once
// Link module: the whole state of the panel link, one instance.

#include <QObject>

class mdl_trans : public QObject {
    Q_OBJECT
public:
    static mdl_trans& instance();

    // A connection to a panel is up; the station must not exit or open the
    // keypad meanwhile.
    bool connected = false;
    // The virtual keypad owns the serial port.
    bool keypadOpen = false;

private:
    mdl_trans() = default;
};
