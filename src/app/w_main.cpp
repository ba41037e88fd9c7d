#include "app/w_main.h"

#include "app/compaction.h"
#include "session/mdl_main.h"
#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "ui/ui_unsaved.h"
#include "data/messages.h"
#include "link/datagramsocket_qt.h"
#include "link/panel_link.h"
#include "link/serialport_qt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

w_main::w_main(StationContext& ctx, PanelLink& link, QWidget* parent) : QMainWindow(parent), m_ctx(ctx), m_link(link)
{
    m_ctx.frame = this;
    setObjectName(QStringLiteral("w_main"));
    setWindowTitle(QStringLiteral("Quendal Sorvent"));

    mdi = new QMdiArea(this);
    mdi->setObjectName(QStringLiteral("mdi"));
    mdi->setBackground(QColor(118, 128, 140));
    setCentralWidget(mdi);

    tb_main = new QToolBar(this);
    tb_main->setObjectName(QStringLiteral("tb_main"));
    tb_main->setMovable(false);
    tb_main->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tb_main->setIconSize(QSize(24, 24));
    addToolBar(tb_main);
    addButton(QStringLiteral("Parámetros"), QStringLiteral("cb_parametros"), QStringLiteral("Parámetros del sistema"));
    addButton(QStringLiteral("Abonados"), QStringLiteral("cb_abonados"), QStringLiteral("ABM de Abonados"));
    addButton(QStringLiteral("Panel"), QStringLiteral("cb_panel"), QStringLiteral("Panel del equpio"));
    addButton(QStringLiteral("Configuraciones"), QStringLiteral("cb_configuracion"), QStringLiteral("Configuraciones de paneles"));
    addButton(QStringLiteral("Usuarios"), QStringLiteral("cb_usuarios"), QStringLiteral("Administración de Usuarios"));
    addButton(QStringLiteral("Log"), QStringLiteral("cb_log"), QStringLiteral("Log de operaciones"));
    addButton(QStringLiteral("Teclado"), QStringLiteral("cb_teclado"), QStringLiteral("Arir Teclado Virtual"));
    addButton(QStringLiteral("Salir"), QStringLiteral("cb_salir"), QStringLiteral("Salir del sistema"));
    // After the others, so that their positions stay as they were.
    addButton(QStringLiteral("Tareas"), QStringLiteral("cb_tareas"), QStringLiteral("Tareas programadas y sus resultados"));
    action(QStringLiteral("cb_teclado"))->setVisible(false);

    sb_main = new QStatusBar(this);
    sb_main->setObjectName(QStringLiteral("sb_main"));
    sb_main->setSizeGripEnabled(false);
    sb_main->setFixedHeight(ui::twips(300));
    setStatusBar(sb_main);
    sb_modem = new QWidget(sb_main);
    sb_modem->setObjectName(QStringLiteral("modem"));
    sb_modem->setCursor(Qt::PointingHandCursor);
    auto* ml = new QHBoxLayout(sb_modem);
    ml->setContentsMargins(4, 0, 4, 0);
    sb_modem_pic = new QLabel(sb_modem);
    sb_modem_pic->setObjectName(QStringLiteral("sb_modem_pic"));
    sb_modem_text = new QLabel(sb_modem);
    sb_modem_text->setObjectName(QStringLiteral("sb_modem_text"));
    ml->addWidget(sb_modem_pic);
    ml->addWidget(sb_modem_text);
    sb_modem->setFixedWidth(ui::twips(1400));
    sb_modem->installEventFilter(this);
    sb_panel2 = new QLabel(sb_main);
    sb_panel2->setObjectName(QStringLiteral("sb_panel2"));
    // Panel 2 takes the width left over and never asks for more: a window
    // that widened itself to fit its status bar would grow without end.
    sb_panel2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    sb_main->addWidget(sb_modem);
    sb_main->addWidget(sb_panel2, 1);

    com_main = new QtSerialPortAdapter(m_ctx.main.programDir(), this);
    com_main->setObjectName(QStringLiteral("com_main"));
    IP_server = new QtUdpSocketAdapter(this);
    IP_server->setObjectName(QStringLiteral("IP_server"));
    tmr_main = new QTimer(this);
    tmr_main->setObjectName(QStringLiteral("tmr_main"));
    tmr_main->setInterval(100);

    // The panel link: serial events and datagrams go to its handlers (or to
    // the keypad while it is open), and the timer drives its scheduler.
    link.setDevices(com_main, IP_server);
    connect(tmr_main, &QTimer::timeout, &link, &PanelLink::tick);
    // Why a call failed or the line dropped, where the operator sees it.
    connect(&link, &PanelLink::lineMessage, sb_panel2, &QLabel::setText);
    // ... and in the diagnostics log, for support.
    connect(&link, &PanelLink::lineMessage, this, [](const QString& text) {
        if (!text.isEmpty())
            qInfo("enlace: %s", qPrintable(text));
    });
    tmr_main->start();

    connect(&m_ctx.main, &mdl_main::portStatusChanged, this, &w_main::refreshPortStatus);
    // A lost server and its return, where the line messages go.
    connect(&m_ctx.main, &mdl_main::serverStatusChanged, this, [this] { sb_panel2->setText(m_ctx.main.serverStatusText()); });
    refreshPortStatus();

    endProgram = [](int code) { QCoreApplication::exit(code); };

    // The window system keeps the minimum; no resize handler sizes the window.
    setMinimumSize(ui::twipsSize(7000, 6000));
    resize(ui::twipsSize(9600, 7500));
}

