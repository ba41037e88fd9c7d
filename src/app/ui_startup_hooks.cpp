#include "app/ui_startup_hooks.h"

#include "app/station.h"
#include "app/ui_shell.h"
#include "app/w_main.h"
#include "admin/w_log.h"
#include "admin/w_parametros.h"
#include "admin/w_tareas.h"
#include "admin/w_usuarios.h"
#include "console/w_panel.h"
#include "keypad/w_teclado.h"
#include "link/line_sharing.h"
#include "records/w_abonados.h"
#include "migration/w_migracion.h"
#include "records/w_configuracion.h"

void registerWindows(w_main& w, Station& station)
{
    StationContext& ctx = station.ctx;
    PanelLink& link = station.trans;
    w.registerWindow("cb_parametros", [&ctx, &link] { return new w_parametros(ctx, link); });
    w.registerWindow("cb_panel", [&ctx, &link] { return new w_panel(ctx, link); });
    w.registerWindow("cb_abonados", [&ctx] { return new w_abonados(ctx); });
    w.registerWindow("cb_configuracion", [&ctx] { return new w_configuracion(ctx); });
    w.registerWindow("cb_usuarios", [&ctx] { return new w_usuarios(ctx); });
    w.registerWindow("cb_log", [&ctx] { return new w_log(ctx); });
    w.registerWindow("cb_teclado", [&ctx, &link]() -> QWidget* {
        // A job on the line is asked first; the keypad opens only on a free
        // line, and gives it back to the jobs when it closes. "No": the job
        // goes on and the keypad stays shut, so the line is not kept for a
        // window that never opened.
        bool asked = false;
        bool interrupted = false;
        if (!takeLineFromJob(link, ctx.messages, &asked, &interrupted)) {
            LineSharing* s = link.lineSharing();
            if (asked && !interrupted && s)
                s->operatorLeavesLine();
            return nullptr;
        }
        auto* keypad = new w_teclado(ctx, link);
        QObject::connect(keypad, &QObject::destroyed, &link, [&link] {
            if (LineSharing* s = link.lineSharing())
                s->operatorLeavesLine();
        });
        return keypad;
    });
    w.registerWindow("cb_tareas", [&ctx] { return new w_tareas(ctx); });
}

void installStartupHooks(Station& station)
{
    // Between the main window and the login: the catalogue update file.
    station.catalogueCheck = [](AppShell& shell) { w_migracion::mergeUpdate(shell.station().ctx, shell, shell.mainWindow()); };
}
