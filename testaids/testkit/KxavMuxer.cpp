#include "testkit/KxavMuxer.h"

#include <cstring>

namespace kevra {

namespace {
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
    v[at + 2] = uint8_t(x >> 16);
    v[at + 3] = uint8_t(x >> 24);
}
}   // namespace

uint32_t KxavMuxer::packTime(int year, int month, int day, int hour, int minute, int second)
{
    return uint32_t(second & 0x3F) | (uint32_t(minute & 0x3F) << 6) |
           (uint32_t(hour & 0x1F) << 12) | (uint32_t(day & 0x1F) << 17) |
           (uint32_t(month & 0x0F) << 22) | (uint32_t((year - 2000) & 0x3F) << 26);
}

std::vector<uint8_t> KxavMuxer::packet(int type, int subType, uint32_t sequence,
                                       uint32_t packedTime, const std::vector<uint8_t>& extension,
                                       const uint8_t* payload, size_t n, bool brokenChecksum,
                                       int64_t totalOverride)
{
    const size_t e = extension.size() & 0xFF;
    const size_t total = kHeaderBytes + e + n + kTrailerBytes;
    std::vector<uint8_t> v(total, 0);
    std::memcpy(v.data(), "KXAV", 4);
    v[4] = uint8_t(type);
    v[5] = uint8_t(subType);
    put32(v, 8, sequence);
    put32(v, 12, totalOverride >= 0 ? uint32_t(totalOverride) : uint32_t(total));
    put32(v, 16, packedTime);
    v[22] = uint8_t(e);
    unsigned sum = 0;
    for (int i = 0; i < 23; ++i)
        sum += v[i];
    v[23] = uint8_t(sum - (brokenChecksum ? 1 : 0));
    if (e)
        std::memcpy(v.data() + kHeaderBytes, extension.data(), e);
    if (n)
        std::memcpy(v.data() + kHeaderBytes + e, payload, n);
    return v;
}

std::vector<uint8_t> KxavMuxer::videoFrame(const uint8_t* data, size_t n, bool key, int codecByte,
                                           int width, int height, int fps, uint32_t packedTime)
{
    std::vector<uint8_t> ext;
    if (key) {
        const std::vector<uint8_t> picture = {0x80, uint8_t(scanMode_), uint8_t(width / 8),
                                              uint8_t(height / 8)};
        const std::vector<uint8_t> codec = {0x81, 0x00, uint8_t(codecByte), uint8_t(fps)};
        const auto& a = codecBlockFirst_ ? codec : picture;
        const auto& b = codecBlockFirst_ ? picture : codec;
        ext.insert(ext.end(), a.begin(), a.end());
        ext.insert(ext.end(), b.begin(), b.end());
    }
    return packet(key ? 0xFD : dependentType_, 0, sequence_++, packedTime, ext, data, n,
                  brokenChecksum_);
}

std::vector<uint8_t> KxavMuxer::audioFrame(const uint8_t* data, size_t n, int channels,
                                           int codecByte, int rateCode, uint32_t packedTime)
{
    const std::vector<uint8_t> ext = {0x00, uint8_t(channels), uint8_t(codecByte),
                                      uint8_t(rateCode)};
    return packet(0xF0, 0, 0, packedTime, ext, data, n, brokenChecksum_);
}

std::vector<uint8_t> KxavMuxer::textPacket(const std::string& text, int64_t declaredLength,
                                           uint32_t packedTime)
{
    std::vector<uint8_t> payload(12 + text.size(), 0);
    std::memcpy(payload.data(), "TEXT", 4);
    put32(payload, 8, declaredLength < 0 ? uint32_t(text.size()) : uint32_t(declaredLength));
    if (!text.empty())
        std::memcpy(payload.data() + 12, text.data(), text.size());
    return packet(0xF1, 6, 0, packedTime, {}, payload.data(), payload.size(), brokenChecksum_);
}

std::vector<uint8_t> KxavMuxer::auxPacket(int type, int subType, const uint8_t* data, size_t n,
                                          uint32_t packedTime)
{
    return packet(type, subType, 0, packedTime, {}, data, n, brokenChecksum_);
}

}   // namespace kevra
