#include "app/ui_startup_hooks.h"

#include "app/ui_shell.h"
#include "app/w_main.h"

void registerWindows(w_main& w)
{
    Q_UNUSED(w);
    // w.registerWindow("cb_abonados", [] { return new w_abonados; });
}

void installStartupHooks()
{
}
