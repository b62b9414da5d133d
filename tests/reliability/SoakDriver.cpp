// The client side of the soak run (scripts/soak.sh): the device client logs in to the recorder
// the script runs and opens camera 1; a 40 ms frame timer takes its decoder worker's pictures as
// the live view does; whenever the connection is lost or refused it logs in again. Skipped
// unless KEVRA_SOAK_PORT is set. Writes "seconds shown mediaBytes reconnections logins" to
// KEVRA_SOAK_STATUS every second (reconnections = accepted logins after the first), and a summary
// line at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>

#include "device/DeviceEvents.h"
#include "reliability/FaultClient.h"
#include "video/DecoderWorker.h"

namespace kevra {
namespace {

int envInt(const char* name, int def)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : def;
}

TEST(Soak, LiveViewAcrossRecorderRestarts)
{
    const int port = envInt("KEVRA_SOAK_PORT", 0);
    if (port <= 0)
        GTEST_SKIP() << "run by scripts/soak.sh (KEVRA_SOAK_PORT not set)";
    const double minutes = std::atof(std::getenv("KEVRA_SOAK_MINUTES") ? std::getenv("KEVRA_SOAK_MINUTES") : "30");
    const char* statusPath = std::getenv("KEVRA_SOAK_STATUS");

    FaultClient w;
    DecoderWorker& decoder = w.decoder;
    decoder.setDisplayDepth(32);
    std::atomic<bool> timerRunning{true};
    std::atomic<long long> shown{0};
    std::thread timer([&] {
        auto next = std::chrono::steady_clock::now();
        while (timerRunning) {
            next += std::chrono::milliseconds(40);
            std::this_thread::sleep_until(next);
            int buffering = 0, width = 0, height = 0;
            if (decoder.pictureQuery(buffering, width, height) != nullptr) {
                shown.fetch_add(1);
                decoder.lowerConvertedCount();
            }
        }
    });

    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::milliseconds(static_cast<long long>(minutes * 60000));
    size_t loginsSeen = 0, channelsSeen = 0;
    int lostSeen = 0, reconnections = 0, logins = 0;
    long long mediaBytes = 0;
    bool loginPending = false, streaming = false;
    auto lastAttempt = start - std::chrono::seconds(10);
    auto lastStatus = start;

    while (std::chrono::steady_clock::now() < end) {
        const auto now = std::chrono::steady_clock::now();
        // The client fed these bytes to its decoder; the log only counts them.
        w.log.read([&] {
            mediaBytes += static_cast<long long>(w.log.media.size());
            w.log.media.clear();
            return 0;
        });
        const auto [loginsNow, channelsNow, lostNow] = w.log.read([&] {
            return std::tuple<size_t, size_t, int>(w.log.logins.size(), w.log.channels.size(), w.log.lost);
        });
        if (lostNow > lostSeen) {
            lostSeen = lostNow;
            streaming = false;
            loginPending = false;
        }
        if (loginsNow > loginsSeen) {
            const int code = w.log.read([&] { return w.log.logins[loginsNow - 1].first; });
            loginsSeen = loginsNow;
            loginPending = false;
            if (code == 0) {
                if (++logins > 1)
                    ++reconnections;
                w.openChannel(0, 1);
            }
        }
        if (channelsNow > channelsSeen) {
            const int code = w.log.read([&] { return w.log.channels[channelsNow - 1].second; });
            channelsSeen = channelsNow;
            if (code == 0)
                streaming = true;   // the client has restarted its decoder
        }
        if (!streaming && !loginPending && now - lastAttempt > std::chrono::seconds(2)) {
            lastAttempt = now;
            loginPending = true;
            w.logout();
            w.login("127.0.0.1", port, "admin", "580317", 10000);
        }
        if (statusPath && now - lastStatus >= std::chrono::seconds(1)) {
            lastStatus = now;
            if (FILE* f = std::fopen((std::string(statusPath) + ".tmp").c_str(), "w")) {
                std::fprintf(f, "%lld %lld %lld %d %d\n",
                             static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(now - start).count()),
                             shown.load(), mediaBytes, reconnections, logins);
                std::fclose(f);
                std::rename((std::string(statusPath) + ".tmp").c_str(), statusPath);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    timerRunning = false;
    timer.join();
    std::printf("soak-summary shown=%lld media_bytes=%lld reconnections=%d losses=%d\n", shown.load(),
                mediaBytes, reconnections, lostSeen);
    EXPECT_GT(shown.load(), 0);
}

} // namespace
} // namespace kevra
