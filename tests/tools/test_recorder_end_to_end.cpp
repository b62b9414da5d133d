// End to end: the built kevra-recorder as a child process, driven by the client's own device
// session; the media it sends is cut by the client's demultiplexer parsers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "device/DeviceEvents.h"
#include "device/DeviceSession.h"
#include "device/MediaSink.h"
#include "device/Messages.h"
#include "testkit/PatternEncoder.h"
#include "tools/support/FrameTally.h"
#include "tools/support/PollUntil.h"
#include "tools/support/RecorderProcess.h"

namespace kevra {
namespace {

using Clock = std::chrono::steady_clock;

struct Sink : DeviceEvents, MediaSink {
    explicit Sink(int format) : tally(format) {}
    void onLogin(int code, int count, int) override
    {
        loginCode = code;
        channels = count;
    }
    void onList(int code, const uint8_t* block, int length, int count) override
    {
        listCode = code;
        names = code == 0 ? nameListItems(block, length, count) : std::vector<std::string>{};
    }
    void onStreamStarted(int) override {}
    void onStreamStopped(int) override {}
    void onMediaBytes(int channel, const uint8_t* bytes, int length) override
    {
        mediaChannel = channel;
        mediaBytes += length;
        tally.feed(bytes, length);
    }
    void onChannel(int channel, int code) override { channelCode = code; }
    void onConnectionLost() override { lost = true; }

    int loginCode = -1, channels = 0, listCode = -1, channelCode = -1, mediaChannel = -1;
    int64_t mediaBytes = 0;
    bool lost = false;
    std::vector<std::string> names;
    FrameTally tally;
};

TEST(RecorderEndToEnd, LoginListOpenAndStreamH264AtTheRightSizeAndRate)
{
    RecorderProcess rec(
        {"--cameras", "Gate&&大门&&停车场", "--size", "320x240", "--fps", "15", "--gop", "15"});
    ASSERT_TRUE(rec.start());
    Sink sink(8);
    DeviceSession session(&sink, &sink);
    session.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
    ASSERT_EQ(sink.loginCode, 0);
    EXPECT_EQ(sink.channels, 3);
    session.queryList();
    EXPECT_EQ(sink.listCode, 0);
    EXPECT_EQ(sink.names, (std::vector<std::string>{"Gate", "大门", "停车场"}));
    EXPECT_FALSE(rec.waitFor({"\"event\":\"list\"", "\"count\":3"}, 10000).empty());

    session.openChannel(2, 1);
    ASSERT_EQ(sink.channelCode, 0);
    // The first frame arrives, then 30 more are timed against the wall clock.
    ASSERT_TRUE(pollUntil(session, 20000, [&] { return sink.tally.frames().size() >= 1; }));
    auto start = Clock::now();
    ASSERT_TRUE(pollUntil(session, 30000, [&] { return sink.tally.frames().size() >= 31; }));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(sink.mediaChannel, 2);

    const auto& frames = sink.tally.frames();
    EXPECT_EQ(frames[0].subtype, 0);
    EXPECT_TRUE(frames[0].hasSps);
    EXPECT_GE(sink.tally.keyFrames(), 2);   // one every 15 frames
    EXPECT_GE(sink.tally.dependentFrames(), 25);
    for (const auto& f : frames) {
        EXPECT_EQ(f.codec, 4);
        EXPECT_GT(f.payloadLength, 0);
        if (f.subtype == 0) {
            EXPECT_EQ(f.width, 320);
            EXPECT_EQ(f.height, 240);
            EXPECT_EQ(f.frameRate, 15);
        }
    }
    // Paced by the wall clock: 30 frames at 15 fps take about two seconds (loose bounds).
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 6.0);

