// The simulated recorder's pieces on their own: options, the event log and the stream wrapping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AnnexBSource.h"
#include "CameraStream.h"
#include "EventLog.h"
#include "RecorderOptions.h"
#include "testkit/PatternEncoder.h"
#include "tools/support/FrameTally.h"

namespace kevra {
namespace {

int parse(std::vector<std::string> args, RecorderOptions& o, std::string& msg)
{
    std::vector<const char*> argv{"kevra-recorder"};
    for (auto& a : args)
        argv.push_back(a.c_str());
    return RecorderOptions::parse(int(argv.size()), argv.data(), o, msg);
}

TEST(RecorderOptions, DefaultsMatchTheClientDefaults)
{
    RecorderOptions o;
    std::string msg;
    ASSERT_EQ(parse({}, o, msg), 0);
    EXPECT_EQ(o.listen, "127.0.0.1");
    EXPECT_EQ(o.port, 34567);
    ASSERT_EQ(o.users.size(), 1u);
    EXPECT_EQ(o.users[0].first, "admin");
    EXPECT_EQ(o.users[0].second, "580317");
    EXPECT_EQ(o.cameras, (std::vector<std::string>{"Gate", "Lobby", "Parking"}));
    EXPECT_EQ(o.format, "kxav");
    EXPECT_FALSE(o.perFrame);
}

TEST(RecorderOptions, ParsesValuesAndPairsUsersWithPasswords)
{
    RecorderOptions o;
    std::string msg;
    ASSERT_EQ(parse({"--user",
                     "a",
                     "--password",
                     "1",
                     "--user",
                     "longusername",
                     "--password",
                     "pw",
                     "--cameras",
                     "大门&&Lobby",
                     "--size",
                     "704x576",
                     "--fps",
                     "15",
                     "--format",
                     "packet",
                     "--per-frame",
                     "--fault-big-list",
                     "2000000",
                     "--fault-close-media",
                     "0.5",
                     "--refuse",
                     "9"},
                    o, msg),
              0)
        << msg;
    ASSERT_EQ(o.users.size(), 2u);
    EXPECT_EQ(o.users[1], (std::pair<std::string, std::string>{"longusername", "pw"}));
    EXPECT_EQ(o.cameras, (std::vector<std::string>{"大门", "Lobby"}));
    EXPECT_EQ(o.width, 704);
    EXPECT_EQ(o.height, 576);
    EXPECT_EQ(o.fps, 15);
    EXPECT_EQ(o.format, "packet");
    EXPECT_TRUE(o.perFrame);
    EXPECT_EQ(o.faultBigList, 2000000);
    EXPECT_DOUBLE_EQ(o.faultCloseMedia, 0.5);
    EXPECT_EQ(o.refuseReason, 9);
}

// A refused option is answered in one line naming the option, the value and the rule.
TEST(RecorderOptions, RejectsBadValuesSayingWhy)
{
    RecorderOptions o;
    std::string msg;
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--fps", "0"}, "--fps must be a whole number from 1 to 100, not '0'"},
        {{"--fps", "12abc"}, "--fps must be a whole number from 1 to 100, not '12abc'"},
        {{"--port", "70000"}, "--port must be a whole number from 0 to 65535, not '70000'"},
        {{"--size", "350x288"},
         "--size must be WIDTHxHEIGHT, each a multiple of 8 from 16 to 2040, not '350x288'"},
        {{"--size", "352"},
         "--size must be WIDTHxHEIGHT, each a multiple of 8 from 16 to 2040, not '352'"},
        {{"--format", "avi2"},
         "--format must be one of kxav, packet, ps, asf, chunk, m4v, avi, not 'avi2'"},
        {{"--fault-absurd-length", "both"},
         "--fault-absurd-length must be media or session, not 'both'"},
        {{"--message-size", "63"},
         "--message-size must be a whole number from 64 to 1048576, not '63' (smaller messages "
         "make a stream no "
         "client can play)"},
        {{"--bogus", "1"}, "unknown option '--bogus' ('kevra-recorder --help' lists the options)"},
        {{"--bogus"}, "unknown option '--bogus' ('kevra-recorder --help' lists the options)"},
        {{"--port"}, "--port needs a value"},
        {{"--codec", "h265"}, "--codec must be h264 or mpeg4, not 'h265'"},
        {{"--play", "/nonexistent"},
         "--play /nonexistent: cannot open it: No such file or directory"},
        {{"--play", "/"}, "--play /: it is not a file"},
        {{"--play", "/dev/null"}, "--play /dev/null: it is not a file"},
        {{"--cameras", ""},
         "--cameras must not hold an empty name (camera 0 is empty): give names separated by "
         "&&, e.g. \"Gate&&Lobby\""},
        {{"--cameras", "A&&&&B"},
         "--cameras must not hold an empty name (camera 1 is empty): give names "
         "separated by &&, e.g. \"Gate&&Lobby\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.args, o, msg), -1) << c.args[0];
        EXPECT_EQ(msg, c.message);
    }
    EXPECT_EQ(parse({"--message-size", "64", "--cameras", "A"}, o, msg), 0) << msg;
    EXPECT_EQ(parse({"--help"}, o, msg), 1);
}

TEST(EventLog, WritesValidJsonLinesWhateverTheText)
{
    EXPECT_EQ(EventLog::quote("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(EventLog::quote("停车场"), "\"停车场\"");
    // A byte that is not UTF-8 becomes its escaped value, a cut sequence too.
    EXPECT_EQ(EventLog::quote("x\xff"), "\"x\\u00ff\"");
    EXPECT_EQ(EventLog::quote("\xe5\x81"), "\"\\u00e5\\u0081\"");
    std::vector<std::string> lines;
    EventLog log(nullptr);
    log.setSink([&](const std::string& l) { lines.push_back(l); });
    log.begin("ptz").field("channel", 2).field("user", std::string("admin")).flag("ok", true).end();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "{\"event\":\"ptz\",\"channel\":2,\"user\":\"admin\",\"ok\":true}");
}

std::vector<FrameTally::Frame> streamFrames(RecorderOptions& o, const AnnexBSource* source,
                                            int count, bool askKeyAt3 = false)
{
    CameraStream cam(1, o, source);
    auto now = CameraStream::TimePoint::clock::now();
    EXPECT_EQ(cam.open(now), 0);
    FrameTally tally(o.format == "packet" ? 4 : 8);
    std::vector<uint8_t> bytes;
    bool key;
    for (int i = 0; i < count; ++i) {
        if (askKeyAt3 && i == 3)
            cam.requestKeyFrame();
        EXPECT_EQ(cam.nextFrame(now, bytes, key), 0);
        tally.feed(bytes.data(), int(bytes.size()));
    }
    return tally.frames();
}

TEST(CameraStream, KxavAndPacketStreamsCarrySizeRateAndH264Codec)
{
    for (const char* format : {"kxav", "packet"}) {
        RecorderOptions o;
        o.format = format;
        o.width = 176;
        o.height = 144;
        o.fps = 50;   // above what a packet header holds
        o.gop = 4;
        auto frames = streamFrames(o, nullptr, 9);
        ASSERT_GE(frames.size(), 8u) << format;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].kind, 1);
            EXPECT_EQ(frames[i].codec, 4) << format << " " << i;
            EXPECT_EQ(frames[i].subtype == 0, i % 4 == 0) << format << " " << i;
            EXPECT_GT(frames[i].payloadLength, 0) << format << " " << i;
            if (i % 4 == 0) {
                EXPECT_TRUE(frames[i].hasSps);
                EXPECT_EQ(frames[i].width, 176);
                EXPECT_EQ(frames[i].height, 144);
                EXPECT_EQ(frames[i].frameRate, std::string(format) == "packet" ? 31 : 50);
            }
        }
    }
}

