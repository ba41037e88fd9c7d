#pragma once
// The panel's state as the last status answer gave it, plus the console's
// waiting changes (bypass and partition), and the console commands a turn
// can carry.

#include "link/frame_codec.h"

#include <array>

struct LinkCommands {
    enum Command : int {
        CmdNone = 0, CmdArm = 1, CmdDisarm = 2, CmdEnd = 3, CmdPanic = 6,
        CmdSetClock = 9, CmdReadClock = 10, CmdPgm = 12, CmdFaults = 14,
    };
};

struct LinkStatus {
    std::array<int, 16> zoneState{};   // 1 open (normal view) or fault (fault view)
    std::array<int, 16> zoneBypass{};  // 0 no, 1 yes, 3 bypass asked, 2 removal asked
    std::array<int, 16> zoneMemory{};  // 1 alarm in memory
    std::array<int, 16> systemFlags{}; // keypad lamps and PGM 1-2
    int pgmMask = 0;        // bit i: output i + 1 is on
    int pgmIndex = 0;       // output (0-7) the PGM command toggles
    int partition = -1;     // 0-3 current; 4-7 change to n - 4 waiting; -1 unknown
    bool faultView = false; // the last status answer was the fault variant
};

// Takes a status answer (bytes 1 ... count-1 of `rx`) into `s`; changes the
// console asked for and not yet sent are kept.
void decodeStatus(const codec::Bytes& rx, int count, LinkStatus& s);
