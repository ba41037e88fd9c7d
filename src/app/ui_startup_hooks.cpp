#include "app/ui_startup_hooks.h"

#include "app/ui_shell.h"
#include "app/w_main.h"
#include "admin/w_log.h"
#include "admin/w_parametros.h"
#include "admin/w_usuarios.h"
#include "console/w_panel.h"
#include "keypad/w_teclado.h"
#include "records/w_abonados.h"
#include "migration/w_migracion.h"
#include "records/w_configuracion.h"

void registerWindows(w_main& w)
{
    w.registerWindow("cb_parametros", [] { return new w_parametros; });
    w.registerWindow("cb_panel", [] { return new w_panel; });
    w.registerWindow("cb_abonados", [] { return new w_abonados; });
    w.registerWindow("cb_configuracion", [] { return new w_configuracion; });
    w.registerWindow("cb_usuarios", [] { return new w_usuarios; });
    w.registerWindow("cb_log", [] { return new w_log; });
    w.registerWindow("cb_teclado", [] { return new w_teclado; });
}

void installStartupHooks()
{
    // Between the main window and the login: the catalogue update file.
    AppShell::catalogueCheck = [](AppShell& shell) { w_migracion::f_novedades(shell, shell.mainWindow()); };
}
