// The keypad interface's line buffer and line decoder: whatever arrives, the
// buffer stays bounded and the LEDs shown exist on the keypad.

#include "fuzz_support.h"

#include "keypad/rx_decode.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    keypad::LineBuffer buffer;
    QByteArray line;
    for (size_t i = 0; i < size; ++i) {
        if (buffer.feed(char(data[i]), &line)) {
            const keypad::Decoded d = keypad::rx_decode(line);
            for (bool phase : {false, true})
                fuzz::require(keypad::shownLeds(d.steady, d.blink, phase) < (1u << 20), "un LED que el teclado no tiene");
        }
        fuzz::require(buffer.text().size() <= keypad::LineBuffer::MaxLine, "el búfer de línea creció sin límite");
    }
    // A whole input taken as one line, too.
    keypad::rx_decode(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
