// Fault injection against the simulated recorder: a recorder that dies, goes silent, drops or
// stalls a connection, announces absurd lengths, floods garbage or a huge camera list, or refuses
// the login. For each the client must report the right code or the loss, keep its resident
// memory bounded, and log in again afterwards to a healthy recorder.
#include <gtest/gtest.h>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/Clock.h"
#include "reliability/FaultClient.h"
#include "tools/support/RecorderProcess.h"

namespace kevra {
namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "580317";
// Generous: the client itself keeps at most a 1 MiB receive buffer per connection.
constexpr long kRssBoundKb = 64 * 1024;

long residentKb()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Bytes received so far on every TCP connection this process holds (the client's session
// and media links in these tests).
long long bytesReceived()
{
    long long total = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        tcp_info info{};
        socklen_t len = sizeof info;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 &&
            len >= offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
            total += static_cast<long long>(info.tcpi_bytes_received);
    }
    return total;
}

std::unique_ptr<RecorderProcess> startRecorder(std::vector<std::string> args)
{
    auto r = std::make_unique<RecorderProcess>(std::move(args));
    if (!r->start())
        return nullptr;
    return r;
}

class RecorderFaultTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { healthy_ = startRecorder({}).release(); }
    static void TearDownTestSuite()
    {
        delete healthy_;
        healthy_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(healthy_, nullptr)
            << "kevra-recorder did not start: " << RecorderProcess::binary();
        Clock::useReal();
    }
    void TearDown() override { Clock::useReal(); }

    static bool loginCode(FaultClient& w, size_t index, int& code, int timeoutMs = 15000)
    {
        const bool ok = w.log.waitFor([&] { return w.log.logins.size() > index; }, timeoutMs);
        if (ok)
            code = w.log.read([&] { return w.log.logins[index].first; });
        return ok;
    }

    // Logs in to the healthy recorder and lists its cameras: the client has recovered.
    static void expectRecovery(FaultClient& w)
    {
        const size_t logins = w.log.read([&] { return w.log.logins.size(); });
        const size_t lists = w.log.read([&] { return w.log.lists.size(); });
        w.logout();
        w.login(kHost, healthy_->port(), kUser, kPassword);
        int code = -1;
        ASSERT_TRUE(loginCode(w, logins, code));
        EXPECT_EQ(code, 0);
        w.queryList();
        ASSERT_TRUE(w.log.waitFor([&] { return w.log.lists.size() > lists; }, 15000));
        const auto list = w.log.read([&] { return w.log.lists[lists]; });
        EXPECT_EQ(list.code, 0);
        EXPECT_EQ(list.count, 3);
    }

    // Advances the manual clock in steps, letting the worker poll after each one.
    static void advance(FaultClient& w, uint64_t totalMs, uint64_t stepMs = 5000)
    {
        // Let the worker take what has arrived at the current time first.
        FaultClient::settle();
        for (uint64_t done = 0; done < totalMs;) {
            const uint64_t step = std::min(stepMs, totalMs - done);
            Clock::advance(step);
            done += step;
            FaultClient::settle();
        }
    }

    static void report(const char* fault, const std::string& outcome, long before, long after,
                       bool recovered)
    {
        std::printf("[fault] %-28s %-34s rss %ld -> %ld kB  recovery %s\n", fault, outcome.c_str(),
                    before, after, recovered ? "yes" : "NO");
        ::testing::Test::RecordProperty(std::string(fault) + "_rss_before_kb", before);
        ::testing::Test::RecordProperty(std::string(fault) + "_rss_after_kb", after);
    }

    // Login to a recorder and the wait for its answer; true when accepted.
    static bool loginTo(FaultClient& w, RecorderProcess& r)
    {
        const size_t n = w.log.read([&] { return w.log.logins.size(); });
        w.login(kHost, r.port(), kUser, kPassword);
        int code = -1;
        return loginCode(w, n, code) && code == 0;
    }

