#include "testkit/BitWriter.h"

namespace kevra {

void BitWriter::put(uint32_t value, int bits)
{
    for (int i = bits - 1; i >= 0; --i) {
        if ((bitCount_ & 7) == 0)
            bytes_.push_back(0);
        if ((value >> i) & 1u)
            bytes_.back() |= static_cast<uint8_t>(0x80u >> (bitCount_ & 7));
        ++bitCount_;
    }
}

void BitWriter::stuff()
{
    put(0, 1);
    while ((bitCount_ & 7) != 0)
        put(1, 1);
}

std::vector<uint8_t> BitWriter::take()
{
    std::vector<uint8_t> out;
    out.swap(bytes_);
    bitCount_ = 0;
    return out;
}

}   // namespace kevra
