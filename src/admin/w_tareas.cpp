#include "admin/w_tareas.h"

#include "admin/w_tareas_atencion.h"
#include "admin/w_tareas_programadas.h"
#include "admin/w_tareas_resultados.h"
#include "session/mdl_main.h"
#include "ui/ui_geometry.h"

#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

w_tareas::w_tareas(StationContext& ctx, QWidget* parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("w_tareas"));
    setWindowTitle(QStringLiteral("Tareas"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    tab_tareas = new QTabWidget(this);
    tab_tareas->setObjectName(QStringLiteral("tab_tareas"));
    layout->addWidget(tab_tareas);

    // "Tareas" edits the jobs and sees the health view; any other operator
    // sees their results only, and nobody before logging in.
    const bool loggedIn = m_ctx.main.currentLevel() >= 1;
    const bool edits = loggedIn && m_ctx.main.may(permissions::Right::Tareas);
    if (edits) {
        programadas = new w_tareas_programadas(m_ctx, tab_tareas);
        tab_tareas->addTab(programadas, QStringLiteral("&Programadas"));
    }
    if (loggedIn) {
        resultados = new w_tareas_resultados(m_ctx, tab_tareas);
        tab_tareas->addTab(resultados, QStringLiteral("&Resultados"));
    }
    if (edits) {
        atencion = new w_tareas_atencion(m_ctx, tab_tareas);
        tab_tareas->addTab(atencion, QStringLiteral("A&tención"));
        connect(atencion, &w_tareas_atencion::makeJob, this, [this](const QList<qint32>& subscribers) {
            programadas->newJobFor(subscribers, QStringLiteral("ATENCIÓN %1").arg(m_ctx.main.now().toString(QStringLiteral("dd/MM/yyyy"))));
            tab_tareas->setCurrentWidget(programadas);
        });
    }
    if (!loggedIn) {
        auto* none = new QLabel(QStringLiteral("Debe ingresar al sistema para ver las tareas."), tab_tareas);
        none->setAlignment(Qt::AlignCenter);
        tab_tareas->addTab(none, QStringLiteral("Tareas"));
    }
    // Results and the health view are read when their tab is shown again:
    // the runner may have added rows meanwhile, and nothing polls.
    connect(tab_tareas, &QTabWidget::currentChanged, this, [this](int) {
        QWidget* w = tab_tareas->currentWidget();
        if (w && w == resultados) {
            resultados->refreshJobs();
            resultados->refresh();
        } else if (w && w == atencion) {
            atencion->refresh();
        } else if (w && w == programadas) {
            programadas->refresh();
        }
    });
    ui::sizeWindow(this, 11500, 7000);
}
