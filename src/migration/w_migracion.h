#pragma once
// Migration window: merges the catalogue update file into the station
// database one second after it opens, showing the table being merged and the
// progress, then deletes the file. It cannot be closed while it works.

#include "session/station_context.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

class QLabel;
class QProgressBar;
class QTimer;
class ShellUi;

class w_migracion : public QDialog {
    Q_OBJECT
    StationContext& m_ctx;

public:
    explicit w_migracion(StationContext& ctx, QWidget* parent = nullptr);

    // The start-up check with its window: asks about an update file and runs
    // the migration modally when accepted.
    static void mergeUpdate(StationContext& ctx, ShellUi& ui, QWidget* parent);

    void migrate();
    // The timer's handler: stops the timer and runs the merge (once).
    void tmr_migracion_Timer();

    bool finished() const { return m_finished; }
    bool succeeded() const { return m_succeeded; }

    // Ends the program after a failed merge (the start-up's shell).
    std::function<void(int)> endProgram;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* st_migracion;
    QLabel* st_progreso;
    QProgressBar* pb_migracion;
    QTimer* tmr_migracion;

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    void showCaption(const QString& caption);
    void showProgress(double progress);
    void keepAlive(bool force);

    bool m_started = false;
    bool m_finished = false;
    bool m_succeeded = false;
    int m_shown = -1;
    QElapsedTimer m_sinceEvents;
};
