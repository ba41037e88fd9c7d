#pragma once
// What the panel holds, read back beside the memory image of the stored
// values: after an upload (to prove it) or for a comparison the operator asks
// for. Nothing read into it reaches the subscriber's values by itself.

#include <QtGlobal>
#include <array>

struct ComparisonImage {
    static constexpr int Size = 5001;
    std::array<qint16, Size> bytes{}; // as read from the panel
    std::array<bool, Size> wanted{};  // still to be read
    std::array<bool, Size> known{};   // read since the image was cleared

    void clear()
    {
        bytes.fill(0);
        wanted.fill(false);
        known.fill(false);
    }
    // The lowest address still to be read at or after `from`; Size when none
    // (the last address is never moved, as in any transfer).
    int nextWanted(int from = 0) const
    {
        int a = from;
        while (a < Size - 1 && !wanted[size_t(a)])
            ++a;
        return a < Size - 1 ? a : Size;
    }
};
