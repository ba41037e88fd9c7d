#include "app/ui_startup_hooks.h"

#include "app/ui_shell.h"
#include "app/w_main.h"
#include "admin/w_parametros.h"
#include "records/w_abonados.h"

void registerWindows(w_main& w)
{
    w.registerWindow("cb_parametros", [] { return new w_parametros; });
    w.registerWindow("cb_abonados", [] { return new w_abonados; });
}

void installStartupHooks()
{
}
