#pragma once
// The panel console: one subscriber's alarm panel. It starts and ends the
// link, queues commands and transfers in the link state, shows what the link
// computes (PanelLink::view()), and keeps the subscriber's section marks and
// downloaded events. It never builds frames: the link's scheduler sends.

#include "data/subscriber_hold.h"
#include "data/value_store.h"
#include "link/link_subscriber.h"
#include "link/linkconsole.h"
#include "link/linkview.h"
#include "link/panel_link.h"
#include "session/station_context.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <QWidget>
#include <array>
#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QGridLayout;
class QLabel;
class QTimer;
class QLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class EventsModel;
class QToolBar;

class w_panel : public QWidget, public LinkConsole {
    Q_OBJECT
    StationContext& m_ctx;
    PanelLink& m_link; // the console drives the panel link

public:
    w_panel(StationContext& ctx, PanelLink& link, QWidget* parent = nullptr);
    ~w_panel() override;

    // ---- LinkConsole ------------------------------------------------------
    int armingModeIndex() const override;
    bool restrictedCodeChecked() const override;
    QString restrictedCode() const override;
    QString telephone() const override;
    void sessionStarted(qint32 subscriber) override;
    void showSections() override;
    void showEvents() override;
    void connectionFailed() override;
    void uploadChecked(const QString& outcome, bool stopped) override;
    void comparisonDone() override;
    void downloadStored() override;

    // Shows subscriber `id` (none when it is 0 or cannot be read) and tells
    // the link whom the console works on.
    void showSubscriber(qint32 id);
    // The subscriber on display (number 0: none) and its template.
    LinkSubscriber m_subscriber;
    qint32 m_configuration = 0;

    void editSelectedSection();
    void restoreTemplateValues();
    void presetMarks();
    void invertMarks();
    // Toolbar dispatch on the button's key.
    void dispatch(const QString& key);
    // Toolbar button by its position, 1 to 14.
    QAction* button(int position) const;

    // The event delete date the console opens with: one month back, the day
    // capped at 28.
    static QDate defaultDeleteDate(const QDate& today);

    // ---- Controls (object names as the members) ---------------------------
    QFrame* frm_abonado;
    std::array<QLabel*, 3> st_abonado_t;
    std::array<QLabel*, 3> st_abonado;
    QLineEdit* sle_telefono;

    QToolBar* tb_panel;
    QAction* cb_buscar;
    QAction* cb_modificar;
    QAction* cb_restaurar;
    QAction* cb_premarcar;
    QAction* cb_invertir;
    QAction* cb_subir;
    QAction* cb_bajar;
    QAction* cb_desmarcar;
    QAction* cb_subirch;
    QAction* cb_bajarsel;
    QAction* cb_eventos;
    QAction* cb_imprimir;
    QAction* cb_comparar;     // reads the panel and opens w_comparar
    QAction* cb_subircambios; // uploads what differs from the panel as last known
    QAction* cb_historial;

    QTabWidget* SSTab_panel;
    QFrame* frm_visor;
    QFrame* frm_comandos;

    // Visor.
    std::array<QLabel*, 16> img_zona;
    std::array<QLabel*, 16> st_zona;
    std::array<QLabel*, 16> img_exclusion;
    std::array<QLabel*, 16> img_memo;
    std::array<QLabel*, 16> img_cbexclusion;
    QLabel* st_cbexclusion;
    std::array<QLabel*, 4> img_particion;
    QLabel* st_particion_t;
    std::array<QLabel*, 4> img_cbparticion;
    QLabel* st_cbpart;
    std::array<QLabel*, 8> img_pgm;
    QLabel* st_pgm_t;
    std::array<QLabel*, 8> img_cbpgm;
    QLabel* st_cbpgm;
    QLabel* st_estado_t;
    QLabel* st_err;
    QLabel* st_hora;

    // Link and command buttons.
    QLabel* img_connect;
    QLabel* st_connect_t;
    QLabel* img_connect_AMO;
    QLabel* st_connect_AMO_t;
    QLabel* Img_wait_call;
    QLabel* st_wait_call;
    QLabel* img_end;
    QLabel* st_end_t;
    QPushButton* Command1;
    QLabel* img_IP;
    QLabel* img_arm;
    QLabel* st_arm_t;
    QLabel* img_disarm;
    QLabel* st_disarm_t;
    QLabel* img_panico;
    QLabel* st_panico_t;
    QLabel* img_falla;
    QLabel* st_cbfallas_t;
    QLabel* img_stime;
    QLabel* st_stime_t;
    QCheckBox* chk_restr_code;
    QLabel* ST_restr_code;
    QLineEdit* sle_restr_code;
    QLabel* Label_modo;
    QComboBox* Combo_armado;

