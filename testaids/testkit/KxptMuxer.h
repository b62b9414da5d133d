// KxptMuxer: writes the KXPT packet variant (format 3) for tests and the simulated recorder:
// "KXPT" video packets around MPEG-4 payloads and 0x000001F0 audio packets, plus the MPEG-4
// object headers that describe a key frame. Stateless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevra {

class KxptMuxer {
public:
    // "KXPT", 32-bit payload length, payload.
    static std::vector<uint8_t> video(const uint8_t* data, size_t n);
    static std::vector<uint8_t> video(const std::vector<uint8_t>& data)
    {
        return video(data.data(), data.size());
    }
    // 0x000001F0, codec byte, sample-rate code, 16-bit payload length, payload.
    static std::vector<uint8_t> audio(const uint8_t* data, size_t n, int codec, int rateCode);
    static std::vector<uint8_t> audio(const std::vector<uint8_t>& data, int codec, int rateCode)
    {
        return audio(data.data(), data.size(), codec, rateCode);
    }

    // Key-frame payload: video object start, layer header (the layout with byte 1 = 4 that
    // carries width and height), GOP time, user data with the frame rate, then the VOP start
    // code and vopData.
    static std::vector<uint8_t> keyPayload(int width, int height, int hour, int minute, int second,
                                           int frameRate, const std::vector<uint8_t>& vopData);
    // Dependent-frame payload: VOP start code and vopData.
    static std::vector<uint8_t> dependentPayload(const std::vector<uint8_t>& vopData);
};

}   // namespace kevra
