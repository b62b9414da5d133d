// How fast a file given to --play is sent: its own playing time, read from the file's
// timestamps (libavformat) or, for a raw stream without them, from its frame count and the
// frame rate its headers declare. Stateless; called by a camera stream when it opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kevra {

class PlayPace {
public:
    // Seconds the file plays for, or 0 when neither its timestamps nor its frames tell.
    static double fileSeconds(const std::string& path, const std::vector<uint8_t>& bytes);

    // Bytes to send per frame period of `fps` so that `bytes` last `seconds` (at least 64, the
    // smallest media message); with seconds 0, one period's share of `bitrate` (bit/s; 0 gives
    // 4096).
    static size_t bytesPerPeriod(size_t bytes, double seconds, int fps, int bitrate);
};

}   // namespace kevra
