// One access unit on its way out to RTSP clients: the bytes as the recorder's stream carried
// them (a key frame always led by its parameter sets), shared read-only by the camera's cache
// and every client queue holding it. Made on the recorder link's network thread, read anywhere.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace kevra::gateway {

enum class OutCodec { None, H264, Mpeg4 };

struct OutFrame {
    OutCodec codec = OutCodec::None;
    bool key = false;
    int width = 0;
    int height = 0;
    int64_t timeUs = 0;       // the camera's timeline, monotonic (hub's own, see CameraHub)
    int64_t durationUs = 0;   // expected distance to the next frame
    uint64_t arrivalNs = 0;   // steadyNowNs() when its last bytes came from the recorder
    std::vector<uint8_t> bytes;

    // The steady clock the gateway measures its own delays on, in nanoseconds.
    static uint64_t steadyNowNs();
};

using OutFramePtr = std::shared_ptr<const OutFrame>;

const char* codecName(OutCodec codec);

}   // namespace kevra::gateway
