// The gateway's parts without a network: command line, secrets file, and the camera hub's
// fan-out (late joiners, timelines, slow clients, codec changes, idle time).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include "CameraHub.h"
#include "GatewayOptions.h"
#include "HttpPaths.h"
#include "Secrets.h"
#include "common/Clock.h"
#include "remux/AccessUnit.h"

namespace kevra::gateway {
namespace {

std::string parse(std::vector<std::string> args, GatewayOptions& o)
{
    args.insert(args.begin(), "kevra-gateway");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return parseGatewayOptions(int(argv.size()), argv.data(), o);
}

TEST(GatewayOptions, ReadsRecordersAndRefusesBadValuesInOneLine)
{
    GatewayOptions o;
    ASSERT_EQ(parse({"--recorder", "shop=10.0.0.5:34567", "--recorder", "home=nvr.local:1",
                     "--rtsp-port", "9554", "--listen", "0.0.0.0", "--idle-close", "2"},
                    o),
              "");
    ASSERT_EQ(o.recorders.size(), 2u);
    EXPECT_EQ(o.recorders[1].host, "nvr.local");
    EXPECT_EQ(o.recorders[0].port, 34567);
    EXPECT_EQ(o.rtspPort, 9554);
    EXPECT_EQ(o.idleCloseSeconds, 2);

    const struct {
        std::vector<std::string> args;
        const char* says;
    } refused[] = {
        {{}, "at least one --recorder"},
        {{"--recorder", "shop"}, "NAME=HOST:PORT"},
        {{"--recorder", "a/b=h:1"}, "letters, digits"},
        {{"--recorder", "a=h:70000"}, "port must be"},
        {{"--recorder", "a=h:1", "--recorder", "a=g:2"}, "given twice"},
        {{"--recorder", "a=h:1", "--rtsp-port", "x"}, "--rtsp-port must be"},
        {{"--recorder", "a=h:1", "--idle-close"}, "needs a value"},
        {{"--recorder", "a=h:1", "--password", "x"}, "unknown option '--password'"},
        {{"--recorder", "a=h:1", "--http-port", "65536"}, "--http-port must be"},
        {{"--recorder", "a=h:1", "--max-clients-per-address", "0"}, "from 1 to 100000"},
        {{"--recorder", "a=h:1", "--max-header-kb", "1k"}, "--max-header-kb must be"},
    };
    for (const auto& r : refused) {
        GatewayOptions bad;
        std::string why = parse(r.args, bad);
        EXPECT_NE(why.find(r.says), std::string::npos) << why;
        EXPECT_EQ(why.find('\n'), std::string::npos);
    }
    EXPECT_TRUE(isLoopbackAddress("127.0.0.1"));
    EXPECT_FALSE(isLoopbackAddress("0.0.0.0"));
}

TEST(GatewayHttpPaths, SnapshotPathsLanguageAndHostFromClients)
{
    const struct {
        const char* path;
        const char* recorder;   // nullptr: refused
        int camera;
    } paths[] = {
        {"/snapshot/shop/1.jpg", "shop", 1},
        {"/snapshot/a-b_C/9999.jpg", "a-b_C", 9999},
        {"/snapshot/shop/0.jpg", nullptr, 0},
        {"/snapshot/shop/01.jpg", nullptr, 0},
        {"/snapshot/shop/10000.jpg", nullptr, 0},
        {"/snapshot/../1.jpg", nullptr, 0},
        {"/snapshot/shop/1.jpg/", nullptr, 0},
        {"/snapshot//1.jpg", nullptr, 0},
        {"/snapshot/a/b/1.jpg", nullptr, 0},
        {"/snapshot/shop/1.jpeg", nullptr, 0},
        {"/snapshot/sh%00p/1.jpg", nullptr, 0},
        {"/snapshot/shop/-1.jpg", nullptr, 0},
        {"/snapshot/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/1.jpg", nullptr, 0},   // 33 letters
    };
    for (const auto& p : paths) {
        std::string name;
        int camera = 0;
        bool ok = parseSnapshotPath(p.path, name, camera);
        EXPECT_EQ(ok, p.recorder != nullptr) << p.path;
        if (ok && p.recorder) {
            EXPECT_EQ(name, p.recorder);
            EXPECT_EQ(camera, p.camera);
        }
    }
    const struct {
        const char* header;
        bool chinese;
    } languages[] = {
        {"zh-CN,zh;q=0.9,en;q=0.8", true},
        {"en-US,en;q=0.9,zh-CN;q=0.8", false},
        {"en;q=0.5, zh-TW;q=0.6", true},
        {"zh;q=0.5, en;q=0.5", true},
        {"en, zh", false},
        {"ZH-hk", true},
        {"zh;q=0", false},
        {"zh;q=2", false},
        {"fr, de", false},
        {"", false},
        {"*, zh;q=0.1", false},
        {"zhx-CN", false},
    };
    for (const auto& l : languages)
        EXPECT_EQ(prefersChinese(l.header), l.chinese) << l.header;
    const struct {
        const char* header;
        const char* host;
    } hosts[] = {
        {"192.168.1.5:8080", "192.168.1.5"},
        {"nvr.local", "nvr.local"},
        {"[::1]:8080", "[::1]"},
        {"<script>:80", ""},
        {"a@b:80", ""},
        {"host:80x", ""},
        {"[::1", ""},
        {"[::1]x", ""},
        {"", ""},
    };
    for (const auto& h : hosts)
        EXPECT_EQ(hostOf(h.header), h.host) << h.header;
}

TEST(GatewaySecrets, OwnerOnlyFileIsReadOthersAreRefusedWithTheReason)
{
    std::string path = ::testing::TempDir() + "gateway-secrets-" + std::to_string(getpid());
    std::ofstream(path) << "# test\n[rtsp]\nuser = viewer\npassword = s3cret\n"
                           "[recorder shop]\nuser = boss\npassword = pw\n";
    ::chmod(path.c_str(), 0644);
    Secrets open;
    std::string why = open.load(path);
    EXPECT_NE(why.find("mode 0644"), std::string::npos) << why;
    EXPECT_NE(why.find("chmod 600"), std::string::npos) << why;

    ::chmod(path.c_str(), 0600);
    Secrets s;
    ASSERT_EQ(s.load(path), "");
    EXPECT_TRUE(s.hasRtsp);
    EXPECT_EQ(s.rtsp.password, "s3cret");
    EXPECT_EQ(s.recorder("shop").user, "boss");
    EXPECT_EQ(s.recorder("other").user, "admin");   // the login dialog's default
    EXPECT_EQ(s.recorder("other").password, "580317");

    std::ofstream(path) << "[rtsp]\nuser = viewer\n";
    Secrets half;
    EXPECT_NE(half.load(path).find("both a user and a password"), std::string::npos);
    std::ofstream(path) << "[camera]\n";
    Secrets wrong;
    EXPECT_NE(wrong.load(path).find("line 1"), std::string::npos);
    std::remove(path.c_str());
}

struct Seen {
    bool key;
    int64_t pts;
    size_t size;
};

class FakeClient : public HubClient {
public:
    bool deliver(const OutFramePtr& f, int64_t pts) override
    {
        if (full)
            return false;
        seen.push_back({f->key, pts, f->bytes.size()});
        return true;
    }
    void end(bool slow) override { ended = slow ? 1 : 2; }
    std::atomic<bool> full{false};
    int ended = 0;   // 1 slow, 2 ended for a codec change
    std::vector<Seen> seen;
};

class HubTest : public ::testing::Test {
protected:
    // An H.264 frame: key frames hold an SPS unless `bare`.
    void push(bool key, int64_t timeUs, UnitCodec codec = UnitCodec::H264, bool bare = false)
    {
        static const uint8_t sps[] = {0, 0, 0, 1, 0x67, 0x42, 0, 0x1e, 0, 0, 0, 1, 0x68, 0xce};
        static const uint8_t idr[] = {0, 0, 0, 1, 0x65, 0x88, 0x84};
        static const uint8_t p[] = {0, 0, 0, 1, 0x41, 0x9a};
        std::vector<uint8_t> bytes;
        if (key && !bare)
            bytes.assign(sps, sps + sizeof sps);
        const uint8_t* body = key ? idr : p;
        bytes.insert(bytes.end(), body, body + (key ? sizeof idr : sizeof p));
        AccessUnit u;
        u.codec = codec;
        u.key = key;
        u.width = 352;
        u.height = 288;
        u.timeUs = timeUs;
        u.durationUs = 40000;
        u.data = bytes.data();
        u.size = int(bytes.size());
        u.extradata = sps;
        u.extradataSize = sizeof sps;
        hub.pushFrame(u, 0);
    }
    CameraHub hub{"/r/1", 0, 1000};
};

// A late joiner's burst holds enough frames for a client to time the frame rate at once: it
// starts at the latest key frame with kBurstMinFrames frames from it on, else at an earlier one.
TEST_F(HubTest, LateJoinerStartsAtARecentKeyFrameOnATimelineThatNeverGoesBack)
{
    const int64_t step = CameraHub::kBurstStepUs, n = CameraHub::kBurstMinFrames;
    int64_t t = 0;
    push(true, t);
    for (int i = 1; i < 30; ++i)
        push(false, t += 40000);
    push(true, t += 40000, UnitCodec::H264, true);   // no parameter sets: they are put in front
    for (int i = 1; i < n - 1; ++i)
        push(false, t += 40000);
    FakeClient early;   // the second group is one frame short: the burst starts at the first
    hub.attach(&early);
    ASSERT_EQ(early.seen.size(), size_t(30 + n - 1));
    EXPECT_TRUE(early.seen[0].key);
    EXPECT_EQ(early.seen[0].size, 14u + 7u);
    EXPECT_EQ(early.seen[30].size, 14u + 7u);
    push(false, t += 40000);
    FakeClient late;   // now the second group is long enough alone
    hub.attach(&late);
    ASSERT_EQ(late.seen.size(), size_t(n));
    EXPECT_TRUE(late.seen[0].key);
    EXPECT_EQ(late.seen[0].pts, 0);
    EXPECT_EQ(late.seen[1].pts, step);
    push(false, t += 40000);
    EXPECT_EQ(late.seen.back().pts, (n - 1) * step + 40000);
    hub.detach(&early);

    // The recorder goes away; the cache goes, the client stays, and time goes on.
    hub.streamLost();
    FakeClient waiting;
    hub.attach(&waiting);
    EXPECT_TRUE(waiting.seen.empty());
    push(false, 10);   // not a key frame and back in time
    push(true, 20);
    ASSERT_EQ(waiting.seen.size(), 1u);
    EXPECT_EQ(waiting.seen[0].pts, 0);
    for (size_t i = 1; i < late.seen.size(); ++i)
        EXPECT_GT(late.seen[i].pts, late.seen[i - 1].pts);
    hub.detach(&late);
    hub.detach(&waiting);
}

TEST_F(HubTest, SlowClientIsDroppedCodecChangeEndsAllAndIdleTimeKeepsTheChannel)
{
    Clock::useManual();
    FakeClient a, b;
    push(true, 0);
    hub.attach(&a);
    hub.attach(&b);
    b.full = true;
    push(false, 40000);
    EXPECT_EQ(b.ended, 1);
    EXPECT_EQ(a.seen.size(), 2u);
    EXPECT_EQ(hub.clientCount(), 1);

    push(true, 80000, UnitCodec::Mpeg4);
    EXPECT_EQ(a.ended, 2);
    EXPECT_EQ(hub.clientCount(), 0);
    EXPECT_EQ(hub.codec(), OutCodec::Mpeg4);
    EXPECT_TRUE(hub.wanted(Clock::nowMs() + 999));
    EXPECT_FALSE(hub.wanted(Clock::nowMs() + 1000));
    Clock::useReal();
}

TEST_F(HubTest, ClientsComingAndGoingWhileFramesFlow)
{
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        for (int64_t i = 0; !stop; ++i)
            push(i % 10 == 0, i * 40000);
    });
    for (int round = 0; round < 200; ++round) {
        FakeClient c;
        hub.attach(&c);
        std::this_thread::yield();
        hub.detach(&c);
        for (size_t i = 1; i < c.seen.size(); ++i)
            ASSERT_GT(c.seen[i].pts, c.seen[i - 1].pts);
    }
    stop = true;
    feeder.join();
}

}   // namespace
}   // namespace kevra::gateway
