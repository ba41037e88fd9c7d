#pragma once
// What a window gets from the station: one object, handed to its constructor,
// through which it reaches the station's state (connection, operator, logOperation),
// the link, the messages, the pick-list and editor contexts, the report
// commands and the main window. The station (app/) owns every piece; this
// header only names them, so that no folder below app/ depends on it.

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QAction;
class QWidget;
class MessageService;
class SearchContext;
class mdl_main;
struct EditorContext;
namespace reports {
class de_reportes;
}
namespace oplog {
struct Filter;
}

// The main window as the other windows see it: its toolbar buttons and its
// child windows, made by a factory registered under a key.
class MainFrame {
public:
    using Factory = std::function<QWidget*()>;
    virtual ~MainFrame() = default;
    virtual QAction* action(const QString& key) const = 0;
    virtual void registerWindow(const QString& key, Factory f) = 0;
    // Makes the child (or brings it forward when it is open already).
    virtual QWidget* showChild(const QString& key) = 0;
    virtual QWidget* child(const QString& key) const = 0;
};

struct StationContext {
    mdl_main& main;
    MessageService& messages;
    SearchContext& search;
    EditorContext& editor;
    reports::de_reportes& reports;
    // The main window while there is one; windows shown without it (tests,
    // the start-up dialogs) stand on their own.
    MainFrame* frame = nullptr;

    // Where a window hands its work outside itself. Empty means the usual:
    // the report window of the reports module, the system beep. Tests put
    // their own in place on their own station.
    std::function<void(StationContext&, const oplog::Filter&)> printLog{};
    std::function<void(StationContext&, const QString& subtitle, const QList<QStringList>& rows)> printHistory{};
    std::function<void()> beep{};
    // Parámetros saved "Ejecutar las tareas en esta estación": the station
    // starts or stops its job runner.
    std::function<void()> jobSettingChanged{};

    // Report windows that stand on their own (no main window), by report
    // key: one each, brought forward when asked again.
    QHash<QString, QPointer<QObject>> reportWindows{};
};
