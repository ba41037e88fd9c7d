#pragma once
// A job runner on a station's link against the simulator's many-panel
// modem over a real pseudo-terminal: the demo subscribers plus copies of
// the first (3, 4 ...) with their own numbers 555000N, an in-memory queue
// and holds, and a driver that ticks the link by hand and waits only for
// the pseudo-terminal's traffic.

#include "data/db.h"
#include "jobs/job_runner.h"
#include "link/datagramsocket_qt.h"
#include "link/panel_link.h"
#include "link/serialport_qt.h"
#include "communicator.h"
#include "linkfakes.h"
#include "memory_job_queue.h"
#include "modem.h"
#include "panel.h"
#include "panel_bank.h"
#include "session/mdl_main.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <memory>

// Ticks `link` by hand until `until` holds. While the link waits for the
// modem or the panel, the pseudo-terminal gets a moment first; a runner
// asleep until a later due time finds `clock` (when given) there at once.
inline bool driveLink(PanelLink& link, jobs::JobRunner* runner, FakeClock* clock, const std::function<bool()>& until,
                      int maxTicks = 40000)
{
    for (int i = 0; i < maxTicks; ++i) {
        QCoreApplication::processEvents();
        if (until())
            return true;
        if (clock && runner && runner->wakesAt() && !runner->onPanel()) {
            clock->t = *runner->wakesAt();
            runner->queueChanged();
            continue;
        }
        if (link.phase() == PanelLink::LinkPhase::Calling)
            waitFor([&link] { return link.phase() != PanelLink::LinkPhase::Calling; }, 100);
        else if (link.connected() && link.scheduler().awaitingAnswer == 1)
            waitFor([&link] { return link.scheduler().awaitingAnswer == 0 || !link.connected(); }, 200);
        else if (link.waitingForConnect())
            waitFor([&link] { return link.connected(); }, 50);
        link.tick();
    }
    return until();
}

struct JobRig {
    TestStation st{true, true};
    FakeClock clock;
    PanelLink& link = st.trans;
    QtSerialPortAdapter com{st.dir()};
    QtUdpSocketAdapter ip;
    panelsim::Panel nobody;
    panelsim::Modem modem{&nobody};
    panelsim::PanelBank bank;
    MemoryJobQueue queue;
    MemoryHoldStore holds;
    std::unique_ptr<jobs::JobRunner> runner;
    QList<QPair<jobs::JobItem, jobs::ItemResult>> done;
    QStringList failures; // what stopped() said, each time
    quint16 ipPort = freeUdpPort();

    explicit JobRig(int subscribers = 4)
    {
        QSqlDatabase c = st.main.db();
        for (int n = 3; n <= subscribers; ++n) {
            db::exec(c, QStringLiteral("INSERT INTO abonados (id_abonado, codigo, id_panel, id_configuracion, apellido, nombre, "
                                       "calle, numero, localidad, id_provincia, cp, tel_1, id_contacto1) "
                                       "SELECT ?, ?, id_panel, id_configuracion, apellido, nombre, calle, numero, localidad, "
                                       "id_provincia, cp, ?, id_contacto1 FROM abonados WHERE id_abonado = 1"),
                     {n, QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')), phone(n)});
            db::exec(c, QStringLiteral("INSERT INTO abonados_valores (id_abonado, id_seccion, id_item, valor, id_estado) "
                                       "SELECT ?, id_seccion, id_item, valor, 0 FROM abonados_valores WHERE id_abonado = 1"),
                     {n});
        }
        db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = 0"));
        st.main.portOpened();
        link.setClock(clock.fn());
        com.setCommPort(1);
        com.setSettings(QStringLiteral("110,N,8,2"));
        ip.setBindAddress(QHostAddress(QHostAddress::LocalHost));
        db::exec(c, QStringLiteral("UPDATE configuracion SET ip_port = ?"), {ipPort});
        link.setDevices(&com, &ip);
        modem.options.dialDelayMs = 0;
        modem.route = [this](const QString& number, QByteArray* result) { return bank.route(number, result); };
        queue.retryMinutes = 10;
    }
    ~JobRig() { runner.reset(); }

    static QString phone(int n) { return QStringLiteral("555000%1").arg(n); }

    // The panel of subscriber n (a copy of the demo's first: model PX-16).
    panelsim::Panel* addPanel(int n, int busyCalls = 0, int events = 0)
    {
        QJsonArray log;
        for (int e = 0; e < events; ++e)
            log.append(QJsonObject{{"event", 1 + e % 20}, {"parameter", e}, {"time", "2024-08-15 10:00"}});
        bank.add(phone(n), QJsonObject{{"panelCode", 1}, {"busyCalls", busyCalls}, {"events", log}});
        panelsim::Panel* p = bank.panel(phone(n));
        p->hostClock = clock.fn();
        return p;
    }

    bool openModem() { return modem.open() && modem.linkAs(st.dir(), 1); }
    bool start() { return start(queue, holds); }
    // On another queue and holds (the station's database).
    bool start(jobs::JobQueue& q, HoldStore& h)
    {
        if (!openModem())
            return false;
        runner = std::make_unique<jobs::JobRunner>(link, q, h,
                                                   [this](qint32 id) { return jobs::lookUp(st.main.db(), id); });
        QObject::connect(runner.get(), &jobs::JobRunner::itemDone, runner.get(),
                         [this](const jobs::JobItem& i, const jobs::ItemResult& r) { done << qMakePair(i, r); });
        QObject::connect(runner.get(), &jobs::JobRunner::stopped, runner.get(),
                         [this](const QString& why) { failures << why; });
        runner->start();
        return true;
    }

    // Ticks the link by hand until `until` holds (see driveLink).
    bool drive(const std::function<bool()>& until, int maxTicks = 40000)
    {
        return driveLink(link, runner.get(), &clock, until, maxTicks);
    }
    bool driveUntilIdle()
    {
        return drive([this] { return queue.open() == 0 && runner && !runner->onPanel(); });
    }
    int marked(int subscriber)
    {
        return db::scalar(st.main.db(), QStringLiteral("SELECT COUNT(*) FROM abonados_valores WHERE id_abonado = ? AND id_estado <> 0"),
                          {subscriber})
            .toInt();
    }
    // Marks the first `sections` sections of the subscriber for upload.
    void markForUpload(int subscriber, int sections)
    {
        db::exec(st.main.db(),
                 QStringLiteral("UPDATE abonados_valores SET id_estado = 1 WHERE id_abonado = ? AND id_seccion IN "
                                "(SELECT DISTINCT id_seccion FROM abonados_valores WHERE id_abonado = ? ORDER BY id_seccion "
                                "LIMIT ?)"),
                 {subscriber, subscriber, sections});
    }
};
