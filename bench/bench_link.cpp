// BM_Link/<W>x<H>[/<N>Mbit | /ceiling]: what DeviceClient takes from kevra-recorder on
// loopback into the decoder worker's input queue. The built simulator runs as a child process
// on a free port; the client logs in, opens camera 0 and a display stand-in takes every
// converted picture (as the frame timer would). After a warm-up the run counts, over a fixed
// window of wall-clock time:
//   MB/s, Mbit/s  media bytes the channel's media sink pushed into the input queue
//   frames/s      pictures converted and taken
//   dropped       chunks the worker's input queue discarded plus the simulator's own drop
//                 events (it drops frames when the client does not read its connection)
// Streams: 704x576 at 2 Mbit/s and 1920x1080 at 8 Mbit/s, 25 fps, one message per frame;
// then a bitrate sweep at 1080p; then the ceiling: incompressible 1080p frames (about 5 MB
// each) at 100 frames/s in 1 MiB messages.
#include "BenchStreams.h"
#include "device/DeviceClient.h"
#include "device/DeviceEvents.h"
#include "device/MediaSink.h"
#include "tools/support/RecorderProcess.h"
#include "video/DecoderWorker.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kWarmUpSeconds = 1.5;
constexpr double kWindowSeconds = 4.0;

// Login and channel results from the network thread; as the channel's media sink it pushes the
// bytes into the decoder worker and counts them.
class LinkEvents : public kevra::DeviceEvents, public kevra::MediaSink {
public:
    explicit LinkEvents(kevra::DecoderWorker& d) : decoder(d) {}
    kevra::DecoderWorker& decoder;
    std::atomic<int> login{-1};
    std::atomic<int> channel{-1};
    std::atomic<int64_t> bytes{0};
    void onLogin(int code, int, int) override { login = code; }
    void onList(int, const uint8_t*, int, int) override {}
    void onStreamStarted(int) override {}
    void onStreamStopped(int) override {}
    void onMediaBytes(int, const uint8_t* data, int length) override
    {
        decoder.push(data, length);
        bytes += length;
    }
    void onChannel(int, int code) override { channel = code; }
    void onConnectionLost() override {}
};

bool waitFor(const std::atomic<int>& v, int seconds)
{
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (v.load() < 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return v.load() == 0;
}

void link(benchmark::State& state, std::vector<std::string> args, double targetMbit)
{
    for (auto _ : state) {
        kevra::RecorderProcess recorder(args);
        if (!recorder.start()) {
            state.SkipWithError("kevra-recorder did not start (build it beside kevra_bench)");
            return;
        }
        kevra::DecoderWorker decoder;   // goes after the client and its network thread
        LinkEvents events(decoder);
        kevra::DeviceClient client;
        client.setSink(&events);
        decoder.setPixelFormat(kevra::PixelFormat::Bgrx32);
        decoder.start();
        client.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
        if (!waitFor(events.login, 15)) {
            state.SkipWithError("login failed");
            return;
        }
        client.openChannel(0, 1, &events);
        if (!waitFor(events.channel, 15)) {
            state.SkipWithError("channel open failed");
            return;
        }
        // The display stand-in: takes each converted picture as soon as it is there.
        std::atomic<bool> showing{true};
        std::atomic<int64_t> pictures{0};
        std::thread display([&] {
            while (showing.load()) {
                kevra::Picture picture;
                if (decoder.takePicture(picture)) {
                    ++pictures;
                    decoder.giveBack(picture);
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::duration<double>(kWarmUpSeconds));
        const auto t0 = Clock::now();
        const int64_t bytes0 = events.bytes.load(), pictures0 = pictures.load();
        const int64_t dropped0 = decoder.droppedPushes();
        const int recorderDrops0 = recorder.count({"\"event\":\"drop\""});
        std::this_thread::sleep_for(std::chrono::duration<double>(kWindowSeconds));
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        const double bytes = double(events.bytes.load() - bytes0);
        const double shown = double(pictures.load() - pictures0);
        const int64_t dropped = decoder.droppedPushes() - dropped0;
        const int recorderDrops = recorder.count({"\"event\":\"drop\""}) - recorderDrops0;
        showing = false;
        display.join();
        client.stopChannel(0);
        decoder.stop();
        client.logout();
        state.SetIterationTime(seconds);
        state.counters["MB/s"] = bytes / seconds / 1e6;
        state.counters["Mbit/s"] = bytes * 8 / seconds / 1e6;
        state.counters["frames/s"] = shown / seconds;
        state.counters["dropped"] = double(dropped + recorderDrops);
        if (targetMbit > 0)
            state.counters["asked Mbit/s"] = targetMbit;
        state.SetBytesProcessed(int64_t(bytes));
        const bool sustained = dropped + recorderDrops == 0 && shown / seconds >= 24.0;
        state.SetLabel(targetMbit <= 0 ? "link ceiling"
                       : sustained     ? "sustained"
                                       : "NOT sustained");
        recorder.stop();
    }
}

std::vector<std::string> stream(const std::string& size, int bitrate)
{
    return {"--size",  size,          "--fps",     "25",
            "--gop",   "25",          "--bitrate", std::to_string(bitrate),
            "--noise", "--per-frame", "--cameras", "Bench"};
}

int registerLink()
{
    auto add = [](const std::string& name, std::vector<std::string> args, double mbit) {
        benchmark::RegisterBenchmark(name.c_str(), link, args, mbit)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    add("BM_Link/704x576", stream("704x576", 2000000), 2);
    add("BM_Link/1920x1080", stream("1920x1080", 8000000), 8);
    for (int mbit : {16, 32, 64, 100})
        add("BM_Link/1920x1080/" + std::to_string(mbit) + "Mbit",
            stream("1920x1080", mbit * 1000000), mbit);
    // The ceiling: a looped file of incompressible frames (about 5 MB each), far more than
    // the link carries; the simulator drops what the client cannot take.
    benchmark::RegisterBenchmark("BM_Link/1920x1080/ceiling",
                                 [](benchmark::State& state) {
                                     const std::string dir = kevra::BenchStreams::sampleDir();
                                     if (dir.empty()) {
                                         state.SkipWithError("ffmpeg missing");
                                         return;
                                     }
                                     link(state,
                                          {"--source", dir + "/random.h264", "--fps", "100",
                                           "--message-size", "1048576", "--queue-limit", "16777216",
                                           "--cameras", "Bench"},
                                          0);
                                 })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return 0;
}

const int registered = registerLink();

}   // namespace
