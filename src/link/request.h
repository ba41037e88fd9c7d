#pragma once
// One request sent to the panel, as a value: its code, the memory run it
// asks for or writes (memory requests only) and the ticks the scheduler
// waits for its answer. The frame protocol has no sequence numbers, so an
// answer is taken only while a request is outstanding and only when it fits
// that request.

struct Request {
    enum Code {
        ReadMemory = 0, WriteMemory = 1, Status = 2, Arm = 3, Disarm = 4, End = 5, ShortEvents = 6,
        Bypass = 7, SetClock = 8, Pgm = 9, ReadClock = 10, Panic = 11, FaultStatus = 12, DatedEvents = 13,
        Partition = 15,
    };
    int code = -1;
    int runStart = 0; // first address of a memory request
    int runEnd = 0;   // address after its last byte
    int deadline = 0; // ticks until the next turn

    // Whether a well-formed answer with this code and byte count (checksum
    // excluded) answers this request.
    bool fits(int answer, int count) const;
};
