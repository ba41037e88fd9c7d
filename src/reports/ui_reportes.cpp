#include "reports/ui_reportes.h"

#include "app/ui_geometry.h"
#include "app/ui_pictures.h"
#include "app/w_main.h"
#include "data/db.h"
#include "data/messages.h"
#include "reports/de_reportes.h"
#include "reports/dr_layouts.h"
#include "reports/w_reporte.h"

#include <QHash>
#include <QMdiSubWindow>
#include <QPointer>

namespace reports {

namespace {

// The report's window: a child of the main window when there is one (placed
// like every child), else a window of its own centred on the screen.
w_reporte* reportWindow(const QString& key)
{
    if (w_main* frame = w_main::instance()) {
        const bool created = !frame->child(key);
        if (created)
            frame->registerWindow(key, [key] {
                auto* w = new w_reporte;
                w->setObjectName(key);
                return w;
            });
        auto* w = qobject_cast<w_reporte*>(frame->showChild(key));
        if (w && created)
            if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget()))
                sub->setWindowIcon(ui::icon(QStringLiteral("reporte")));
        return w;
    }
    static QHash<QString, QPointer<w_reporte>> own;
    QPointer<w_reporte>& w = own[key];
    if (!w) {
        w = new w_reporte;
        w->setObjectName(key);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->setWindowIcon(ui::icon(QStringLiteral("reporte")));
        ui::centreOnScreen(w);
    }
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

w_reporte* present(const QString& key, const w_reporte::Layout& layout)
{
    w_reporte* w = reportWindow(key);
    if (w)
        w->setReport(layout);
    return w;
}

void failed(const db::Error& e)
{
    showError(QStringLiteral("No se pudo generar el reporte.\n%1").arg(e.text()));
}

} // namespace

w_reporte* showPanelReport(int id_abonado, int id_panel, int id_configuracion)
{
    de_reportes& d = de_reportes::instance();
    try {
        d.panel.open(d.connection(), id_abonado, id_panel, id_configuracion);
    } catch (const db::Error& e) {
        failed(e);
        return nullptr;
    }
    const QList<ProgrammingData> data = d.panel.result();
    const QDate printed = QDate::currentDate();
    return present(QStringLiteral("dr_panel"),
                   [data, printed](const PageSetup& s) { return dr_panel(data, s, printed); });
}

w_reporte* showTemplateReport(int id_panel, int id_configuracion)
{
    de_reportes& d = de_reportes::instance();
    try {
        d.configuracion.open(d.connection(), id_panel, id_configuracion);
    } catch (const db::Error& e) {
        failed(e);
        return nullptr;
    }
    const QList<ProgrammingData> data = d.configuracion.result();
    const QDate printed = QDate::currentDate();
    return present(QStringLiteral("dr_configuracion"),
                   [data, printed](const PageSetup& s) { return dr_configuracion(data, s, printed); });
}

w_reporte* showSubscriberReport()
{
    de_reportes& d = de_reportes::instance();
    try {
        d.abonado.open(d.connection());
    } catch (const db::Error& e) {
        failed(e);
        return nullptr;
    }
    const QList<SubscriberRow> rows = d.abonado.result();
    const QDate printed = QDate::currentDate();
    return present(QStringLiteral("dr_abonados"),
                   [rows, printed](const PageSetup& s) { return dr_abonados(rows, s, printed); });
}

w_reporte* showLogReport(const oplog::Filter& filter)
{
    de_reportes& d = de_reportes::instance();
    try {
        d.log.open(d.connection(), filter);
    } catch (const db::Error& e) {
        d.log.close();
        failed(e);
        return nullptr;
    }
    const QList<LogRow> rows = d.log.result();
    // The log viewer closes its command once the report has its rows.
    d.log.close();
    const QDate printed = QDate::currentDate();
    return present(QStringLiteral("dr_log"), [rows, printed](const PageSetup& s) { return dr_log(rows, s, printed); });
}

w_reporte* showHistoryReport(const QString& subtitle, const QList<QStringList>& rows)
{
    const QDate printed = QDate::currentDate();
    return present(QStringLiteral("dr_historial"), [subtitle, rows, printed](const PageSetup& s) {
        return dr_historial(subtitle, rows, s, printed);
    });
}

} // namespace reports
