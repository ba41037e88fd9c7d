#include "reports/ui_reportes.h"

#include "ui/ui_geometry.h"
#include "ui/ui_pictures.h"
#include "data/db.h"
#include "data/messages.h"
#include "reports/de_reportes.h"
#include "reports/dr_layouts.h"
#include "reports/w_reporte.h"
#include "session/mdl_main.h"
#include "session/station_context.h"

#include <QHash>
#include <QMdiSubWindow>
#include <QPointer>

namespace reports {

namespace {

// The report's window: a child of the main window when there is one (placed
// like every child), else a window of its own centred on the screen.
w_reporte* reportWindow(StationContext& ctx, const QString& key)
{
    if (MainFrame* frame = ctx.frame) {
        const bool created = !frame->child(key);
        if (created)
            frame->registerWindow(key, [&ctx, key] {
                auto* w = new w_reporte(ctx);
                w->setObjectName(key);
                return w;
            });
        auto* w = qobject_cast<w_reporte*>(frame->showChild(key));
        if (w && created)
            if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget()))
                sub->setWindowIcon(ui::icon(QStringLiteral("reporte")));
        return w;
    }
    QPointer<QObject>& own = ctx.reportWindows[key];
    auto* w = qobject_cast<w_reporte*>(own.data());
    if (!w) {
        w = new w_reporte(ctx);
        w->setObjectName(key);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->setWindowIcon(ui::icon(QStringLiteral("reporte")));
        ui::centreOnScreen(w);
        own = w;
    }
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

w_reporte* present(StationContext& ctx, const QString& key, const w_reporte::Layout& layout)
{
    w_reporte* w = reportWindow(ctx, key);
    if (w)
        w->setReport(layout);
    return w;
}

void failed(StationContext& ctx, const db::Error& e)
{
    ctx.messages.showError(QStringLiteral("No se pudo generar el reporte.\n%1").arg(e.text()));
}

// The operator's codes and groups decide what a report shows.
report_store::Viewer viewerOf(const StationContext& ctx)
{
    return {ctx.main.currentUser(), ctx.main.rights()};
}

} // namespace

w_reporte* showPanelReport(StationContext& ctx, int id_abonado, int id_panel, int id_configuracion)
{
    de_reportes& d = ctx.reports;
    try {
        d.panel.open(d.connection(), id_abonado, id_panel, id_configuracion, viewerOf(ctx));
    } catch (const db::Error& e) {
        failed(ctx, e);
        return nullptr;
    }
    const QList<ProgrammingData> data = d.panel.result();
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_panel"),
                   [data, printed](const PageSetup& s) { return dr_panel(data, s, printed); });
}

w_reporte* showTemplateReport(StationContext& ctx, int id_panel, int id_configuracion)
{
    de_reportes& d = ctx.reports;
    try {
        d.configuracion.open(d.connection(), id_panel, id_configuracion, viewerOf(ctx));
    } catch (const db::Error& e) {
        failed(ctx, e);
        return nullptr;
    }
    const QList<ProgrammingData> data = d.configuracion.result();
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_configuracion"),
                   [data, printed](const PageSetup& s) { return dr_configuracion(data, s, printed); });
}

w_reporte* showComparisonReport(StationContext& ctx, const QString& subscriber, const QList<QStringList>& rows)
{
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_diferencias"), [subscriber, rows, printed](const PageSetup& s) {
        return dr_diferencias(subscriber, rows, s, printed);
    });
}

w_reporte* showSubscriberReport(StationContext& ctx)
{
    de_reportes& d = ctx.reports;
    try {
        d.abonado.open(d.connection(), viewerOf(ctx));
    } catch (const db::Error& e) {
        failed(ctx, e);
        return nullptr;
    }
    const QList<SubscriberRow> rows = d.abonado.result();
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_abonados"),
                   [rows, printed](const PageSetup& s) { return dr_abonados(rows, s, printed); });
}

w_reporte* showLogReport(StationContext& ctx, const oplog::Filter& filter)
{
    de_reportes& d = ctx.reports;
    try {
        d.log.open(d.connection(), filter);
    } catch (const db::Error& e) {
        d.log.close();
        failed(ctx, e);
        return nullptr;
    }
    const QList<LogRow> rows = d.log.result();
    // The log viewer closes its command once the report has its rows.
    d.log.close();
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_log"), [rows, printed](const PageSetup& s) { return dr_log(rows, s, printed); });
}

w_reporte* showHistoryReport(StationContext& ctx, const QString& subtitle, const QList<QStringList>& rows)
{
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_historial"), [subtitle, rows, printed](const PageSetup& s) {
        return dr_historial(subtitle, rows, s, printed);
    });
}

w_reporte* showJobResultsReport(StationContext& ctx, const QString& subtitle, const QList<QStringList>& rows)
{
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_tareas"), [subtitle, rows, printed](const PageSetup& s) {
        return dr_tareas(subtitle, rows, s, printed);
    });
}

w_reporte* showAttentionReport(StationContext& ctx, const QString& subtitle, const QList<QStringList>& rows)
{
    const QDate printed = ctx.main.now().date();
    return present(ctx, QStringLiteral("dr_atencion"), [subtitle, rows, printed](const PageSetup& s) {
        return dr_atencion(subtitle, rows, s, printed);
    });
}

} // namespace reports