TEST(CameraStream, SourceFileIsCutIntoFramesAndLoopsFromKeyFrames)
{
    PatternEncoder enc;
    ASSERT_EQ(enc.open(0, 128, 96, 25, 0, 10), 0);
    std::vector<uint8_t> file, au;
    bool key;
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(enc.encodeNext(au, key), 0);
        file.insert(file.end(), au.begin(), au.end());
    }
    AnnexBSource source;
    ASSERT_EQ(source.loadBytes(file.data(), file.size()), 0);
    ASSERT_EQ(source.frames().size(), 25u);
    EXPECT_EQ(source.width(), 128);
    EXPECT_EQ(source.height(), 96);
    for (size_t i = 0; i < 25; ++i)
        EXPECT_EQ(source.frames()[i].key, i % 10 == 0) << i;

    RecorderOptions o;
    o.width = 640;   // the file's own size wins
    o.height = 480;
    auto frames = streamFrames(o, &source, 31, true);
    ASSERT_GE(frames.size(), 30u);
    EXPECT_EQ(frames[0].width, 128);
    EXPECT_EQ(frames[0].subtype, 0);
    // A key frame asked for at frame 3 skips ahead to the file's next key frame (its frame 10).
    EXPECT_EQ(frames[3].subtype, 0);
    EXPECT_NE(frames[2].subtype, 0);
    // After the file's 25th frame the loop starts over at frame 0, a key frame.
    EXPECT_EQ(frames[3 + 15].subtype, 0);

    AnnexBSource empty;
    uint8_t noise[100] = {1, 2, 3};
    EXPECT_EQ(empty.loadBytes(noise, sizeof noise), -1);
    EXPECT_EQ(empty.problem(), "it holds no H.264 (Annex B) picture");
    EXPECT_EQ(empty.load("/nonexistent/file.h264"), -1);
    EXPECT_EQ(empty.problem(), "cannot open it: No such file or directory");
}

}   // namespace
}   // namespace kevra
