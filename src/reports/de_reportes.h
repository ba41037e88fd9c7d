#pragma once
// Report data environment: one command per printed report, run on the report
// connection. A command's result is read whole into a plain value, so a
// report never holds a cursor open on the database while it is shown.

#include "data/oplog_store.h"
#include "data/report_store.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

class mdl_main;

namespace reports {

using report_store::ItemRow;
using report_store::ProgrammingData;
using report_store::SectionRow;
using report_store::SubscriberRow;
using LogRow = oplog::Row;

// A command: closed until opened; opening an open command closes its
// previous result first.
template <typename Result>
class Command {
public:
    bool isOpen() const { return m_result.has_value(); }
    void close() { m_result.reset(); }
    // The open result; an empty one when the command is closed.
    const Result& result() const
    {
        static const Result empty{};
        return m_result ? *m_result : empty;
    }

protected:
    void set(Result r) { m_result = std::move(r); }

private:
    std::optional<Result> m_result;
};

class PanelCommand : public Command<QList<ProgrammingData>> {
public:
    void open(const QSqlDatabase& c, int id_abonado, int id_panel, int id_configuracion,
              const report_store::Viewer& viewer = {});
};

class ConfiguracionCommand : public Command<QList<ProgrammingData>> {
public:
    void open(const QSqlDatabase& c, int id_panel, int id_configuracion, const report_store::Viewer& viewer = {});
};

class AbonadoCommand : public Command<QList<SubscriberRow>> {
public:
    void open(const QSqlDatabase& c, const report_store::Viewer& viewer = {});
};

class LogCommand : public Command<QList<LogRow>> {
public:
    // The log viewer's days and operator; no filter gives the whole log.
    void open(const QSqlDatabase& c, const oplog::Filter& filter = {});
};

class de_reportes {
public:
    explicit de_reportes(const mdl_main& station) : m_station(station) {}

    // The report connection opened by start-up; opened here on the station's
    // database when start-up has not done it (a re-run closed it, a test).
    QSqlDatabase connection() const;

    PanelCommand panel;
    ConfiguracionCommand configuracion;
    AbonadoCommand abonado;
    LogCommand log;

    void closeAll();

private:
    const mdl_main& m_station;
};

} // namespace reports
