// KXAV streams of the test pattern, one packet per frame, with the recorder's frame times, for
// the clip tests. Stateless; any test thread.
#pragma once
#include <cstdint>
#include <vector>

#include "testkit/PatternEncoder.h"

namespace kevra {

struct TestStream {
    static constexpr int kFps = 25;

    struct Shape {
        PatternEncoder::Codec codec = PatternEncoder::Codec::H264;
        int width = 352, height = 288, frames = 50, gop = 25;
        int bitrate = 0;               // 0: quality mode, no noise
        int64_t firstSecond = 36000;   // recorder time of the first frame (seconds of a day)
        int jumpAt = -1;               // from this frame on, the recorder's time is off by
        int64_t jumpSeconds = 0;       // jumpSeconds
    };

    static std::vector<std::vector<uint8_t>> make(const Shape& shape);
};

}   // namespace kevra
