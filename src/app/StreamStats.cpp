#include "app/StreamStats.h"

#include "app/ViewerLog.h"

#include "demux/FrameNames.h"
#include "demux/MediaFrame.h"

#include <algorithm>
#include <cstdio>

namespace kevra {

namespace {

double ms(uint64_t later, uint64_t earlier)
{
    return later > earlier ? double(later - earlier) / 1000.0 : 0.0;
}

// The value at fraction q of sorted values (the same pick as the latency script's).
double pick(const std::vector<double>& sorted, double q)
{
    if (sorted.empty())
        return 0;
    const size_t i = std::min(sorted.size() - 1, size_t(q * double(sorted.size())));
    return sorted[i];
}

std::string format(const char* fmt, double a, double b = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

}   // namespace

void StreamStats::reset()
{
    std::lock_guard<std::mutex> g(lock_);
    pictures_.clear();
    samples_.clear();
    codec_ = -1;
    width_ = 0;
    height_ = 0;
}

void StreamStats::prune(uint64_t nowUs)
{
    const uint64_t from = nowUs > kWindowUs ? nowUs - kWindowUs : 0;
    while (!pictures_.empty() &&
           (pictures_.front().drawnUs < from || pictures_.size() > kMaxPictures))
        pictures_.pop_front();
    // One sample at or before the window's start stays: the rates span the whole window.
    while (samples_.size() > 1 && samples_[1].atUs <= from)
        samples_.pop_front();
}

void StreamStats::pictureShown(const Picture& picture, uint64_t drawnUs)
{
    std::lock_guard<std::mutex> g(lock_);
    width_ = picture.width;
    height_ = picture.height;
    // A picture without stage times (not from a decoder) counts as shown, with no latency.
    const uint64_t received = picture.receivedUs ? picture.receivedUs : drawnUs;
    const uint64_t decoded = std::max(picture.decodedUs, received);
    const uint64_t converted = std::max(picture.convertedUs, decoded);
    pictures_.push_back(Stamp{received, decoded, converted, std::max(drawnUs, converted)});
    prune(drawnUs);
}

void StreamStats::sample(const DecoderWorker::Counters& counters, int codec, uint64_t nowUs)
{
    std::lock_guard<std::mutex> g(lock_);
    if (codec >= 0)
        codec_ = codec;
    if (!samples_.empty() && nowUs < samples_.back().atUs + kSampleUs)
        return;
    samples_.push_back(Sample{nowUs, counters});
    prune(nowUs);
}

StreamStats::Figures StreamStats::figures(uint64_t nowUs) const
{
    std::lock_guard<std::mutex> g(lock_);
    Figures f;
    f.codec = codec_;
    f.width = width_;
    f.height = height_;
    const uint64_t from = nowUs > kWindowUs ? nowUs - kWindowUs : 0;

    std::vector<double> latency, decode, convert, wait;
    for (const Stamp& s : pictures_) {
        if (s.drawnUs < from || s.drawnUs > nowUs)
            continue;
        latency.push_back(ms(s.drawnUs, s.receivedUs));
        decode.push_back(ms(s.decodedUs, s.receivedUs));
        convert.push_back(ms(s.convertedUs, s.decodedUs));
        wait.push_back(ms(s.drawnUs, s.convertedUs));
    }
    f.pictures = int(latency.size());
    for (auto* v : {&latency, &decode, &convert, &wait})
        std::sort(v->begin(), v->end());
    f.latencyP50 = pick(latency, 0.5);
    f.latencyP95 = pick(latency, 0.95);
    f.latencyMax = latency.empty() ? 0 : latency.back();
    f.decodeP50 = pick(decode, 0.5);
    f.convertP50 = pick(convert, 0.5);
    f.waitP50 = pick(wait, 0.5);

    // Rates between the oldest sample of the window and the newest.
    if (samples_.size() >= 2) {
        const Sample& first = samples_.front();
        const Sample& last = samples_.back();
        if (last.atUs > first.atUs) {
            f.seconds = double(last.atUs - first.atUs) / 1e6;
            const DecoderWorker::Counters& a = first.counters;
            const DecoderWorker::Counters& b = last.counters;
            f.fpsReceived = double(b.frames - a.frames) / f.seconds;
            f.bitsPerSecond = int64_t(double(b.bytes - a.bytes) * 8.0 / f.seconds);
            f.dropped = b.skipped - a.skipped;
            f.lostPushes = b.droppedPushes - a.droppedPushes;
            int shown = 0;
            for (const Stamp& s : pictures_)
                shown += s.drawnUs > first.atUs && s.drawnUs <= last.atUs;
            f.fpsShown = double(shown) / f.seconds;
        }
    }
    return f;
}

std::string StreamStats::codecName(int codec)
{
    if (codec < 0)
        return "-";
    if (isH264(codec))
        return "H.264";
    if (codec == recordCode(VideoCodec::Mpeg4))
        return "MPEG-4";
    return "codec " + std::to_string(codec);
}

std::vector<std::pair<const char16_t*, std::string>> StreamStats::overlayRows(const Figures& f)
{
    std::vector<std::pair<const char16_t*, std::string>> rows;
    rows.emplace_back(u"ST_CODEC", codecName(f.codec));
    rows.emplace_back(u"ST_SIZE", f.width > 0
                                      ? std::to_string(f.width) + "x" + std::to_string(f.height)
                                      : std::string("-"));
    rows.emplace_back(u"ST_FPS", format("%.1f / %.1f", f.fpsReceived, f.fpsShown));
    rows.emplace_back(u"ST_RATE", f.bitsPerSecond >= 1'000'000
                                      ? format("%.2f Mbit/s", double(f.bitsPerSecond) / 1e6)
                                      : format("%.0f kbit/s", double(f.bitsPerSecond) / 1e3));
    rows.emplace_back(u"ST_DROP", std::to_string(f.dropped + f.lostPushes));
    rows.emplace_back(u"ST_DELAY", f.pictures > 0
                                       ? format("%.0f / %.0f ms", f.latencyP50, f.latencyP95)
                                       : std::string("-"));
    return rows;
}

std::string StreamStats::logLine(int channel, const Figures& f, int recorder)
{
    char text[360];
    std::snprintf(text, sizeof text,
                  "stats %s: %s %dx%d, %.1f frames/s received, %.1f shown, %lld bit/s, "
                  "%lld dropped, %lld chunks lost; network to screen p50 %.1f ms, p95 %.1f ms, "
                  "max %.1f ms (decoded %.1f, converted %.1f, waited to be drawn %.1f; medians) "
                  "over %d pictures",
                  ViewerLog::cameraText(channel, recorder).c_str(), codecName(f.codec).c_str(),
                  f.width, f.height, f.fpsReceived, f.fpsShown,
                  static_cast<long long>(f.bitsPerSecond), static_cast<long long>(f.dropped),
                  static_cast<long long>(f.lostPushes), f.latencyP50, f.latencyP95, f.latencyMax,
                  f.decodeP50, f.convertP50, f.waitP50, f.pictures);
    return text;
}

}   // namespace kevra
