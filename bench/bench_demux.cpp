// BM_Demux/<impl>/<format>: cutting a whole stream held in memory into frames, single thread.
//   kevra        StreamDemuxer(0) (format probed from the bytes) fed 64 KB blocks, every
//                record taken with nextFrame after each block
//   libavformat  av_read_frame over the same bytes through a custom AVIOContext (64 KB
//                buffer, probed format), every packet read and released
// Formats: ps (1080p H.264 MPEG-2 program stream, video renumbered to stream 0xE0), avi and asf (1080p MPEG-4 Visual with
// audio), m4v (the same video as a raw MPEG-4 Visual stream), all made by the ffmpeg tool; kxav and packet (1080p H.264 from our own muxers,
// kevra only). Each iteration opens a fresh demultiplexer and reads the whole stream.
#include "BenchStreams.h"
#include "demux/MediaFrame.h"
#include "demux/StreamDemuxer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace {

using kevra::BenchStreams;

constexpr int kBlock = 64 * 1024;

// ffmpeg's program-stream muxer numbers H.264 video 0xE2; recorders send it as 0xE0, the
// stream our parser carries. Same length, so libavformat reads the same bytes either way.
void renumberVideoStream(std::vector<uint8_t>& ps)
{
    size_t p = 0;
    while (p + 14 <= ps.size() && ps[p] == 0 && ps[p + 1] == 0 && ps[p + 2] == 1) {
        const uint8_t id = ps[p + 3];
        if (id == 0xBA) {
            p += 14 + (ps[p + 13] & 7);
            continue;
        }
        if (id < 0xBB)
            break;
        if (id == 0xE2)
            ps[p + 3] = 0xE0;
        p += 6 + ((ps[p + 4] << 8) | ps[p + 5]);
    }
}

const std::vector<uint8_t>& input(const std::string& format)
{
    static std::vector<uint8_t> ps, avi, asf, kxav;
    if (format == "kxav") {
        if (kxav.empty())
            for (const auto& p : BenchStreams::kxavPackets(1920, 1080))
                kxav.insert(kxav.end(), p.begin(), p.end());
        return kxav;
    }
    if (format == "packet")
        return BenchStreams::packetStream(1920, 1080);
    static std::vector<uint8_t> m4v;
    std::vector<uint8_t>& v = format == "ps"    ? ps
                              : format == "avi" ? avi
                              : format == "m4v" ? m4v
                                                : asf;
    if (v.empty() && !BenchStreams::sampleDir().empty()) {
        const char* file = format == "ps"    ? "/ps-h264.mpg"
                           : format == "avi" ? "/av.avi"
                           : format == "m4v" ? "/video.m4v"
                                             : "/av.asf";
        v = BenchStreams::readFile(BenchStreams::sampleDir() + file);
        if (format == "ps")
            renumberVideoStream(v);
    }
    return v;
}

void setRate(benchmark::State& state, size_t bytes, int64_t frames, int64_t videoFrames)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["MB/s"] =
        benchmark::Counter(double(bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["frames"] = double(frames);
    state.counters["video"] = double(videoFrames);
    state.counters["MB"] = double(bytes) / 1e6;
}

void demuxKevra(benchmark::State& state, std::string format)
{
    const std::vector<uint8_t>& data = input(format);
    if (data.empty()) {
        state.SkipWithError("no input (ffmpeg or the encoder missing)");
        return;
    }
    int64_t frames = 0, video = 0;
    for (auto _ : state) {
        kevra::StreamDemuxer demux;
        frames = video = 0;
        for (size_t at = 0; at < data.size(); at += kBlock) {
            const int n = int(std::min<size_t>(kBlock, data.size() - at));
            demux.feed(data.data() + at, n);
            while (kevra::MediaFrame* f = demux.nextFrame()) {
                ++frames;
                video += f->kind == 1 && f->payloadLength > 0;
                benchmark::DoNotOptimize(f->payload);
            }
        }
    }
    setRate(state, data.size(), frames, video);
}

struct MemoryInput {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int readMemory(void* opaque, uint8_t* buf, int size)
{
    auto* m = static_cast<MemoryInput*>(opaque);
    const size_t n = std::min<size_t>(size_t(size), m->size - m->at);
    if (n == 0)
        return AVERROR_EOF;
    std::memcpy(buf, m->data + m->at, n);
    m->at += n;
    return int(n);
}

int64_t seekMemory(void* opaque, int64_t offset, int whence)
{
    auto* m = static_cast<MemoryInput*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return int64_t(m->size);
    int64_t to = offset;
    if (whence == SEEK_CUR)
        to += int64_t(m->at);
    else if (whence == SEEK_END)
        to += int64_t(m->size);
    else if (whence != SEEK_SET)
        return -1;
    if (to < 0 || to > int64_t(m->size))
        return -1;
    m->at = size_t(to);
    return to;
}

void demuxLibavformat(benchmark::State& state, std::string format)
{
    const std::vector<uint8_t>& data = input(format);
    if (data.empty()) {
        state.SkipWithError("no input (ffmpeg missing)");
        return;
    }
    int64_t frames = 0, video = 0;
    AVPacket* pkt = av_packet_alloc();
    for (auto _ : state) {
        MemoryInput mem{data.data(), data.size(), 0};
        auto* buffer = static_cast<uint8_t*>(av_malloc(kBlock));
        AVIOContext* io =
            avio_alloc_context(buffer, kBlock, 0, &mem, readMemory, nullptr, seekMemory);
        AVFormatContext* ctx = avformat_alloc_context();
        ctx->pb = io;
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        frames = video = 0;
        if (avformat_open_input(&ctx, nullptr, nullptr, nullptr) == 0) {
            while (av_read_frame(ctx, pkt) >= 0) {
                ++frames;
                video +=
                    ctx->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
                benchmark::DoNotOptimize(pkt->data);
                av_packet_unref(pkt);
            }
            avformat_close_input(&ctx);
        } else {
            avformat_free_context(ctx);
        }
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    av_packet_free(&pkt);
    setRate(state, data.size(), frames, video);
}

int registerDemux()
{
    av_log_set_level(AV_LOG_ERROR);
    for (const char* f : {"ps", "avi", "m4v", "asf"}) {
        benchmark::RegisterBenchmark((std::string("BM_Demux/kevra/") + f).c_str(), demuxKevra,
                                     std::string(f))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_Demux/libavformat/") + f).c_str(),
                                     demuxLibavformat, std::string(f))
            ->Unit(benchmark::kMillisecond);
    }
    for (const char* f : {"kxav", "packet"})
        benchmark::RegisterBenchmark((std::string("BM_Demux/kevra/") + f).c_str(), demuxKevra,
                                     std::string(f))
            ->Unit(benchmark::kMillisecond);
    return 0;
}

const int registered = registerDemux();

}   // namespace
