#include "link/mdl_trans.h"

mdl_trans& mdl_trans::instance()
{
    static mdl_trans t;
    return t;
}
