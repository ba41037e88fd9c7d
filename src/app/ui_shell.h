#pragma once
// Runs the station's start-up with its windows: splash, main window, the
// catalogue update check and the login, in that order.

#include "session/mdl_main.h"

class Station;

#include <QObject>
#include <QPointer>
#include <functional>

#include "app/w_login.h"
#include "app/w_main.h"
#include "app/w_splash.h"

class AppShell : public QObject, public ShellUi {
    Q_OBJECT
public:
    explicit AppShell(Station& station, QObject* parent = nullptr);
    ~AppShell() override;

    // Shows the splash; its timer runs initialize.
    void start();

    SerialPort* comMain() override;
    void setKeypadButtonVisible(bool visible) override;
    void showMainWindow() override;
    void closeSplash() override;
    void runCatalogueCheck() override;
    void runLogin() override;
    void endProgram(int code) override;

    w_main* mainWindow() const { return m_main; }
    w_splash* splash() const { return m_splash; }
    w_login* login() const { return m_login; }
    Station& station() const { return m_station; }

    // How the program ends (tests record it instead).
    std::function<void(int)> onEnd;
    bool ended = false;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    // The login: horizontally centred on the main window, 700 twips above its centre.
    void placeLogin();

    Station& m_station;
    QPointer<w_main> m_main;
    QPointer<w_splash> m_splash;
    QPointer<w_login> m_login;
};
