// Vectorised search for three-byte code prefixes (the 00 00 01 of a start code, the "01w" of
// an AVI "01wb" tag): the shared fast path of the demultiplexers' start-code loops.
// Stateless; any thread.
#pragma once
#include <cstdint>

namespace kevra {

class StartCodeScanner {
public:
    static constexpr uint32_t kStartPrefix = 0x000001;      // 00 00 01
    static constexpr uint32_t kAviAudioPrefix = 0x303177;   // "01w"

    // First q in [from, end) whose bytes q[-2], q[-1], q[0] spell prefix a or prefix b
    // (24-bit, first byte highest); end when there is none. Reads from from - 2 on: the two
    // bytes before from must be readable.
    static const uint8_t* findPrefixEnd(const uint8_t* from, const uint8_t* end, uint32_t a,
                                        uint32_t b);
    // First p in [from, end - 3] where p[0..2] is 00 00 01; end when there is none.
    static const uint8_t* findStartCode(const uint8_t* from, const uint8_t* end);
};

}   // namespace kevra
