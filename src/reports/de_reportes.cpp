#include "reports/de_reportes.h"

#include "session/mdl_main.h"
#include "data/db.h"

namespace reports {

void PanelCommand::open(const QSqlDatabase& c, int id_abonado, int id_panel, int id_configuracion,
                        const report_store::Viewer& viewer)
{
    close();
    set(report_store::panel(c, id_abonado, id_panel, id_configuracion, viewer));
}

void ConfiguracionCommand::open(const QSqlDatabase& c, int id_panel, int id_configuracion,
                                const report_store::Viewer& viewer)
{
    close();
    set(report_store::configuracion(c, id_panel, id_configuracion, viewer));
}

void AbonadoCommand::open(const QSqlDatabase& c, const report_store::Viewer& viewer)
{
    close();
    set(report_store::abonados(c, viewer));
}

void LogCommand::open(const QSqlDatabase& c, const oplog::Filter& filter)
{
    close();
    set(oplog::rows(c, filter));
}

QSqlDatabase de_reportes::connection() const
{
    const mdl_main& m = m_station;
    QSqlDatabase c = m.reportDb();
    if (c.isValid() && c.isOpen())
        return c;
    return db::openAnother(mdl_main::ReportConnection, m.db());
}

void de_reportes::closeAll()
{
    panel.close();
    configuracion.close();
    abonado.close();
    log.close();
}

} // namespace reports
