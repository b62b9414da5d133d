#include "remux/support/TestStream.h"

#include "testkit/KxavMuxer.h"

namespace kevra {

namespace {

// The recorder's packed date and time for a second of 2026-12-08.
uint32_t packedTime(int64_t second)
{
    const uint32_t s = uint32_t(second % 86400);
    return (s % 60) | ((s / 60) % 60) << 6 | (s / 3600) << 12 | 8u << 17 | 12u << 22 | 26u << 26;
}

}   // namespace

std::vector<std::vector<uint8_t>> TestStream::make(const Shape& s)
{
    PatternEncoder enc;
    std::vector<std::vector<uint8_t>> packets;
    if (enc.open(0, s.width, s.height, kFps, s.bitrate, s.gop, s.codec) != 0)
        return packets;
    enc.setNoise(s.bitrate > 0);
    KxavMuxer mux;
    const int codecByte = s.codec == PatternEncoder::Codec::H264 ? 8 : 1;
    for (int i = 0; i < s.frames; ++i) {
        std::vector<uint8_t> frame;
        bool key = false;
        if (enc.encodeNext(frame, key) != 0)
            break;
        const int64_t second =
            s.firstSecond + i / kFps + (s.jumpAt >= 0 && i >= s.jumpAt ? s.jumpSeconds : 0);
        packets.push_back(
            mux.videoFrame(frame, key, codecByte, s.width, s.height, kFps, packedTime(second)));
    }
    return packets;
}

}   // namespace kevra
