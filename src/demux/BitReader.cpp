#include "demux/BitReader.h"

namespace kevra {

void BitReader::open(const uint8_t* data, int available)
{
    data_ = data;
    availableBits_ = (data != nullptr && available > 0) ? static_cast<int64_t>(available) * 8 : 0;
    bitPos_ = 0;
    overrun_ = false;
}

uint32_t BitReader::peek(int n)
{
    if (n <= 0)
        return 0;
    if (n > 32)
        n = 32;
    if (bitPos_ + n > availableBits_)
        overrun_ = true;
    uint64_t value = 0;
    int64_t pos = bitPos_;
    for (int i = 0; i < n; ++i, ++pos) {
        unsigned bit = 0;
        if (pos < availableBits_)
            bit = (data_[pos >> 3] >> (7 - (pos & 7))) & 1u;
        value = (value << 1) | bit;
    }
    return static_cast<uint32_t>(value);
}

void BitReader::skip(int64_t n)
{
    if (n <= 0)
        return;
    bitPos_ += n;
    if (bitPos_ > availableBits_)
        overrun_ = true;
}

uint32_t BitReader::read(int n)
{
    uint32_t v = peek(n);
    skip(n);
    return v;
}

void BitReader::alignToByte()
{
    int64_t rest = bitPos_ & 7;
    if (rest != 0)
        skip(8 - rest);
}

int64_t BitReader::bitsLeft() const
{
    return bitPos_ >= availableBits_ ? 0 : availableBits_ - bitPos_;
}

}   // namespace kevra
