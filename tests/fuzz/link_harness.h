#pragma once
// The panel link on fake devices, driven by a fuzzer's bytes: the first byte
// picks where the link starts (dialling, waiting, connected with a transfer or
// an event download pending ...), then bytes below 0xF8 are received text and
// the bytes from 0xF8 on are operator and timer actions. After every step the
// link's state must stay within its ranges.

#include "common/linkfakes.h"
#include "common/link_test_access.h"
#include "fuzz_support.h"

#include "app/station.h"
#include "data/db.h"
#include "link/panel_link.h"

#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <functional>

class LinkHarness {
public:
    Station& st = fuzz::station();

    LinkHarness()
    {
        st.main.portOpened();
        com.setSettings(QStringLiteral("110,N,8,2"));
        link.setDevices(&com, &ip);
        link.setConsole(&console);
        link.setClock(clock.fn());
    }

    // Runs one input; `deliver` hands a chunk of received text to the link
    // (`from` is the byte after a flush, for the datagram harness's senders).
    void run(const uint8_t* data, size_t size, const std::function<void(const QByteArray&, uint8_t from)>& deliver)
    {
        if (size == 0)
            return;
        begin(data[0]);
        QByteArray chunk;
        for (size_t i = 1; i < size; ++i) {
            const uint8_t b = data[i];
            const uint8_t next = i + 1 < size ? data[i + 1] : 0;
            if (b < 0xF8) {
                chunk += char(b);
                continue;
            }
            switch (b) {
            case 0xF8: deliver(chunk, next); chunk.clear(); ++i; break;
            case 0xF9: link.tick(); break;
            case 0xFA: for (int t = 0; t < 16; ++t) link.tick(); break;
            case 0xFB: LinkTestAccess::setOutstandingRequest(link, int(next % 17) - 1); ++i; break;
            case 0xFC: link.hangUp(); break;
            case 0xFD: emit com.commEvent(SerialPort::ErDevice); break;
            case 0xFE: link.endSession(); break;
            default: link.queueCommand(int(next % 16), next % 8); ++i; break;
            }
            check();
        }
        if (!chunk.isEmpty())
            deliver(chunk, 0);
        check();
        // What the link left queued (message 102 after a lost device).
        QCoreApplication::processEvents();
    }

    FakeSerialPort com;
    FakeDatagramSocket ip;
    FakeConsole console;
    FakeClock clock;
    PanelLink link;

private:
    void begin(uint8_t scenario)
    {
        link.reset();
        link.setHost(&st);
        st.main.portOpened();
        com.close();
        ip.close();
        com.takeWritten();
        ip.sent.clear();
        const QSqlDatabase c = st.main.db();
        db::exec(c, QStringLiteral("DELETE FROM abonados_eventos"));
        db::exec(c, QStringLiteral("UPDATE configuracion SET ip_permitidas = ? WHERE id_configuracion = 1"),
                 {scenario & 0x80 ? QVariant(QStringLiteral("127.0.0.1, 10.0.0.0/8")) : QVariant()});
        console.subscriber.protocolCode = scenario & 0x40 ? QStringLiteral("2") : QStringLiteral("1");
        link.setSubscriber(console.subscriber);
        switch (scenario & 7) {
        case 0: link.dial(QStringLiteral("1"), 900); break;
        case 1: link.waitForModemCall(); break;
        case 2: link.dialTwice(QStringLiteral("1")); break;
        case 3: link.waitForIpCall(); break;
        default:
            link.dial(QStringLiteral("1"), 900);
            com.receive("CONNECT\r");
            break;
        }
        const int mark = (scenario & 7) == 5 ? 1 : (scenario & 7) == 6 ? -1 : 0;
        if (mark != 0) {
            db::exec(c, QStringLiteral("UPDATE abonados_valores SET id_estado = ? WHERE id_abonado = 1"), {mark});
            link.requestTransfer(mark == 1 ? PanelLink::Transfer::Write : PanelLink::Transfer::Read);
            link.loadTransfer(console.subscriber);
        }
        LinkTestAccess::setEventsPending(link, (scenario & 7) == 7);
    }

    void check()
    {
        using fuzz::require;
        require(link.connection().receiveBuffer.size() <= 2 * PanelLink::MaxFrameBytes, "el búfer de recepción creció sin límite");
        require(link.rxCount() >= 0 && link.rxCount() < PanelLink::MaxFrameBytes, "rxCount fuera de la trama");
        require(link.status().partition >= -1 && link.status().partition <= 7, "partición fuera de rango");
        require(link.status().pgmMask >= 0 && link.status().pgmMask <= 255, "máscara PGM fuera de rango");
        require(link.scheduler().waitCountdown >= 0 && link.scheduler().waitCountdown <= 1000, "cuenta de espera fuera de rango");
        require(link.scheduler().outstandingCode() >= -1 && link.scheduler().outstandingCode() <= 15, "petición pendiente fuera de rango");
        for (size_t i = 0; i < 16; ++i) {
            require(link.status().zoneState[i] == 0 || link.status().zoneState[i] == 1, "estado de zona fuera de rango");
            require(link.status().zoneBypass[i] >= 0 && link.status().zoneBypass[i] <= 3, "anulación fuera de rango");
            require(link.status().systemFlags[i] == 0 || link.status().systemFlags[i] == 1, "indicador fuera de rango");
        }
        for (size_t a = 0; a < size_t(PanelLink::MemorySize); ++a)
            require(link.transfer().memoryImage[a] >= 0 && link.transfer().memoryImage[a] <= 255, "byte de memoria fuera de rango");
        require(!link.scheduler().ticksSuspended, "los turnos quedaron detenidos");
    }
};
