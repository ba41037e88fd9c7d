#include "link/link_status.h"

void decodeStatus(const codec::Bytes& rx, int count, LinkStatus& s)
{
    const auto bit = [](int byte, int i) { return (byte >> i) & 1; };
    for (int i = 0; i < 8; ++i) {
        s.zoneState[size_t(i)] = bit(rx[1], i);
        s.zoneState[size_t(i + 8)] = bit(rx[2], i);
        // A bypass change that is waiting to be sent is not overwritten.
        if (s.zoneBypass[size_t(i)] < 2)
            s.zoneBypass[size_t(i)] = bit(rx[3], i);
        if (s.zoneBypass[size_t(i + 8)] < 2)
            s.zoneBypass[size_t(i + 8)] = bit(rx[4], i);
        s.zoneMemory[size_t(i)] = bit(rx[5], i);
        s.zoneMemory[size_t(i + 8)] = bit(rx[6], i);
        s.systemFlags[size_t(i)] = bit(rx[7], i);
        s.systemFlags[size_t(i + 8)] = bit(rx[8], i);
    }
    s.pgmMask = 0;
    if (s.partition < 4)
        s.partition = -1;
    for (int k = 9; k < count && k < codec::MaxBytes; ++k) {
        const int b = rx[size_t(k)];
        switch (b >> 6) {
        case 0:
            if (s.partition < 4)
                s.partition = b & 3;
            break;
        case 1:
            s.pgmMask = (b & 63) * 4;
            break;
        default:
            break;
        }
    }
    if (s.systemFlags[14] == 1)
        s.pgmMask += 1;
    if (s.systemFlags[15] == 1)
        s.pgmMask += 2;
}
