// Inputs the benchmarks share, made once per run: H.264 streams encoded from the simulated
// camera's pattern, and container files written by the ffmpeg tool into a temporary folder
// (removed at exit). Used by the benchmark thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kevra {

class BenchStreams {
public:
    struct Frame {
        std::vector<uint8_t> bytes;   // one access unit, Annex B
        bool key = false;
    };
    static constexpr int kFps = 25;
    static constexpr int kFrames = 100;   // four seconds, a key frame every second

    // The pattern camera with noise on, encoded once per size: 2 Mbit/s up to 704x576,
    // 8 Mbit/s above. Empty when the encoder cannot open.
    static const std::vector<Frame>& h264(int width, int height);
    // The same frames as KXAV packets (codec byte 2) and as a 0x000001Fx packet stream.
    static const std::vector<std::vector<uint8_t>>& kxavPackets(int width, int height);
    static const std::vector<uint8_t>& packetStream(int width, int height);

    // Folder with the ffmpeg-made files ("" when ffmpeg is missing): ps-h264.mpg (1080p H.264
    // program stream), av.avi (1080p MPEG-4 Visual + PCM), av.asf (1080p MPEG-4 Visual + WMA),
    // random.h264 (incompressible 1080p frames, for the link's ceiling).
    static const std::string& sampleDir();
    static std::vector<uint8_t> readFile(const std::string& path);
    // Folder of the running executable, with a trailing '/'.
    static std::string binDir();
};

}   // namespace kevra
