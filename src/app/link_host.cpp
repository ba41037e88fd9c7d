#include "app/link_host.h"

#include "app/mdl_main.h"
#include "data/link_store.h"
#include "link/linkhost.h"

namespace {

class StationLinkHost : public LinkHost {
public:
    std::unique_ptr<LinkStore> linkStore() override
    {
        return std::make_unique<SqlLinkStore>(mdl_main::instance().db(), mdl_main::instance().currentUser);
    }
    bool portOpen() const override { return mdl_main::instance().portOpen; }
    void portLost() override { mdl_main::instance().portLost(); }
    void showError(int number) override { mdl_main::instance().f_mensaje(number); }
};

} // namespace

LinkHost& stationLinkHost()
{
    static StationLinkHost host;
    return host;
}
