#pragma once
// The console's indicators as a function of the link's state.

#include "link/link_status.h"
#include "link/linkview.h"

#include <QString>

// What of the link's state the indicators show.
struct IndicatorState {
    LinkStatus status;
    bool connected = false;
    bool answeredSinceConnect = false;
    bool waitingForCall = false;
    bool waitingForConnect = false;
    bool ipMode = false;
    bool ipCallBack = false;
    bool frameError = false;
    int pendingCommand = LinkCommands::CmdNone;
    int lineSpeed = 0;
    QString lineReason;
    int rejectedAnswers = 0;
    int strangerDatagrams = 0;
    QString lastStranger;
    int doubledAnswers = 0;
    int refusedPanels = 0;
    QString lastRefusedPanel;
};

// `v` with its indicators set from `s`. What the state does not decide (the
// pictures a dial sets, the clock and progress captions, the status line) is
// kept from `v`.
LinkView indicatorView(const IndicatorState& s, LinkView v);