    static size_t mediaBytes(FaultClient& w)
    {
        return w.log.read([&] { return w.log.media.size(); });
    }
    static int lost(FaultClient& w)
    {
        return w.log.read([&] { return w.log.lost; });
    }

    static RecorderProcess* healthy_;
};

RecorderProcess* RecorderFaultTest::healthy_ = nullptr;

TEST_F(RecorderFaultTest, EveryLoginRefusalGivesItsCodeAndTheNextLoginSucceeds)
{
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const std::vector<Case> cases = {
        {{"--refuse", "0"}, 0x1002}, {{"--refuse", "1"}, 0x1003},  {{"--refuse", "2"}, 0x100E},
        {{"--refuse", "3"}, 0x1005}, {{"--refuse", "4"}, 0x1006},  {{"--refuse", "5"}, 0x1007},
        {{"--refuse", "6"}, 0x1008}, {{"--refuse", "7"}, 0x1009},  {{"--refuse", "9"}, 4},
        {{"--refuse", "-1"}, 4},     {{"--outcome", "3"}, 0x1005}, {{"--outcome", "2"}, 0x1001},
    };

    FaultClient w;
    const long before = residentKb();
    size_t index = 0;
    std::string seen;
    for (const auto& c : cases) {
        auto rec = startRecorder(c.args);
        ASSERT_NE(rec, nullptr);
        w.logout();
        w.login(kHost, rec->port(), kUser, kPassword);
        int code = -1;
        ASSERT_TRUE(loginCode(w, index++, code)) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(code, c.code) << c.args[0] << " " << c.args[1];
        char text[16];
        std::snprintf(text, sizeof text, "%s0x%X", seen.empty() ? "" : ",", code);
        seen += text;
    }
    // A refused login stays connected but reports no loss.
    EXPECT_EQ(lost(w), 0);
    expectRecovery(w);
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    report("refuse-every-reason", seen, before, after, !HasFailure());
}

TEST_F(RecorderFaultTest, RecorderKilledMidStreamIsLostWithinTheSilenceLimit)
{
    auto rec = startRecorder({});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    ASSERT_TRUE(loginTo(w, *rec));
    w.openChannel(0, 1);
    ASSERT_TRUE(w.log.waitFor([&] { return w.log.media.size() > 20000; }, 20000));
    const long before = residentKb();

    Clock::useManual(Clock::nowMs());   // continue from the real time
    rec->kill();
    // The keepalive to a dead peer fails or goes unanswered: the loss comes at the latest when
    // 60 s of silence have passed.
    advance(w, 65000);
    EXPECT_TRUE(w.log.waitFor([&] { return w.log.lost == 1; }, 5000));
    Clock::useReal();
    expectRecovery(w);
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    report("recorder-killed", lost(w) == 1 ? "connection lost" : "NO LOSS", before, after,
           !HasFailure());
}

TEST_F(RecorderFaultTest, SilentRecorderIsLostOnlyAfterSixtySeconds)
{
    auto rec = startRecorder({"--fault-keepalive-stop", "0"});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    Clock::useManual(Clock::nowMs());   // continue from the real time
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    advance(w, 60000);
    // Keepalives went out and were not answered; exactly 60 s is not yet "more than 60 s".
    EXPECT_EQ(lost(w), 0);
    EXPECT_GE(rec->count({"\"event\":\"keepalive\""}), 1);
    advance(w, 1000);
    EXPECT_TRUE(w.log.waitFor([&] { return w.log.lost == 1; }, 5000));
    Clock::useReal();
    expectRecovery(w);
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    report("silent-recorder", lost(w) == 1 ? "lost after 60 s" : "NO LOSS", before, after,
           !HasFailure());
}

