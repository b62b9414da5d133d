// BM_DecodePair<codec>/<W>x<H> (below) runs both sides in turn and gives their ratio.
// BM_Decode/<impl>/<W>x<H>: frames per second from stream bytes to converted 32-bit pictures,
// one stream (the pattern camera with noise, 100 frames, a key frame every 25) per iteration.
// <impl> is kevra or libavcodec for H.264, kevra-mpeg4 or libavcodec-mpeg4 for MPEG-4 Visual
// (4 Mbit/s up to 704x576, 10 Mbit/s above).
//   kevra        DecoderWorker driven without its thread: each KXAV packet pushed into the
//                input queue, intake, then steps until no picture is left; every converted
//                picture is taken and given back as the display would
//   libavcodec   bare libavcodec decode of the same frames with the decoder settings of our
//                decoder layer (H.264: slice threads, low delay; MPEG-4: one thread), then
//                ColourConverter::convert of each picture
// Both open a fresh decoder per iteration. Rates are per second of the process's CPU time,
// which counts the H.264 decoder's slice helper threads and leaves out other work on a shared
// machine (real time there swings by a factor of two between repetitions).
#include "BenchStreams.h"
#include "testkit/KxavMuxer.h"
#include "testkit/PatternEncoder.h"
#include "video/ColourConverter.h"
#include "video/DecoderWorker.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace {

using kevra::BenchStreams;

