#pragma once
// The one way into PanelLink's parts for tests and benchmarks (its friend):
// a part put in the state a given turn or an earlier answer would have left
// it, and an answer handed to its handler without the decoder.

#include "link/panel_link.h"

#include <QList>
#include <algorithm>

struct LinkTestAccess {
    static void setPhase(PanelLink& l, PanelLink::LinkPhase p) { l.m_connection.phase = p; }
    static void setEndAfterConnect(PanelLink& l, bool on) { l.m_connection.endAfterConnect = on; }
    static void setIpCallBack(PanelLink& l, bool on) { l.m_connection.ipCallBack = on; }
    static void setWaitCountdown(PanelLink& l, int ticks) { l.m_scheduler.waitCountdown = ticks; }
    static void setAwaitingAnswer(PanelLink& l, int awaiting) { l.m_scheduler.awaitingAnswer = awaiting; }
    static void setRetryCounter(PanelLink& l, int turns) { l.m_scheduler.retryCounter = turns; }
    static void setClockKnown(PanelLink& l, bool known) { l.m_clockKnown = known; }
    // The request whose answer is awaited, as if it had just gone out (a
    // memory request for the run set last); -1: none.
    static void setOutstandingRequest(PanelLink& l, int code)
    {
        if (code < 0)
            l.m_scheduler.outstanding.reset();
        else
            l.m_scheduler.outstanding = Request{code, l.m_transfer.runStart, l.m_transfer.runEnd, 0};
    }
    static void setWritePending(PanelLink& l, bool on) { l.m_transfer.writePending = on; }
    static void setReadPending(PanelLink& l, bool on) { l.m_transfer.readPending = on; }
    static void setEventsPending(PanelLink& l, bool on) { l.m_transfer.eventsPending = on; }
    static void setRun(PanelLink& l, int start, int end)
    {
        l.m_transfer.runStart = start;
        l.m_transfer.runEnd = end;
    }
    // A memory address with a section and a value type, as an image built
    // from the database would have it.
    static void setAddress(PanelLink& l, int address, int section, int type)
    {
        l.m_transfer.addressSection[size_t(address)] = qint16(section);
        l.m_transfer.addressType[size_t(address)] = qint16(type);
    }
    static LinkStatus& status(PanelLink& l) { return l.m_status; }
    // An answer as the decoder leaves it (code first, checksum excluded).
    static void setAnswer(PanelLink& l, const QList<int>& bytes)
    {
        const auto n = std::min<qsizetype>(bytes.size(), PanelLink::MaxFrameBytes);
        std::copy_n(bytes.begin(), n, l.m_rxFrame.begin());
        l.m_rxCount = int(n);
    }
    // Sends the first n bytes given as a request frame.
    static void sendRequest(PanelLink& l, const QList<int>& bytes, int n)
    {
        std::copy_n(bytes.begin(), std::min<qsizetype>(bytes.size(), PanelLink::MaxFrameBytes),
                    l.m_scheduler.txFrame.begin());
        l.sendFrame(n, l.m_scheduler.waitCountdown);
    }
    static void requestMemory(PanelLink& l, int start, int count) { l.requestMemory(start, count); }
    static void writeMemory(PanelLink& l, int start, const QList<int>& data) { l.writeMemory(start, data); }
    static void takeMemoryAnswer(PanelLink& l, int count) { l.takeMemoryAnswer(count); }
    static void storeShortEvents(PanelLink& l, int count) { l.storeShortEvents(count); }
};