TEST_F(RecorderFaultTest, ClosedMediaConnectionStopsTheStreamButNotTheSession)
{
    auto rec = startRecorder({"--fault-close-media-bytes", "40000"});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    w.openChannel(0, 1);
    ASSERT_TRUE(w.log.waitFor([&] { return w.log.channels.size() == 1; }, 10000));
    EXPECT_EQ(w.log.read([&] { return w.log.channels[0].second; }), 0);
    ASSERT_FALSE(rec->waitFor({"\"event\":\"disconnect\""}, 20000).empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t first = mediaBytes(w);
    EXPECT_GT(first, 0u);
    EXPECT_LE(first, 40000u);
    // The session itself still answers keepalives: no loss over two minutes of clock.
    Clock::useManual(Clock::nowMs());   // continue from the real time
    advance(w, 120000);
    EXPECT_EQ(lost(w), 0);
    Clock::useReal();
    // A new login and open brings the stream back.
    ASSERT_TRUE(loginTo(w, *rec));
    w.openChannel(0, 1);
    EXPECT_TRUE(w.log.waitFor([&] { return w.log.media.size() > first; }, 20000));
    expectRecovery(w);
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    report("media-connection-closed", "stream ends, session kept", before, after, !HasFailure());
}

TEST_F(RecorderFaultTest, StallInsideAMediaMessageKeepsTheClientWaitingNotGrowing)
{
    auto rec = startRecorder({"--fault-stall-media", "30000"});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    w.openChannel(0, 1);
    ASSERT_FALSE(rec->waitFor({"\"kind\":\"stall\""}, 20000).empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t atStall = mediaBytes(w);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(mediaBytes(w), atStall);   // nothing more arrives, nothing is invented
    EXPECT_LE(atStall, 30000u);
    EXPECT_EQ(lost(w), 0);
    ASSERT_TRUE(loginTo(w, *rec));
    w.openChannel(0, 1);
    EXPECT_TRUE(w.log.waitFor([&] { return w.log.media.size() > atStall; }, 20000));
    expectRecovery(w);
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    report("media-stall", "stream waits, session kept", before, after, !HasFailure());
}

TEST_F(RecorderFaultTest, StalledListReplyTimesOutWithCodeThree)
{
    auto rec = startRecorder({"--fault-stall-list"});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    w.queryList();
    ASSERT_TRUE(w.log.waitFor([&] { return !w.log.lists.empty(); }, 15000));
    EXPECT_EQ(w.log.read([&] { return w.log.lists[0].code; }), 3);
    expectRecovery(w);
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    report("list-stall", "onList 3", before, after, !HasFailure());
}

TEST_F(RecorderFaultTest, FourGigabyteMediaAnnouncementStaysWithinTheBufferCap)
{
    // A dense stream so that 1 MiB pieces come within seconds.
    auto rec = startRecorder({"--fault-absurd-length", "media", "--size", "704x576", "--gop", "1",
                              "--bitrate", "20000000"});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    w.openChannel(0, 1);
    ASSERT_FALSE(rec->waitFor({"\"kind\":\"absurd-length\""}, 20000).empty());
    // Everything after the header counts as that one payload and is handed on in pieces.
    ASSERT_TRUE(w.log.waitFor([&] { return w.log.media.size() >= 1048576; }, 60000));
    const size_t largest = w.log.read([&] {
        size_t m = 0;
        for (const auto& p : w.log.mediaPieces)
            m = std::max(m, static_cast<size_t>(p.second));
        return m;
    });
    EXPECT_LE(largest, 1048576u);
    EXPECT_EQ(lost(w), 0);
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    // The media log itself holds what arrived; drop it before the recovery measurement.
    w.log.read([&] {
        w.log.media.clear();
        w.log.media.shrink_to_fit();
        return 0;
    });
    expectRecovery(w);
    report("absurd-length-media", "pieces <= 1 MiB, session kept", before, after, !HasFailure());
}

TEST_F(RecorderFaultTest, FourGigabyteSessionAnnouncementSwallowsRepliesUntilLoss)
{
    auto rec = startRecorder({"--fault-absurd-length", "session"});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    Clock::useManual(Clock::nowMs());   // continue from the real time
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    // Keepalive replies now vanish inside the announced payload: silence, then loss.
    advance(w, 65000);
    EXPECT_TRUE(w.log.waitFor([&] { return w.log.lost == 1; }, 5000));
    Clock::useReal();
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    expectRecovery(w);
    report("absurd-length-session", lost(w) == 1 ? "connection lost" : "NO LOSS", before, after,
           !HasFailure());
}

TEST_F(RecorderFaultTest, SixtyFourMebibytesOfMediaGarbageKeepMemoryBounded)
{
    constexpr long long kGarbage = 64LL << 20;
    auto rec = startRecorder({"--fault-garbage", std::to_string(kGarbage)});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    const long long start = bytesReceived();
    w.openChannel(0, 1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    long peak = before;
    while (bytesReceived() - start < kGarbage && std::chrono::steady_clock::now() < end) {
        // Whatever the garbage announced as media lands in the test's own log: empty it.
        w.log.read([&] {
            w.log.media.clear();
            w.log.media.shrink_to_fit();
            return 0;
        });
        peak = std::max(peak, residentKb());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const long long taken = bytesReceived() - start;
    EXPECT_GE(taken, kGarbage) << "garbage not taken within 120 s";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    w.log.read([&] {
        w.log.media.clear();
        w.log.media.shrink_to_fit();
        return 0;
    });
    const long after = residentKb();
    EXPECT_LT(peak - before, kRssBoundKb);
    EXPECT_LT(after - before, kRssBoundKb);
    EXPECT_EQ(lost(w), 0);
    expectRecovery(w);
    report("garbage-64MiB-media",
           "no crash, peak rss +" + std::to_string((peak - before) / 1024) + " MiB", before, after,
           !HasFailure());
}

TEST_F(RecorderFaultTest, SixtyFourMebibytesOfSessionGarbageEndInLoss)
{
    constexpr long long kGarbage = 64LL << 20;
    auto rec = startRecorder({"--fault-session-garbage", std::to_string(kGarbage)});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    Clock::useManual(Clock::nowMs());   // continue from the real time
    const long long start = bytesReceived();
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    long peak = before;
    while (bytesReceived() - start < kGarbage && std::chrono::steady_clock::now() < end) {
        peak = std::max(peak, residentKb());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GE(bytesReceived() - start, kGarbage) << "garbage not taken within 120 s";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    advance(w, 65000);
    EXPECT_TRUE(w.log.waitFor([&] { return w.log.lost == 1; }, 5000));
    Clock::useReal();
    const long after = residentKb();
    EXPECT_LT(peak - before, kRssBoundKb);
    expectRecovery(w);
    report("garbage-64MiB-session", lost(w) == 1 ? "connection lost" : "NO LOSS", before, after,
           !HasFailure());
}

TEST_F(RecorderFaultTest, TenMebibyteCameraListArrivesInPiecesAndIsRefused)
{
    auto rec = startRecorder({"--fault-big-list", std::to_string(10 << 20)});
    ASSERT_NE(rec, nullptr);
    FaultClient w;
    ASSERT_TRUE(loginTo(w, *rec));
    const long before = residentKb();
    w.queryList();
    ASSERT_TRUE(w.log.waitFor([&] { return !w.log.lists.empty(); }, 30000));
    const auto list = w.log.read([&] { return w.log.lists[0]; });
    // Longer than the 1 MiB buffer: it comes in pieces, and a list in pieces is refused.
    EXPECT_EQ(list.code, 1);
    EXPECT_EQ(list.count, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long after = residentKb();
    EXPECT_LT(after - before, kRssBoundKb);
    EXPECT_EQ(lost(w), 0);
    expectRecovery(w);
    report("camera-list-10MiB", "onList " + std::to_string(list.code), before, after,
           !HasFailure());
}

}   // namespace
}   // namespace kevra
