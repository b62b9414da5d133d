// kevra-soak: the client side of the soak run (scripts/soak.sh, make soak). The device client
// logs in to the recorder the script runs and opens camera 1; a 40 ms frame timer takes its
// decoder worker's pictures as the live view does; whenever the connection is lost or refused
// it logs in again. Writes "seconds shown mediaBytes reconnections logins" to the status file
// every second (reconnections = accepted logins after the first) and a summary line at the end.
// The main thread drives the client; the frame timer has a thread of its own, started and
// joined here; the events arrive on the client's network thread under Events::mutex_.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "device/DeviceClient.h"
#include "device/DeviceEvents.h"
#include "device/MediaSink.h"
#include "device/ResultCode.h"
#include "video/DecoderWorker.h"

namespace {

using Steady = std::chrono::steady_clock;

// What the soak needs to know of the client's events: counts and the latest codes. As the
// channel's media sink it feeds the decoder worker and counts the bytes.
class Events : public kevra::DeviceEvents, public kevra::MediaSink {
public:
    explicit Events(kevra::DecoderWorker& decoder) : decoder_(decoder) {}
    struct Seen {
        int logins = 0, lastLogin = -1, channels = 0, lastChannel = -1, lost = 0;
        long long mediaBytes = 0;
    };
    void onLogin(int code, int, int) override
    {
        update([&](Seen& s) { ++s.logins, s.lastLogin = code; });
    }
    void onList(int, const uint8_t*, int, int) override {}
    void onStreamStarted(int) override {}
    void onMediaBytes(int, const uint8_t* bytes, int length) override
    {
        decoder_.push(bytes, length);
        update([&](Seen& s) { s.mediaBytes += length; });
    }
    void onStreamStopped(int) override {}
    void onChannel(int, int code) override
    {
        update([&](Seen& s) { ++s.channels, s.lastChannel = code; });
    }
    void onConnectionLost() override
    {
        update([&](Seen& s) { ++s.lost; });
    }
    Seen seen()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    template <class F>
    void update(F f)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f(seen_);
    }
    kevra::DecoderWorker& decoder_;
    std::mutex mutex_;
    Seen seen_;
};

int usage()
{
    std::fprintf(stderr, "usage: kevra-soak --port P [--minutes M] [--status FILE]\n");
    return 2;
}

}   // namespace

int main(int argc, char** argv)
{
    int port = 0;
    double minutes = 30;
    std::string statusPath;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc)
            return usage();
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--minutes") == 0)
            minutes = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--status") == 0)
            statusPath = argv[++i];
        else
            return usage();
    }
    if (port <= 0 || port > 65535 || !(minutes > 0))
        return usage();

    kevra::DecoderWorker decoder;
    Events events(decoder);
    kevra::DeviceClient client;   // declared after the decoder: its network thread goes first
    client.setSink(&events);
    decoder.setPixelFormat(kevra::PixelFormat::Bgrx32);
    std::atomic<bool> timerRunning{true};
    std::atomic<long long> shown{0};
    std::thread timer([&] {
        auto next = Steady::now();
        while (timerRunning) {
            next += std::chrono::milliseconds(40);
            std::this_thread::sleep_until(next);
            kevra::Picture picture;
            if (decoder.takePicture(picture)) {
                shown.fetch_add(1);
                decoder.giveBack(picture);
            }
        }
    });

    const auto start = Steady::now();
    const auto end = start + std::chrono::milliseconds(static_cast<long long>(minutes * 60000));
    Events::Seen before;
    int logins = 0, reconnections = 0;
    bool loginPending = false, streaming = false;
    auto lastAttempt = start - std::chrono::seconds(10);
    auto lastStatus = start;
    while (Steady::now() < end) {
        const auto now = Steady::now();
        const Events::Seen seen = events.seen();
        if (seen.lost > before.lost) {
            streaming = false;
            loginPending = false;
        }
        if (seen.logins > before.logins) {
            loginPending = false;
            if (seen.lastLogin == kevra::result_code::OK) {
                if (++logins > 1)
                    ++reconnections;
                client.stopChannel(0);
                decoder.stop();
                decoder.start();
                client.openChannel(0, 1, &events);
            }
        }
        if (seen.channels > before.channels && seen.lastChannel == kevra::result_code::OK)
            streaming = true;   // the client has restarted its decoder
        before = seen;
        if (!streaming && !loginPending && now - lastAttempt > std::chrono::seconds(2)) {
            lastAttempt = now;
            loginPending = true;
            client.logout();
            client.login("127.0.0.1", port, "admin", "580317", 10000);
        }
        if (!statusPath.empty() && now - lastStatus >= std::chrono::seconds(1)) {
            lastStatus = now;
            const std::string tmp = statusPath + ".tmp";
            if (FILE* f = std::fopen(tmp.c_str(), "w")) {
                std::fprintf(
                    f, "%lld %lld %lld %d %d\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::seconds>(now - start).count()),
                    shown.load(), seen.mediaBytes, reconnections, logins);
                std::fclose(f);
                std::rename(tmp.c_str(), statusPath.c_str());
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    timerRunning = false;
    timer.join();
    client.stopChannel(0);
    client.setSink(nullptr);
    client.logout();
    decoder.stop();
    std::printf("soak-summary shown=%lld media_bytes=%lld reconnections=%d losses=%d\n",
                shown.load(), events.seen().mediaBytes, reconnections, events.seen().lost);
    return shown.load() > 0 ? 0 : 1;
}
