#include "PlayPace.h"

#include "demux/StreamDemuxer.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>

namespace kevra {

namespace {

// The container's duration, or 0 when it declares none.
double containerSeconds(const std::string& path)
{
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return 0;
    double seconds = 0;
    if (avformat_find_stream_info(fmt, nullptr) >= 0 && fmt->duration != AV_NOPTS_VALUE &&
        fmt->duration > 0)
        seconds = static_cast<double>(fmt->duration) / AV_TIME_BASE;
    avformat_close_input(&fmt);
    return seconds;
}

// Video frames over the rate of the first key frame that declares a usable one.
double framesSeconds(const std::vector<uint8_t>& bytes)
{
    StreamDemuxer demuxer;
    long frames = 0;
    int rate = 0;
    constexpr size_t kBlock = 65536;
    for (size_t at = 0; at <= bytes.size(); at += kBlock) {
        const size_t n = at < bytes.size() ? std::min(kBlock, bytes.size() - at) : 0;
        // After the last block, the end of the file hands out the last frame.
        if ((n > 0 ? demuxer.feed(bytes.data() + at, static_cast<int>(n)) : demuxer.finish()) != 0)
            continue;
        while (const MediaFrame* r = demuxer.nextFrame()) {
            if (r->kind != recordCode(FrameKind::Video) || r->payloadLength <= 0)
                continue;
            ++frames;
            if (rate == 0 && r->subtype == recordCode(FrameSubtype::Key) && r->frameRate >= 1 &&
                r->frameRate <= 100)
                rate = r->frameRate;
        }
    }
    return (frames > 0 && rate > 0) ? static_cast<double>(frames) / rate : 0;
}

}   // namespace

double PlayPace::fileSeconds(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const double seconds = containerSeconds(path);
    return seconds > 0 ? seconds : framesSeconds(bytes);
}

size_t PlayPace::bytesPerPeriod(size_t bytes, double seconds, int fps, int bitrate)
{
    if (fps <= 0)
        fps = 25;
    double n = seconds > 0 ? static_cast<double>(bytes) / (seconds * fps)
                           : (bitrate > 0 ? bitrate / 8.0 / fps : 4096);
    n = std::ceil(n);
    return n < 64 ? 64 : static_cast<size_t>(std::min(n, 1e9));
}

}   // namespace kevra
