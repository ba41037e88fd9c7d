#pragma once
// The station's frame window: toolbar, status bar, the child windows, and the
// devices of the panel link (serial port, datagram socket, 100 ms timer).

#include "session/station_context.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>

class PanelLink;
class QAction;
class QLabel;
class QMdiArea;
class QStatusBar;
class QTimer;
class QToolBar;
class DatagramSocket;
class SerialPort;

class w_main : public QMainWindow, public MainFrame {
    Q_OBJECT
    StationContext& m_ctx;
    PanelLink& m_link;

public:
    w_main(StationContext& ctx, PanelLink& link, QWidget* parent = nullptr);
    ~w_main() override;

    QToolBar* tb_main;
    QStatusBar* sb_main;
    QWidget* sb_modem;     // status panel 1, key "modem"
    QLabel* sb_modem_pic;
    QLabel* sb_modem_text;
    QLabel* sb_panel2;     // status panel 2: progress texts
    QMdiArea* mdi;
    SerialPort* com_main;
    DatagramSocket* IP_server;
    QTimer* tmr_main;

    QAction* action(const QString& key) const override;
    // Toolbar buttons by position (1-8), as the enabling rules count them.
    QAction* button(int position) const;

    // Child windows are made by a factory registered under a toolbar key; a
    // window that is open already is brought forward instead.
    void registerWindow(const QString& key, Factory f) override;
    QWidget* showChild(const QString& key) override;
    QWidget* child(const QString& key) const override;
    void closeChild(const QString& key);

    // Bind the datagram socket on ip_port of the settings, and close it.
    bool openIpSocket();
    void closeIpSocket();

    // Toolbar dispatch on the button's key.
    void dispatch(const QString& key);
    // Runs the exit rule; returns false when the exit was refused.
    bool requestExit();
    void compact();
    // Called when the modem status panel is clicked.
    std::function<void()> onModemPanelClicked;
    // Ends the program (tests replace it).
    std::function<void(int)> endProgram;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void refreshPortStatus();
    void addButton(const QString& caption, const QString& key, const QString& tip);

    QHash<QString, Factory> m_factories;
    QHash<QString, QPointer<QWidget>> m_children;
    QList<QAction*> m_buttons;
    bool m_exiting = false;
};
