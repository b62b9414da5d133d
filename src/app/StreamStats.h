// Rolling figures of one shown stream for the stats overlay and the log: the stage times of
// every picture drawn in the last kWindowUs (received, decoded, converted, drawn) and samples
// of the decoder's counters, from which come the frame rates received and shown, the bitrate,
// the frames dropped and the network-to-screen latency. Bounded: at most kMaxPictures pictures
// and one counter sample per kSampleUs. Times are the program clock's microseconds
// (Clock::nowUs), passed in, so tests run it on a manual clock.
// Threads: the frame timer records (pictureShown, sample); any thread reads figures(); reset()
// on the thread that owns the stream. Everything is guarded by lock_.
#pragma once
#include "video/DecoderWorker.h"
#include "video/Picture.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kevra {

class StreamStats {
public:
    static constexpr uint64_t kWindowUs = 10'000'000;
    static constexpr size_t kMaxPictures = 2048;   // 10 s at up to 200 pictures per second
    static constexpr uint64_t kSampleUs = 100'000;

    struct Figures {
        int codec = -1;   // record codec number, -1 none
        int width = 0;
        int height = 0;
        double fpsReceived = 0;
        double fpsShown = 0;
        int64_t bitsPerSecond = 0;
        int64_t dropped = 0;      // frames not shown in the window: passed over, dropped unread
        int64_t lostPushes = 0;   // input chunks discarded in the window (queue full)
        int pictures = 0;         // pictures drawn in the window
        // Milliseconds from the last byte received to drawn, and per stage (medians).
        double latencyP50 = 0;
        double latencyP95 = 0;
        double latencyMax = 0;
        double decodeP50 = 0;    // received -> decoded
        double convertP50 = 0;   // decoded -> converted
        double waitP50 = 0;      // converted -> drawn
        double seconds = 0;      // span the rates are measured over
    };

    // Forgets everything (a new stream).
    void reset();
    // A picture was drawn at drawnUs.
    void pictureShown(const Picture& picture, uint64_t drawnUs);
    // The decoder's running totals and codec at nowUs; kept once per kSampleUs.
    void sample(const DecoderWorker::Counters& counters, int codec, uint64_t nowUs);
    Figures figures(uint64_t nowUs) const;

    // "H.264", "MPEG-4" or "-".
    static std::string codecName(int codec);
    // The overlay's rows: a language key for the label and the value's text.
    static std::vector<std::pair<const char16_t*, std::string>> overlayRows(const Figures& f);
    // One line for the log and the latency script.
    static std::string logLine(int channel, const Figures& f, int recorder = 0);

private:
    struct Stamp {
        uint64_t receivedUs, decodedUs, convertedUs, drawnUs;
    };
    struct Sample {
        uint64_t atUs;
        DecoderWorker::Counters counters;
    };
    void prune(uint64_t nowUs);

    mutable std::mutex lock_;
    std::deque<Stamp> pictures_;
    std::deque<Sample> samples_;
    int codec_ = -1;
    int width_ = 0;
    int height_ = 0;
};

}   // namespace kevra