w_main::~w_main()
{
    if (m_ctx.frame == this)
        m_ctx.frame = nullptr;
    m_ctx.main.detachPort(com_main);
    PanelLink& link = m_link;
    if (link.comPort() == com_main)
        link.setDevices(nullptr, nullptr);
}

bool w_main::openIpSocket()
{
    return m_link.openIpSocket();
}

void w_main::closeIpSocket()
{
    m_link.closeIpSocket();
}

void w_main::addButton(const QString& caption, const QString& key, const QString& tip)
{
    QAction* a = tb_main->addAction(ui::icon(key), caption);
    a->setObjectName(key);
    a->setToolTip(tip);
    connect(a, &QAction::triggered, this, [this, key] { dispatch(key); });
    m_buttons << a;
}

QAction* w_main::action(const QString& key) const
{
    for (QAction* a : m_buttons)
        if (a->objectName() == key)
            return a;
    return nullptr;
}

QAction* w_main::button(int position) const
{
    return m_buttons.value(position - 1);
}

void w_main::registerWindow(const QString& key, Factory f)
{
    m_factories.insert(key, std::move(f));
}

QWidget* w_main::child(const QString& key) const
{
    return m_children.value(key).data();
}

QWidget* w_main::showChild(const QString& key)
{
    QWidget* w = child(key);
    if (!w) {
        const Factory f = m_factories.value(key);
        if (!f)
            return nullptr;
        w = f();
        if (!w)
            return nullptr;
        w->setAttribute(Qt::WA_DeleteOnClose);
        QMdiSubWindow* sub = mdi->addSubWindow(w);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowIcon(ui::icon(key));
        // The child's own size is its client area.
        sub->adjustSize();
        m_children.insert(key, w);
        // Closing the child closes its frame too.
        connect(w, &QObject::destroyed, sub, [sub] { sub->close(); });
        sub->show();
        ui::placeChild(w);
    }
    if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget())) {
        sub->showNormal();
        sub->raise();
        mdi->setActiveSubWindow(sub);
    }
    w->activateWindow();
    return w;
}

void w_main::closeChild(const QString& key)
{
    if (QWidget* w = child(key)) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget()))
            sub->close();
        else
            w->close();
    }
}

void w_main::dispatch(const QString& key)
{
    if (key == QLatin1String("cb_salir")) {
        requestExit();
    } else if (key == QLatin1String("cb_panel")) {
        closeChild(QStringLiteral("cb_teclado"));
        showChild(key);
    } else if (key == QLatin1String("cb_teclado")) {
        // Only in interface mode (the port runs at 4800 baud).
        if (!com_main->settings().startsWith(QLatin1String("48")))
            return;
        if (m_link.connected()) {
            m_ctx.messages.showError(QStringLiteral("Primero debe desconectarse"));
            return;
        }
        closeChild(QStringLiteral("cb_panel"));
        showChild(key);
    } else {
        showChild(key);
    }
}

bool w_main::requestExit()
{
    if (m_link.connected()) {
        m_ctx.messages.showError(QStringLiteral("Primero debe desconectarse"));
        return false;
    }
    if (!m_exiting && !ui::mayExit(m_ctx.messages))
        return false;
    if (!m_exiting) {
        m_exiting = true;
        compact();
        endProgram(0);
    }
    return true;
}

void w_main::compact()
{
    mdl_main& m = m_ctx.main;
    sb_panel2->setText(QStringLiteral("Compactando Base de Datos"));
    sb_panel2->repaint();
    m.logOperation(2);
    tmr_main->stop();
    if (com_main->isOpen())
        com_main->close();
    m.closeConnections();
    // The operator must know that the exit left things as they were, and
    // why (a damaged database above all).
    QString reason;
    if (compaction::run(m.programDir(), compaction::Step::None, &reason) != compaction::Step::None)
        m_ctx.messages.showError(QStringLiteral("No se pudo compactar la base de datos al salir.\n\n%1").arg(reason));
}

void w_main::closeEvent(QCloseEvent* e)
{
    if (m_exiting) {
        e->accept();
        return;
    }
    if (requestExit())
        e->accept();
    else
        e->ignore();
}

bool w_main::eventFilter(QObject* o, QEvent* e)
{
    if (o == sb_modem && e->type() == QEvent::MouseButtonRelease) {
        if (onModemPanelClicked)
            onModemPanelClicked();
        return true;
    }
    return QMainWindow::eventFilter(o, e);
}

void w_main::refreshPortStatus()
{
    const mdl_main& m = m_ctx.main;
    sb_modem_pic->setPixmap(ui::picture(m.portStatusPicture()));
    sb_modem_pic->setProperty("pictureKey", m.portStatusPicture());
    sb_modem_text->setText(m.portStatusText());
}
