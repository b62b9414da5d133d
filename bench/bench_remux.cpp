// BM_Clip/<container>: recording a camera into a clip, single thread: the 1080p KXAV stream
// (8 Mbit/s, 25 fps, a key frame every second) held in memory, fed in 64 KB blocks to a
// FrameCutter whose units a ClipWriter remuxes into a fragmented MP4 or a Matroska file in the
// temporary folder (flushed to the file system every second of media, as when recording).
// Each iteration writes the whole stream (4 s of media) into a new file: the CPU time of an
// iteration over 4 s is the share of one core that recording such a camera takes.
#include "BenchStreams.h"
#include "remux/ClipWriter.h"
#include "remux/FrameCutter.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using kevra::BenchStreams;

void clip(benchmark::State& state, std::string extension)
{
    std::vector<uint8_t> stream;
    for (const auto& p : BenchStreams::kxavPackets(1920, 1080))
        stream.insert(stream.end(), p.begin(), p.end());
    if (stream.empty()) {
        state.SkipWithError("no input (the encoder is missing)");
        return;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kevra_bench_clip_" +
                             std::to_string(::getpid()) + "." + extension;
    int64_t frames = 0, bytes = 0;
    for (auto _ : state) {
        kevra::FrameCutter cutter;
        kevra::ClipWriter writer(path);
        for (size_t at = 0; at < stream.size(); at += 64 * 1024) {
            cutter.feed(stream.data() + at, int(std::min<size_t>(64 * 1024, stream.size() - at)));
            kevra::AccessUnit unit;
            while (cutter.next(unit))
                writer.write(unit);
        }
        writer.close();
        if (writer.failed()) {
            state.SkipWithError(writer.error().c_str());
            break;
        }
        frames = writer.framesWritten();
        bytes = writer.bytesWritten();
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["frames"] = double(frames);
    state.counters["file/stream"] = double(bytes) / double(stream.size());
}

int registerClip()
{
    for (const char* c : {"mp4", "mkv"})
        benchmark::RegisterBenchmark((std::string("BM_Clip/") + c).c_str(), clip, std::string(c))
            ->Unit(benchmark::kMillisecond);
    return 0;
}

const int registered = registerClip();

}   // namespace
