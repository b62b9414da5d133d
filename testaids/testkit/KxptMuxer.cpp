#include "testkit/KxptMuxer.h"

#include <algorithm>
#include <cstring>

namespace kevra {

std::vector<uint8_t> KxptMuxer::video(const uint8_t* data, size_t n)
{
    std::vector<uint8_t> v(8 + n, 0);
    std::memcpy(v.data(), "KXPT", 4);
    v[4] = uint8_t(n);
    v[5] = uint8_t(n >> 8);
    v[6] = uint8_t(n >> 16);
    v[7] = uint8_t(n >> 24);
    if (n)
        std::memcpy(v.data() + 8, data, n);
    return v;
}

std::vector<uint8_t> KxptMuxer::audio(const uint8_t* data, size_t n, int codec, int rateCode)
{
    std::vector<uint8_t> v(8 + n, 0);
    v[2] = 0x01;
    v[3] = 0xF0;
    v[4] = uint8_t(codec);
    v[5] = uint8_t(rateCode);
    v[6] = uint8_t(n);
    v[7] = uint8_t(n >> 8);
    if (n)
        std::memcpy(v.data() + 8, data, n);
    return v;
}

std::vector<uint8_t> KxptMuxer::keyPayload(int width, int height, int hour, int minute, int second,
                                           int frameRate, const std::vector<uint8_t>& vopData)
{
    std::vector<uint8_t> v = {0x00, 0x00, 0x01, 0x00};   // video object
    // Layer header: b1 = 4; width = b5 * 4 + (b6 >> 6), height = (b6 & 0x0F) * 256 + b7.
    const uint8_t layer[] = {0x00,
                             0x00,
                             0x01,
                             0x20,
                             0x08,
                             0x04,
                             0x11,
                             0x22,
                             0x33,
                             uint8_t(width / 4),
                             uint8_t(((width % 4) << 6) | ((height >> 8) & 0x0F)),
                             uint8_t(height & 0xFF)};
    v.insert(v.end(), layer, layer + sizeof layer);
    const uint8_t gop[] = {0x00,
                           0x00,
                           0x01,
                           0xB3,
                           uint8_t((hour << 3) | (minute >> 3)),
                           uint8_t(((minute & 7) << 5) | 0x10 | (second >> 2)),
                           uint8_t((second & 3) << 6)};
    v.insert(v.end(), gop, gop + sizeof gop);
    const uint8_t user[] = {
        0x00, 0x00, 0x01, 0xB2, 0x4B, 0x45, 0x56, 0x52, 0x41, 0x20, uint8_t(frameRate)};
    v.insert(v.end(), user, user + sizeof user);
    std::vector<uint8_t> vop = dependentPayload(vopData);
    v.insert(v.end(), vop.begin(), vop.end());
    return v;
}

std::vector<uint8_t> KxptMuxer::dependentPayload(const std::vector<uint8_t>& vopData)
{
    std::vector<uint8_t> v(4 + vopData.size());
    v[2] = 0x01;
    v[3] = 0xB6;
    std::copy(vopData.begin(), vopData.end(), v.begin() + 4);
    return v;
}

}   // namespace kevra
