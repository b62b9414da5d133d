#include "testkit/PacketMuxer.h"

#include <cstring>

namespace kevra {

namespace {
std::vector<uint8_t> start(int code, size_t headerBytes, size_t n)
{
    std::vector<uint8_t> v(4 + headerBytes + n, 0);
    v[2] = 0x01;
    v[3] = uint8_t(0xF0 | (code & 0x0F));
    return v;
}
void put24(uint8_t* p, uint32_t x)
{
    p[0] = uint8_t(x);
    p[1] = uint8_t(x >> 8);
    p[2] = uint8_t(x >> 16);
}
void put32(uint8_t* p, uint32_t x)
{
    put24(p, x);
    p[3] = uint8_t(x >> 24);
}
}   // namespace

std::vector<uint8_t> PacketMuxer::keyPacket(int code, const uint8_t* data, size_t n, int width,
                                            int height, int fps, uint32_t packedTime,
                                            uint8_t sequence, int firstByte, int param1,
                                            int64_t declaredLength)
{
    std::vector<uint8_t> v = start(code, 12, n);
    uint8_t* h = v.data() + 4;
    h[0] = uint8_t(firstByte);
    h[1] = uint8_t((fps & 0x1F) | ((param1 & 7) << 5));
    h[2] = uint8_t(width / 8);
    h[3] = uint8_t(height / 8);
    put32(h + 4, packedTime);
    put24(h + 8, declaredLength < 0 ? uint32_t(n) : uint32_t(declaredLength));
    h[11] = sequence;
    if (n)
        std::memcpy(h + 12, data, n);
    return v;
}

std::vector<uint8_t> PacketMuxer::dependentPacket(int code, const uint8_t* data, size_t n,
                                                  uint8_t sequence, int64_t declaredLength)
{
    std::vector<uint8_t> v = start(code, 4, n);
    uint8_t* h = v.data() + 4;
    put24(h, declaredLength < 0 ? uint32_t(n) : uint32_t(declaredLength));
    h[3] = sequence;
    if (n)
        std::memcpy(h + 4, data, n);
    return v;
}

std::vector<uint8_t> PacketMuxer::audioPacket(const uint8_t* data, size_t n, int codec,
                                              int rateCode, int64_t declaredLength)
{
    std::vector<uint8_t> v = start(0xF0, 4, n);
    uint8_t* h = v.data() + 4;
    h[0] = uint8_t(codec);
    h[1] = uint8_t(rateCode);
    const uint32_t len = declaredLength < 0 ? uint32_t(n) : uint32_t(declaredLength);
    h[2] = uint8_t(len);
    h[3] = uint8_t(len >> 8);
    if (n)
        std::memcpy(h + 4, data, n);
    return v;
}

std::vector<uint8_t> PacketMuxer::auxPacket(const uint8_t* data, size_t n)
{
    std::vector<uint8_t> v = start(0xF1, 12, n);
    uint8_t* h = v.data() + 4;
    h[0] = 8;
    put32(h + 8, uint32_t(n));
    if (n)
        std::memcpy(h + 12, data, n);
    return v;
}

std::vector<uint8_t> PacketMuxer::keyFrame(const uint8_t* data, size_t n, int width, int height,
                                           int fps, uint32_t packedTime, int code, int firstByte,
                                           int param1)
{
    return keyPacket(code, data, n, width, height, fps, packedTime, sequence_++, firstByte, param1);
}

std::vector<uint8_t> PacketMuxer::dependentFrame(const uint8_t* data, size_t n, int code)
{
    return dependentPacket(code, data, n, sequence_++);
}

}   // namespace kevra