    // What the link is doing, in words (the link's view computes it).
    QLabel* st_enlace;
    QLabel* st_bloqueo; // who holds the subscriber at another station
    QTimer* tm_bloqueo; // looks at that hold again; runs only while it shows
    QLabel* st_progreso;
    QProgressBar* pb_progreso;
    QLabel* st_rx;
    QLabel* st_tx;

    // Secciones.
    QLabel* st_filtroseccion_t;
    QLineEdit* sle_filtroseccion;
    QTableWidget* fg_secciones;

    // Eventos.
    QLabel* st_borraeventos_t;
    QDateEdit* dp_borraeventos;
    QLabel* img_borraeventos;
    QTableView* dg_eventos; // bound to the subscriber's events, read a page at a time

    QSize sizeHint() const override
    {
        return minimumSize().isEmpty() ? QWidget::sizeHint() : minimumSize();
    }

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    // After values were taken from the panel: a changed access code is
    // used from now on, logged and said in the status line.
    void checkAccessCode();
    static constexpr int LampSize = 14;

    void buildHeader();
    void buildToolbar();
    void buildLinkLine();
    // Hides what the user's level may not use.
    void hideForLevel();
    // Whether the operator's rights let `key` be used, whatever else
    // enables it: downloads take "Bajar del panel", printing "Imprimir y
    // exportar".
    bool rightAllows(const QAction* key) const;
    QWidget* buildVisor();
    QLayout* buildZones();
    QLayout* buildLamps();
    QLayout* buildOutputs();
    QLayout* buildStateLine();
    void buildCommands(QWidget* page);
    void addLinkButtons(QGridLayout* links);
    void addCommandButtons(QGridLayout* commands);
    // A lamp with its caption in row `row` of `g`, both acting on a click.
    void pair(QGridLayout* g, QLabel*& image, QLabel*& label, const char* imageName, const char* labelName,
              const QString& caption, const QString& tip, int row, std::function<void()> action);
    QWidget* buildSecciones();
    QWidget* buildEventos();
    QAction* boton(const QString& key, const QString& caption, const QString& tip);
    QLabel* lamp(const QString& name, const QString& tip = QString());
    QLabel* text(const QString& name, const QString& caption, const QString& tip = QString());
    // An image button with its caption label: both act on a click.
    void clickable(QLabel* image, QLabel* label, std::function<void()> action);
    void render();
    // Shows the messages the link queued from its frame handlers.
    void showLinkMessages();
    // "Subir seleccionados", "Bajar seleccionados" and "Eventos": off while
    // a transfer or an event download is pending.
    void updateTransferKeys();
    void unload();
    // Subscriber locks (w_panel_lock.cpp).
    bool heldElsewhere();
    bool refuseWhenHeldElsewhere();
    QString operatorName() const;
    bool takeSubscriber();
    // A link key or command while a job is on the line asks the operator
    // first (link/line_sharing.h); true when the line is the console's.
    bool lineIsMine();
    void releaseSubscriberWhenIdle();
    void releaseSubscriber();
    void holdAfterReconnect();
    void afterDialClick(bool dialled);
    // "Call-Back" and "IP": a wait that begins takes the subscriber.
    void waitClick(const std::function<void()>& click);
    // Another subscriber chosen during a wait: the hold moves to it.
    void holdFollowsSubscriber();

    QString subscriberText() const;
    QString zoneText(int zone) const;
    void logOperation(int code, const QString& text) const;
    void command(int code, int log, int pgm = 0);
    // The subscriber's marks, as the value store names them.
    values::Owner marksOwner() const;
    void markAll(int marca);
    void cycleMark(int row);
    void startTransfer(PanelLink::Transfer kind, int log, bool loadImage);
    // "Comparar" and "Subir cambios" (w_panel_compare.cpp).
    void compare();
    void uploadChanges();
    void deleteEvents();

    QHash<QObject*, std::function<void()>> m_clicks;
    QHash<QString, QWidget*> m_controls;     // indicators by object name
    QHash<QWidget*, QString> m_fixedTips;    // tool-tips of the controls themselves
    QSet<QWidget*> m_hiddenByLevel;
    // What the last render drew.
    QHash<QString, LinkIndicator> m_rendered;
    std::array<LinkColour, 3> m_colours{};
    bool m_coloursDrawn = false;
    bool m_marksUp = false;   // some section is marked "subir"
    bool m_marksDown = false; // some section is marked "bajar"
    bool m_showingLinkMessages = false;
    bool m_unloaded = false;
    bool m_tookLineFromJob = false; // given back to the jobs when the console closes
    // The subscriber this console holds for its connection.
    DatabaseHoldStore m_holdStore;
    SubscriberHold m_hold{m_holdStore};
    EventsModel* m_eventos;
};
