#include "app/ui_shell.h"

#include "app/station.h"
#include "ui/ui_geometry.h"
#include "app/w_login.h"
#include "app/w_main.h"
#include "app/w_splash.h"
#include "app/ui_startup_hooks.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>


AppShell::AppShell(Station& station, QObject* parent) : QObject(parent), m_station(station)
{
    onEnd = [](int code) { QCoreApplication::exit(code); };
}

AppShell::~AppShell()
{
    if (m_main)
        m_main->removeEventFilter(this);
    delete m_login;
    delete m_splash;
    delete m_main;
}

void AppShell::start()
{
    m_splash = new w_splash;
    connect(m_splash, &w_splash::elapsed, this, [this] { m_station.main.initialize(*this); });
    m_splash->show();
}

SerialPort* AppShell::comMain()
{
    if (!m_main) {
        m_main = new w_main(m_station.ctx, m_station.trans);
        m_main->endProgram = [this](int code) { endProgram(code); };
        registerWindows(*m_main, m_station);
        // The modem panel re-runs start-up: settings re-read, port re-opened.
        m_main->onModemPanelClicked = [this] { m_station.main.initialize(*this); };
    }
    return m_main->com_main;
}

void AppShell::setKeypadButtonVisible(bool visible)
{
    if (m_main)
        m_main->action(QStringLiteral("cb_teclado"))->setVisible(visible);
}

void AppShell::showMainWindow()
{
    m_main->show();
    m_main->setWindowState(m_main->windowState() | Qt::WindowMaximized);
}

void AppShell::closeSplash()
{
    if (m_splash) {
        m_splash->close();
        m_splash->deleteLater();
    }
}

void AppShell::runCatalogueCheck()
{
    if (m_station.catalogueCheck)
        m_station.catalogueCheck(*this);
}

void AppShell::runLogin()
{
    if (ended)
        return;
    m_login = new w_login(m_station.ctx, m_main);
    m_login->setAttribute(Qt::WA_DeleteOnClose);
    m_login->setWindowModality(Qt::ApplicationModal);
    // Without a successful login the program ends at once, uncompacted.
    connect(m_login, &QDialog::finished, this, [this] {
        if (m_main)
            m_main->removeEventFilter(this);
        if (!m_login || !m_login->accepted())
            endProgram(0);
        else
            m_station.applyJobSetting();
    });
    placeLogin();
    m_login->show();
    // The package check waits for this line: start-up went all the way.
    qInfo("diálogo de ingreso abierto");
    // The window system maximises the main window after it is shown: the
    // login follows it until it closes.
    m_main->installEventFilter(this);
}

void AppShell::placeLogin()
{
    if (m_login && m_main)
        ui::centreOver(m_login, m_main->geometry(), 700);
}

bool AppShell::eventFilter(QObject* o, QEvent* e)
{
    if (o == m_main && m_login && m_login->isVisible() && (e->type() == QEvent::Resize || e->type() == QEvent::Move))
        placeLogin();
    return QObject::eventFilter(o, e);
}

void AppShell::endProgram(int code)
{
    ended = true;
    if (onEnd)
        onEnd(code);
}
