#pragma once
// A link under test: its own PanelLink on fake devices, a fake console and a
// settable clock, in a fresh station (ip_port 5000).

#include "session/mdl_main.h"
#include "link_test_access.h"
#include "data/db.h"
#include "link/panel_link.h"
#include "linkfakes.h"
#include "testsupport.h"

struct LinkRig {
    TestStation st;
    FakeSerialPort com;
    FakeDatagramSocket ip;
    FakeConsole console;
    FakeClock clock;
    PanelLink link;

    LinkRig()
    {
        db::exec(st.main.db(), QStringLiteral("UPDATE configuracion SET ip_port = 5000"));
        st.main.portOpened();
        com.setSettings(QStringLiteral("110,N,8,2"));
        link.setHost(&st);
        link.setDevices(&com, &ip);
        link.setConsole(&console);
        link.setClock(clock.fn());
        console.link = &link;
        link.setSubscriber(console.subscriber);
    }

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            link.tick();
    }
    // Ticks until the link writes (or sends) something; returns the number
    // of ticks, or -1 after `limit` ticks.
    int ticksUntilSent(int limit = 2000)
    {
        const qsizetype before = com.written.size() + ip.sent.size();
        for (int i = 1; i <= limit; ++i) {
            link.tick();
            if (com.written.size() + ip.sent.size() != before)
                return i;
        }
        return -1;
    }
    // A modem connection by a direct call.
    void connectModem()
    {
        link.dial(QStringLiteral("5550101"), 900);
        com.receive("\r\nCONNECT\r\n");
        com.takeWritten();
    }
    // The first turn of a connection: the clock request, answered.
    void firstTurn()
    {
        ticks(16);
        takeRequests();
        com.receive(answerFrame({10, 25, 20, 15, 8, 24}));
    }
    void connectIp(quint16 from = 40000)
    {
        link.waitForIpCall();
        ip.arrive("CONNECT IP", from);
        ip.sent.clear();
    }
    // The console shows another subscriber (or the same one changed).
    void show(const LinkSubscriber& s)
    {
        console.subscriber = s;
        link.setSubscriber(s);
    }
    // An answer delivered as the answer to `request`, as if that request
    // were the one outstanding.
    void answer(int request, const QByteArray& frame)
    {
        LinkTestAccess::setOutstandingRequest(link, request);
        com.receive(frame);
    }
    // The request frames written on the serial port since the last take.
    QList<QList<int>> takeRequests()
    {
        QList<QList<int>> out;
        for (const QByteArray& f : splitFrames(com.takeWritten()))
            out << requestBytes(f);
        return out;
    }
    // One status answer with the given bytes 1-8 and extension bytes.
    static QByteArray status(int code, QList<int> bytes1to8, const QList<int>& ext = {})
    {
        bytes1to8.prepend(code);
        return answerFrame(bytes1to8 + ext);
    }
};
