// BM_Decode/<impl>/<W>x<H>: frames per second from stream bytes to converted 32-bit pictures,
// one stream (the pattern camera with noise, 100 frames, a key frame every 25) per iteration.
// <impl> is kevra or libavcodec for H.264, kevra-mpeg4 or libavcodec-mpeg4 for MPEG-4 Visual
// (4 Mbit/s up to 704x576, 10 Mbit/s above).
//   kevra        DecoderWorker driven without its thread: each KXAV packet pushed into the
//                input queue, intake, then steps until no picture is left; every converted
//                picture is taken as the display would (lowerConvertedCount)
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
#include <cstring>
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
    state.counters["frames/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsIterationInvariantRate);
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
    if (enc.open(0, w, h, BenchStreams::kFps, bitrate, BenchStreams::kFps, kevra::PatternEncoder::Codec::Mpeg4) != 0)
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

void decodeKevra(benchmark::State& state, int w, int h, bool mpeg4)
{
    const auto& packets = mpeg4 ? mpeg4Stream(w, h).packets : BenchStreams::kxavPackets(w, h);
    if (packets.empty()) {
        state.SkipWithError("encoder missing");
        return;
    }
    auto worker = std::make_unique<kevra::DecoderWorker>();
    worker->setDisplayDepth(32);
    int64_t pictures = 0;
    auto drain = [&] {
        for (;;) {
            const int r = worker->runStep();
            if (worker->convertedCount() > 0) {
                ++pictures;
                worker->lowerConvertedCount();
                continue;
            }
            if (r == kevra::DecoderWorker::kStepIdle)
                return;
        }
    };
    for (auto _ : state) {
        worker->startManual();
        pictures = 0;
        for (const auto& p : packets) {
            worker->push(p.data(), int(p.size()));
            worker->runIntake();
            drain();
        }
        drain();
    }
    setRate(state, pictures, int(packets.size()));
}

void decodeLibavcodec(benchmark::State& state, int w, int h, bool mpeg4)
{
    const auto& frames = mpeg4 ? mpeg4Stream(w, h).frames : BenchStreams::h264(w, h);
    if (frames.empty()) {
        state.SkipWithError("encoder missing");
        return;
    }
    std::vector<uint8_t> planes(size_t(w) * h * 3 / 2);
    std::vector<uint8_t> out(size_t(w) * h * 4);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t pictures = 0;
    auto take = [&](AVCodecContext* ctx) {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            const int fw = std::min(frame->width, w), fh = std::min(frame->height, h);
            const uint8_t *y = frame->data[0], *u = frame->data[1], *v = frame->data[2];
            if (frame->linesize[0] != fw || frame->linesize[1] != fw / 2 || frame->linesize[2] != fw / 2) {
                // The converter takes packed planes: copy when the decoder's rows are padded.
                uint8_t* py = planes.data();
                uint8_t* pu = py + size_t(fw) * fh;
                uint8_t* pv = pu + size_t(fw / 2) * (fh / 2);
                for (int r = 0; r < fh; ++r)
                    std::memcpy(py + size_t(r) * fw, y + size_t(r) * frame->linesize[0], size_t(fw));
                for (int r = 0; r < fh / 2; ++r) {
                    std::memcpy(pu + size_t(r) * (fw / 2), u + size_t(r) * frame->linesize[1], size_t(fw / 2));
                    std::memcpy(pv + size_t(r) * (fw / 2), v + size_t(r) * frame->linesize[2], size_t(fw / 2));
                }
                y = py, u = pu, v = pv;
            }
            kevra::ColourConverter::convert(y, u, v, fw, fh, out.data(), 32);
            benchmark::DoNotOptimize(out.data());
            ++pictures;
            av_frame_unref(frame);
        }
    };
    for (auto _ : state) {
        const AVCodec* codec = avcodec_find_decoder(mpeg4 ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264);
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        if (mpeg4) {
            ctx->thread_count = 1;
        } else {
            ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
            ctx->thread_type = FF_THREAD_SLICE;
            ctx->thread_count = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
        }
        ctx->width = w;
        ctx->height = h;
        if (avcodec_open2(ctx, codec, nullptr) < 0) {
            avcodec_free_context(&ctx);
            state.SkipWithError("cannot open the decoder");
            break;
        }
        pictures = 0;
        for (const auto& f : frames) {
            if (av_new_packet(pkt, int(f.bytes.size())) < 0)
                continue;
            std::memcpy(pkt->data, f.bytes.data(), f.bytes.size());
            avcodec_send_packet(ctx, pkt);
            av_packet_unref(pkt);
            take(ctx);
        }
        avcodec_send_packet(ctx, nullptr);
        take(ctx);
        avcodec_free_context(&ctx);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    setRate(state, pictures, int(frames.size()));
}

int registerDecode()
{
    for (bool mpeg4 : {false, true})
        for (auto [w, h] : {std::pair{704, 576}, std::pair{1920, 1080}}) {
            const std::string tail = std::string(mpeg4 ? "-mpeg4" : "") + "/" + std::to_string(w) + "x" +
                                     std::to_string(h);
            benchmark::RegisterBenchmark(("BM_Decode/kevra" + tail).c_str(), decodeKevra, w, h, mpeg4)
                ->MeasureProcessCPUTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("BM_Decode/libavcodec" + tail).c_str(), decodeLibavcodec, w, h, mpeg4)
                ->MeasureProcessCPUTime()
                ->Unit(benchmark::kMillisecond);
        }
    return 0;
}

const int registered = registerDecode();

} // namespace