    session.sendPtz(2, 3, 0);
    EXPECT_FALSE(
        rec.waitFor({"\"event\":\"ptz\"", "\"channel\":2", "\"action\":3"}, 10000).empty());
    EXPECT_FALSE(
        rec.waitFor({"\"event\":\"claim\"", "\"channel\":2", "\"ok\":true"}, 1000).empty());
    EXPECT_FALSE(rec.waitFor({"\"event\":\"stream\"", "\"op\":\"start\""}, 1000).empty());
    session.logout();
    EXPECT_FALSE(rec.waitFor({"\"event\":\"disconnect\"", "\"role\":\"session\""}, 10000).empty());
    EXPECT_EQ(rec.stop(), 0);
    EXPECT_EQ(rec.count({"\"event\":\"stopped\""}), 1);
}

TEST(RecorderEndToEnd, PacketStreamAndSecondOpenOfTheSameChannel)
{
    RecorderProcess rec({"--format", "packet", "--size", "176x144", "--fps", "25"});
    ASSERT_TRUE(rec.start());
    Sink sink(4);
    DeviceSession session(&sink, &sink);
    session.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
    ASSERT_EQ(sink.loginCode, 0);
    session.openChannel(0, 1);
    ASSERT_EQ(sink.channelCode, 0);
    ASSERT_TRUE(pollUntil(session, 20000, [&] { return sink.tally.frames().size() >= 5; }));
    EXPECT_EQ(sink.tally.frames()[0].subtype, 0);
    EXPECT_EQ(sink.tally.frames()[0].width, 176);
    // Opening it again reuses the connection: stop then start, no second claim.
    session.openChannel(0, 1);
    EXPECT_FALSE(rec.waitFor({"\"event\":\"stream\"", "\"op\":\"stop\""}, 10000).empty());
    size_t before = sink.tally.frames().size();
    ASSERT_TRUE(
        pollUntil(session, 20000, [&] { return sink.tally.frames().size() >= before + 5; }));
    EXPECT_EQ(rec.count({"\"event\":\"claim\""}), 1);
    EXPECT_EQ(rec.count({"\"event\":\"stream\"", "\"op\":\"start\""}), 2);
}

TEST(RecorderEndToEnd, RefusalsAndLostClientsLeaveTheRecorderServing)
{
    RecorderProcess refusing({"--refuse", "2"});
    ASSERT_TRUE(refusing.start());
    Sink sink(8);
    {
        DeviceSession session(&sink, &sink);
        session.login("127.0.0.1", refusing.port(), "admin", "580317", 10000);
        EXPECT_EQ(sink.loginCode, 0x100E);
    }
    RecorderProcess rec({"--size", "64x48"});
    ASSERT_TRUE(rec.start());
    for (int round = 0; round < 3; ++round) {
        auto session = std::make_unique<DeviceSession>(&sink, &sink);
        sink.loginCode = -1;
        session->login("127.0.0.1", rec.port(), "admin", "580317", 10000);
        ASSERT_EQ(sink.loginCode, 0);
        session->openChannel(round, 1);
        int64_t before = sink.mediaBytes;
        ASSERT_TRUE(pollUntil(*session, 20000, [&] { return sink.mediaBytes > before + 1000; }));
        session.reset();   // gone mid-stream without a word
    }
    EXPECT_FALSE(
        rec.waitFor({"\"event\":\"disconnect\"", "\"role\":\"media\"", "\"channel\":2"}, 10000)
            .empty());
    EXPECT_TRUE(rec.running());
    EXPECT_EQ(rec.stop(), 0);
}

TEST(RecorderEndToEnd, StreamsARawH264FileInALoop)
{
    PatternEncoder enc;
    ASSERT_EQ(enc.open(4, 176, 144, 25, 0, 5), 0);
    std::string path =
        ::testing::TempDir() + "recorder_source_" + std::to_string(::getpid()) + ".h264";
    {
        std::ofstream f(path, std::ios::binary);
        std::vector<uint8_t> au;
        bool key;
        for (int i = 0; i < 12; ++i) {
            ASSERT_EQ(enc.encodeNext(au, key), 0);
            f.write(reinterpret_cast<const char*>(au.data()), std::streamsize(au.size()));
        }
    }
    RecorderProcess rec({"--source", path, "--fps", "50"});
    ASSERT_TRUE(rec.start());
    Sink sink(8);
    DeviceSession session(&sink, &sink);
    session.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
    ASSERT_EQ(sink.loginCode, 0);
    session.openChannel(0, 1);
    // More frames than the file holds: it loops, key frames included.
    ASSERT_TRUE(pollUntil(session, 20000, [&] { return sink.tally.frames().size() >= 30; }));
    std::remove(path.c_str());
    EXPECT_GE(sink.tally.keyFrames(), 5);
    EXPECT_EQ(sink.tally.frames()[0].width, 176);
    EXPECT_EQ(sink.tally.frames()[0].height, 144);
    for (const auto& f : sink.tally.frames())
        EXPECT_GT(f.payloadLength, 0);

    RecorderProcess missing({"--source", "/nonexistent/file.h264"});
    EXPECT_FALSE(missing.start());
}

}   // namespace
}   // namespace kevra