void setRate(benchmark::State& state, int64_t pictures, int expected)
{
    state.counters["frames/s"] =
        benchmark::Counter(double(pictures), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["pictures"] = double(pictures);
    if (pictures != expected)
        state.SetLabel("pictures " + std::to_string(pictures) + " of " + std::to_string(expected));
}

struct Mpeg4Stream {
    std::vector<BenchStreams::Frame> frames;
    std::vector<std::vector<uint8_t>> packets;   // the frames in KXAV packets, codec byte 1
};

// The pattern camera in MPEG-4 Visual, encoded once per size.
const Mpeg4Stream& mpeg4Stream(int w, int h)
{
    static std::map<std::pair<int, int>, Mpeg4Stream> cache;
    auto it = cache.find({w, h});
    if (it != cache.end())
        return it->second;
    Mpeg4Stream& s = cache[{w, h}];
    kevra::PatternEncoder enc;
    const int bitrate = w * h > 704 * 576 ? 10000000 : 4000000;
    if (enc.open(0, w, h, BenchStreams::kFps, bitrate, BenchStreams::kFps,
                 kevra::PatternEncoder::Codec::Mpeg4) != 0)
        return s;
    enc.setNoise(true);
    kevra::KxavMuxer mux;
    for (int i = 0; i < BenchStreams::kFrames; ++i) {
        BenchStreams::Frame f;
        if (enc.encodeNext(f.bytes, f.key) != 0)
            break;
        s.packets.push_back(mux.videoFrame(f.bytes, f.key, 1, w, h, BenchStreams::kFps, 0));
        s.frames.push_back(std::move(f));
    }
    return s;
}

// The worker driven without its thread over one stream; run() returns the pictures taken.
class KevraDecode {
public:
    KevraDecode() : worker_(std::make_unique<kevra::DecoderWorker>())
    {
        worker_->setPixelFormat(kevra::PixelFormat::Bgrx32);
    }
    int64_t run(const std::vector<std::vector<uint8_t>>& packets)
    {
        worker_->startManual();
        pictures_ = 0;
        for (const auto& p : packets) {
            worker_->push(p.data(), int(p.size()));
            worker_->runIntake();
            drain();
        }
        drain();
        return pictures_;
    }

private:
    void drain()
    {
        for (;;) {
            const int r = worker_->runStep();
            kevra::Picture picture;
            if (worker_->takePicture(picture)) {
                ++pictures_;
                worker_->giveBack(picture);
                continue;
            }
            if (r == kevra::DecoderWorker::kStepIdle)
                return;
        }
    }
    std::unique_ptr<kevra::DecoderWorker> worker_;
    int64_t pictures_ = 0;
};

// Bare libavcodec with a fresh decoder per run, then the converter; run() returns the pictures
// converted, or -1 when the decoder cannot open.
class LibavcodecDecode {
public:
    LibavcodecDecode(int w, int h, bool mpeg4)
        : w_(w), h_(h), mpeg4_(mpeg4), planes_(size_t(w) * h * 3 / 2),
          // Aligned like the worker's picture buffer, so both convert with the same stores.
          out_(static_cast<uint8_t*>(std::aligned_alloc(64, (size_t(w) * h * 4 + 63) / 64 * 64))),
          pkt_(av_packet_alloc()), frame_(av_frame_alloc())
    {
    }
    ~LibavcodecDecode()
    {
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
    }
    int64_t run(const std::vector<BenchStreams::Frame>& frames)
    {
        const AVCodec* codec = avcodec_find_decoder(mpeg4_ ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264);
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        if (mpeg4_) {
            ctx->thread_count = 1;
        } else {
            ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
            ctx->thread_type = FF_THREAD_SLICE;
            ctx->thread_count = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
        }
        ctx->width = w_;
        ctx->height = h_;
        if (avcodec_open2(ctx, codec, nullptr) < 0) {
            avcodec_free_context(&ctx);
            return -1;
        }
        pictures_ = 0;
        for (const auto& f : frames) {
            if (av_new_packet(pkt_, int(f.bytes.size())) < 0)
                continue;
            std::memcpy(pkt_->data, f.bytes.data(), f.bytes.size());
            avcodec_send_packet(ctx, pkt_);
            av_packet_unref(pkt_);
            take(ctx);
        }
        avcodec_send_packet(ctx, nullptr);
        take(ctx);
        avcodec_free_context(&ctx);
        return pictures_;
    }

private:
    struct AlignedFree {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    void take(AVCodecContext* ctx)
    {
        while (avcodec_receive_frame(ctx, frame_) == 0) {
            const int fw = std::min(frame_->width, w_), fh = std::min(frame_->height, h_);
            const uint8_t *y = frame_->data[0], *u = frame_->data[1], *v = frame_->data[2];
            if (frame_->linesize[0] != fw || frame_->linesize[1] != fw / 2 ||
                frame_->linesize[2] != fw / 2) {
                // The converter takes packed planes: copy when the decoder's rows are padded.
                uint8_t* py = planes_.data();
                uint8_t* pu = py + size_t(fw) * fh;
                uint8_t* pv = pu + size_t(fw / 2) * (fh / 2);
                for (int r = 0; r < fh; ++r)
                    std::memcpy(py + size_t(r) * fw, y + size_t(r) * frame_->linesize[0],
                                size_t(fw));
                for (int r = 0; r < fh / 2; ++r) {
                    std::memcpy(pu + size_t(r) * (fw / 2), u + size_t(r) * frame_->linesize[1],
                                size_t(fw / 2));
                    std::memcpy(pv + size_t(r) * (fw / 2), v + size_t(r) * frame_->linesize[2],
                                size_t(fw / 2));
                }
                y = py, u = pu, v = pv;
            }
            kevra::ColourConverter::convert(y, u, v, fw, fh, out_.get(), 32);
            benchmark::DoNotOptimize(out_.get());
            ++pictures_;
            av_frame_unref(frame_);
        }
    }
    int w_, h_;
    bool mpeg4_;
    std::vector<uint8_t> planes_;
    std::unique_ptr<uint8_t, AlignedFree> out_;
    AVPacket* pkt_;
    AVFrame* frame_;
    int64_t pictures_ = 0;
};

const std::vector<std::vector<uint8_t>>& packetsFor(int w, int h, bool mpeg4)
{
    return mpeg4 ? mpeg4Stream(w, h).packets : BenchStreams::kxavPackets(w, h);
}

const std::vector<BenchStreams::Frame>& framesFor(int w, int h, bool mpeg4)
{
    return mpeg4 ? mpeg4Stream(w, h).frames : BenchStreams::h264(w, h);
}

void decodeKevra(benchmark::State& state, int w, int h, bool mpeg4)
{
    const auto& packets = packetsFor(w, h, mpeg4);
    if (packets.empty()) {
        state.SkipWithError("encoder missing");
        return;
    }
    KevraDecode kevra;
    int64_t pictures = 0;
    for (auto _ : state)
        pictures = kevra.run(packets);
    setRate(state, pictures, int(packets.size()));
}

void decodeLibavcodec(benchmark::State& state, int w, int h, bool mpeg4)
{
    const auto& frames = framesFor(w, h, mpeg4);
    if (frames.empty()) {
        state.SkipWithError("encoder missing");
        return;
    }
    LibavcodecDecode bare(w, h, mpeg4);
    int64_t pictures = 0;
    for (auto _ : state) {
        pictures = bare.run(frames);
        if (pictures < 0) {
            state.SkipWithError("cannot open the decoder");
            break;
        }
    }
    setRate(state, std::max<int64_t>(pictures, 0), int(frames.size()));
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// BM_DecodePair: both sides in turn within every iteration (the order alternating), each timed
// by the process's CPU clock, so that load on a shared machine, which drifts over seconds,
// weighs on both alike. "ratio" is the libavcodec side's CPU time over the worker's (above 1:
// the worker is faster).
void decodePair(benchmark::State& state, int w, int h, bool mpeg4)
{
    const auto& packets = packetsFor(w, h, mpeg4);
    const auto& frames = framesFor(w, h, mpeg4);
    if (packets.empty() || frames.empty()) {
        state.SkipWithError("encoder missing");
        return;
    }
    KevraDecode kevra;
    LibavcodecDecode bare(w, h, mpeg4);
    double kevraSeconds = 0, bareSeconds = 0;
    int64_t turn = 0;
    for (auto _ : state) {
        for (int side = 0; side < 2; ++side) {
            const bool kevraSide = (side + turn) % 2 == 0;
            const double t0 = processCpuSeconds();
            const int64_t pictures = kevraSide ? kevra.run(packets) : bare.run(frames);
            (kevraSide ? kevraSeconds : bareSeconds) += processCpuSeconds() - t0;
            if (pictures != int64_t(frames.size()))
                state.SetLabel("pictures " + std::to_string(pictures) + " of " +
                               std::to_string(frames.size()));
        }
        ++turn;
    }
    state.counters["ratio"] = kevraSeconds > 0 ? bareSeconds / kevraSeconds : 0;
    state.counters["kevra frames/s"] =
        kevraSeconds > 0 ? double(turn) * double(frames.size()) / kevraSeconds : 0;
    state.counters["libavcodec frames/s"] =
        bareSeconds > 0 ? double(turn) * double(frames.size()) / bareSeconds : 0;
}

int registerDecode()
{
    for (bool mpeg4 : {false, true})
        for (auto [w, h] : {std::pair{704, 576}, std::pair{1920, 1080}}) {
            const std::string tail = std::string(mpeg4 ? "-mpeg4" : "") + "/" + std::to_string(w) +
                                     "x" + std::to_string(h);
            benchmark::RegisterBenchmark(("BM_Decode/kevra" + tail).c_str(), decodeKevra, w, h,
                                         mpeg4)
                ->MeasureProcessCPUTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("BM_Decode/libavcodec" + tail).c_str(), decodeLibavcodec,
                                         w, h, mpeg4)
                ->MeasureProcessCPUTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("BM_DecodePair" + tail).c_str(), decodePair, w, h, mpeg4)
                ->MeasureProcessCPUTime()
                ->MinTime(3.0)
                ->Unit(benchmark::kMillisecond);
        }
    return 0;
}

const int registered = registerDecode();

}   // namespace
