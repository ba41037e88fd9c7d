#pragma once
// What the link needs from the station around it: the store it reads and
// writes, the state of the serial port in the station's settings, and the
// station's numbered error messages. The station hands one to
// PanelLink::setHost; a link without one has no port and no database.

#include <QString>
#include <memory>

class LinkStore;

class LinkHost {
public:
    virtual ~LinkHost() = default;
    // A store on the station's connection, for one use: no handle on the
    // connection outlives it (the station may close and reopen it).
    virtual std::unique_ptr<LinkStore> linkStore() = 0;
    // The station opened the serial port (a modem reset may reopen it).
    virtual bool portOpen() const = 0;
    // The serial device went away: the status bar shows the port closed.
    virtual void portLost() = 0;
    // Shows the station's error message `number`.
    virtual void showError(int number) = 0;
    // Shows `text` under `title` in a critical box.
    virtual void showMessage(const QString& title, const QString& text) = 0;
    // Why the store's last write failed (empty when unknown), and forgets it.
    virtual QString takeStoreError() { return {}; }
};
