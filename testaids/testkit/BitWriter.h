// BitWriter: most-significant-bit-first writer for building MPEG-4 headers in tests.
// Owns its byte vector; used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

namespace kevra {

class BitWriter {
public:
    void put(uint32_t value, int bits);
    void putMarker() { put(1, 1); }
    // Pads to a byte boundary with a 0 followed by 1s (MPEG-4 stuffing); a full byte
    // (0x7F) when already aligned.
    void stuff();
    int bitCount() const { return bitCount_; }
    std::vector<uint8_t> take();

private:
    std::vector<uint8_t> bytes_;
    int bitCount_ = 0;
};

}   // namespace kevra
