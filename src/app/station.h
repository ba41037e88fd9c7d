#pragma once
// The composition root: one station per process (one per test case). It owns
// the station's state (mdl_main: connections, settings, operator and level),
// the panel link, the pick-list and editor contexts and the report commands,
// and hands each window the context that reaches them. It is also the link's
// host: the link's store, the port state and its messages come from here.

#include "link/linkhost.h"
#include "link/panel_link.h"
#include "records/editor_context.h"
#include "records/search_context.h"
#include "reports/de_reportes.h"
#include "session/mdl_main.h"
#include "session/station_context.h"

#include <functional>
#include <memory>

class DatabaseHoldStore;
namespace jobs {
class JobQueue;
class JobRunner;
class PortLock;
} // namespace jobs

class AppShell;
class MessageService;

class Station : public LinkHost {
public:
    // `messages` shows every box of the station and must outlive it;
    // `programDir` holds the database and its copies.
    Station(MessageService& messages, const QString& programDir);
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    mdl_main main;
    PanelLink trans;
    SearchContext search;
    EditorContext editor;
    reports::de_reportes reports;
    StationContext ctx;
    // The catalogue update check between the main window and the login;
    // main.cpp installs the migration module's (none in most tests).
    std::function<void(AppShell&)> catalogueCheck;

    // Runs the jobs of `queue` on this station's line (the setting "Ejecutar
    // las tareas en esta estación"); the console and the keypad ask before
    // they take the line from it. False, with the reason shown, when
    // another runner already uses the serial port.
    bool startJobRunner(jobs::JobQueue& queue);
    void stopJobRunner();
    // Starts the runner on the database's queue when this station's setting
    // says so, and stops it when it no longer does.
    void applyJobSetting();
    jobs::JobRunner* jobRunner() const { return m_jobRunner.get(); }

    // LinkHost
    std::unique_ptr<LinkStore> linkStore() override;
    bool portOpen() const override;
    void portLost() override;
    void showError(int number) override;
    void showMessage(const QString& title, const QString& text) override;
    QString takeStoreError() override;

private:
    QString m_storeError;
    // Declared after the link: the runner goes first.
    std::unique_ptr<jobs::JobQueue> m_jobQueue; // the setting's queue, when it runs one
    std::unique_ptr<jobs::PortLock> m_jobPortLock;
    std::unique_ptr<DatabaseHoldStore> m_jobHolds;
    std::unique_ptr<jobs::JobRunner> m_jobRunner;
};
