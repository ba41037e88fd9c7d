#include "app/link_host.h"

#include "app/mdl_main.h"
#include "data/link_store.h"
#include "link/linkhost.h"

namespace {

class StationLinkHost : public LinkHost {
public:
    LinkStore& linkStore() override
    {
        // A fresh handle each time: the station may have reopened its database.
        m_store = SqlLinkStore(mdl_main::instance().db());
        return m_store;
    }
    bool portOpen() const override { return mdl_main::instance().portOpen; }
    void portLost() override { mdl_main::instance().portLost(); }
    void showError(int number) override { mdl_main::instance().f_mensaje(number); }

private:
    SqlLinkStore m_store;
};

} // namespace

LinkHost& stationLinkHost()
{
    static StationLinkHost host;
    return host;
}
