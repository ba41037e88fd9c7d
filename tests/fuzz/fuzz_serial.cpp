// The serial receive path: modem text while dialling and waiting, answer
// frames character by character while connected, during transfers and event
// downloads.

#include "link_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static LinkHarness h;
    h.run(data, size, [](const QByteArray& chunk, uint8_t) {
        if (h.com.isOpen())
            h.com.receive(chunk);
        h.com.clearInput();
    });
    h.com.takeWritten();
    return 0;
}
