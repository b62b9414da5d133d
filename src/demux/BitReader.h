// BitReader: reads an MPEG-4 header bit by bit, most significant bit first.
// Owns nothing (borrows the caller's bytes); used only on the decoder worker thread.
// Bits beyond the bytes present read as 0 and raise the overrun flag.
#pragma once

#include <cstdint>

namespace kevra {

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, int available) { open(data, available); }

    // Starts reading at the first byte; `available` bytes may be read, never more.
    void open(const uint8_t* data, int available);

    // The next n bits (1..32) as an unsigned value, without advancing.
    uint32_t peek(int n);
    // Advance by exactly n bits (any n >= 0).
    void skip(int64_t n);
    // peek(n) then skip(n).
    uint32_t read(int n);
    // Advance to the next byte boundary (nothing when already on one).
    void alignToByte();

    // Whole bytes advanced so far.
    int consumed() const { return static_cast<int>(bitPos_ / 8); }
    int64_t bitPosition() const { return bitPos_; }
    // True once any peek or skip reached past the bytes present.
    bool overrun() const { return overrun_; }
    // Bits left before the end of the bytes present (0 when past it).
    int64_t bitsLeft() const;

private:
    const uint8_t* data_ = nullptr;
    int64_t availableBits_ = 0;
    int64_t bitPos_ = 0;
    bool overrun_ = false;
};

}   // namespace kevra
