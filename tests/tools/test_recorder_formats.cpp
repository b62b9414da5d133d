// The simulated recorder's stream formats, end to end: each --format is received through the
// client's device session and cut by a probing demultiplexer, and every format and codec (and
// ffmpeg-made MPEG-4 files sent as they are) plays through the device client's decoder worker
// down to converted pictures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "PlayPace.h"
#include "RecorderOptions.h"
#include "demux/MediaFrame.h"
#include "demux/StreamDemuxer.h"
#include "app/ClientLiveViewDevice.h"
#include "device/support/ClientStreamLink.h"
#include "device/DeviceClient.h"
#include "device/MediaSink.h"
#include "device/DeviceEvents.h"
#include "device/DeviceSession.h"
#include "testkit/PacketMuxer.h"
#include "testkit/PatternEncoder.h"
#include "tools/support/PollUntil.h"
#include "tools/support/RecorderProcess.h"
#include "video/DecoderWorker.h"

namespace kevra {
namespace {

using Clock = std::chrono::steady_clock;

// NAL unit types present in an H.264 payload (Annex B start codes).
std::vector<int> nalTypes(const uint8_t* p, int n)
{
    std::vector<int> types;
    for (int i = 0; i + 3 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)
            types.push_back(p[i + 3] & 0x1F);
    return types;
}

bool contains(const std::vector<int>& v, int x)
{
    for (int e : v)
        if (e == x)
            return true;
    return false;
}

struct Record {
    int subtype = 0, codec = 0, width = 0, height = 0, frameRate = 0, payloadLength = 0;
    std::vector<int> nals;
};

// Feeds the media of one channel into a probing demultiplexer and keeps the video records.
struct ProbeSink : DeviceEvents, MediaSink {
    void onLogin(int code, int, int) override { loginCode = code; }
    void onList(int, const uint8_t*, int, int) override {}
    void onStreamStarted(int) override {}
    void onStreamStopped(int) override {}
    void onMediaBytes(int, const uint8_t* bytes, int length) override
    {
        if (demux.feed(bytes, length) != 0)
            ++feedErrors;
        while (MediaFrame* f = demux.nextFrame()) {
            if (f->kind != 1)
                continue;
            Record r;
            r.subtype = f->subtype;
            r.codec = f->codec;
            r.width = f->width;
            r.height = f->height;
            r.frameRate = f->frameRate;
            r.payloadLength = f->payloadLength;
            if (f->payload && f->payloadLength > 0)
                r.nals = nalTypes(f->payload, f->payloadLength);
            video.push_back(std::move(r));
        }
    }
    void onChannel(int, int code) override { channelCode = code; }
    void onConnectionLost() override { lost = true; }

    int keyFrames() const
    {
        int n = 0;
        for (const auto& r : video)
            n += r.subtype == 0;
        return n;
    }

    StreamDemuxer demux;
    int loginCode = -1, channelCode = -1, feedErrors = 0;
    bool lost = false;
    std::vector<Record> video;
};

struct FormatCase {
    const char* format;
    int code;   // the format the probe should pick
    int width, height;
    bool h264;
};

class RecorderFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RecorderFormats, ProbedAndCutIntoVideoRecordsOfThePictureSize)
{
    const FormatCase c = GetParam();
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    RecorderProcess rec({"--format", c.format, "--size", size, "--fps", "25", "--gop", "8"});
    ASSERT_TRUE(rec.start());
    ProbeSink sink;
    DeviceSession session(&sink, &sink);
    session.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
    ASSERT_EQ(sink.loginCode, 0);
    session.openChannel(1, 1);
    ASSERT_EQ(sink.channelCode, 0);
    ASSERT_TRUE(
        pollUntil(session, 30000,
                  [&] { return sink.lost || (sink.video.size() >= 20 && sink.keyFrames() >= 2); }))
        << c.format << ": " << sink.video.size() << " video records, format "
        << recordCode(sink.demux.format());
    EXPECT_FALSE(sink.lost);
    EXPECT_EQ(recordCode(sink.demux.format()), c.code) << c.format;
    EXPECT_EQ(sink.feedErrors, 0);
    // The connection starts on a key frame; every record carries a frame.
    EXPECT_EQ(sink.video[0].subtype, 0) << c.format;
    for (const Record& r : sink.video) {
        EXPECT_GT(r.payloadLength, 0) << c.format;
        if (r.subtype != 0)
            continue;
        EXPECT_EQ(r.width, c.width) << c.format;
        EXPECT_EQ(r.height, c.height) << c.format;
        if (c.h264) {
            EXPECT_EQ(r.codec, 4) << c.format;
            EXPECT_EQ(r.frameRate, 25) << c.format;
            // The whole key frame in one record: parameter sets and the IDR picture.
            ASSERT_FALSE(r.nals.empty()) << c.format;
            EXPECT_EQ(r.nals.front(), 7) << c.format;
            EXPECT_TRUE(contains(r.nals, 8)) << c.format;
            EXPECT_TRUE(contains(r.nals, 5)) << c.format;
        }
    }
    // A key frame every 8 frames: the dependent frames between them are all there.
    EXPECT_GE(int(sink.video.size()) - sink.keyFrames(), 14) << c.format;
    session.logout();
    EXPECT_EQ(rec.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, RecorderFormats,
    ::testing::Values(FormatCase{"kxav", 8, 320, 240, true},
                      FormatCase{"packet", 4, 176, 144, true}, FormatCase{"ps", 7, 352, 288, true},
                      FormatCase{"asf", 9, 176, 144, true}, FormatCase{"chunk", 5, 704, 576, false},
                      FormatCase{"m4v", 1, 352, 288, false}, FormatCase{"avi", 1, 176, 144, false}),
    [](const ::testing::TestParamInfo<FormatCase>& info) {
        return std::string(info.param.format);
    });

TEST(RecorderFormatOptions, EveryFormatIsAcceptedAndProgramStreamsNeedATableSize)
{
    auto parse = [](std::vector<const char*> args, std::string& message) {
        args.insert(args.begin(), "kevra-recorder");
        RecorderOptions o;
        return RecorderOptions::parse(int(args.size()), args.data(), o, message);
    };
    std::string message;
    for (const char* f : {"kxav", "packet", "ps", "asf", "chunk", "m4v", "avi"})
        EXPECT_EQ(parse({"--format", f}, message), 0) << f << ": " << message;
    EXPECT_EQ(parse({"--format", "mkv"}, message), -1);
    EXPECT_EQ(parse({"--format", "ps", "--size", "704x576"}, message), 0);
    EXPECT_EQ(parse({"--format", "ps", "--size", "1600x1200"}, message), 0);
    EXPECT_EQ(parse({"--format", "ps", "--size", "368x272"}, message), -1);
    EXPECT_NE(message.find("368x272"), std::string::npos) << message;
    EXPECT_NE(message.find("704x576"), std::string::npos) << message;
    // The size check does not depend on the order of the options.
    EXPECT_EQ(parse({"--size", "368x272", "--format", "ps"}, message), -1);
    EXPECT_EQ(parse({"--size", "368x272", "--format", "asf"}, message), 0);
    // Chunk headers give the size in units of 16, and clients know only the usual widths.
    EXPECT_EQ(parse({"--format", "chunk", "--size", "176x144"}, message), 0);
    EXPECT_EQ(parse({"--format", "chunk", "--size", "720x480"}, message), 0);
    EXPECT_EQ(parse({"--format", "chunk", "--size", "320x240"}, message), -1);
    EXPECT_NE(message.find("320x240"), std::string::npos) << message;
    // MPEG-4 program streams carry their size in the VOL; the raw formats are MPEG-4 only.
    EXPECT_EQ(parse({"--format", "ps", "--codec", "mpeg4", "--size", "368x272"}, message), 0);
    EXPECT_EQ(parse({"--format", "m4v", "--codec", "h264"}, message), -1);
    EXPECT_EQ(parse({"--format", "kxav", "--codec", "vp8"}, message), -1);
    EXPECT_EQ(parse({"--codec", "mpeg4", "--source", "x.264"}, message), -1);
    EXPECT_EQ(parse({"--help"}, message), 1);
    for (const char* f : {"kxav", "packet", "ps", "asf", "chunk", "m4v", "avi"})
        EXPECT_NE(message.find(std::string("      ") + f + " "), std::string::npos) << f;
}

// Login and channel answers from the client's network thread.
struct ClientSink : DeviceEvents {
    void onLogin(int code, int, int) override { loginCode.store(code); }
    void onList(int, const uint8_t*, int, int) override {}
    void onChannel(int, int code) override { channelCode.store(code); }
    void onConnectionLost() override { lost.store(true); }
    std::atomic<int> loginCode{-1}, channelCode{-1};
    std::atomic<bool> lost{false};
};

bool waitFor(const std::atomic<int>& value, int timeoutMs)
{
    auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (value.load() < 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return value.load() >= 0;
}

// One camera played through the device client: the pictures the viewer's frame timer would
// get (the last of `wanted` is kept), the stream's frame rate and the channel open time.
struct Played {
    std::vector<uint8_t> picture;   // 32-bit bottom-up BGRA
    int width = 0, height = 0, pictures = 0, frameRate = 0, undecodable = -1;
    int64_t bytes = 0;       // pushes the decoder dropped
    double msToFirst = -1;   // channel answer to the first picture
};

Played play(RecorderProcess& rec, int camera, int wanted, int timeoutS = 30)
{
    Played out;
    ClientSink sink;
    DeviceClient client;
    client.setSink(&sink);
    client.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
    EXPECT_TRUE(waitFor(sink.loginCode, 20000));
    EXPECT_EQ(sink.loginCode.load(), 0);
    // The viewer's own pairing of channel and decoder; it goes before the client.
    test::ClientStreamLink link(client);
    ClientLiveViewDevice view(link);
    DecoderWorker& decoder = view.decoder();
    view.setPixelFormat(PixelFormat::Bgrx32);
    view.openChannel(camera, 1);
    EXPECT_TRUE(waitFor(sink.channelCode, 20000));
    EXPECT_EQ(sink.channelCode.load(), 0);
    const auto opened = Clock::now();
    // Ask for pictures as the viewer's frame timer does.
    const auto until = opened + std::chrono::seconds(timeoutS);
    while (out.pictures < wanted && Clock::now() < until && !sink.lost.load()) {
        Picture p;
        if (decoder.takePicture(p) && p.width > 0 && p.height > 0) {
            if (out.pictures == 0)
                out.msToFirst =
                    std::chrono::duration<double, std::milli>(Clock::now() - opened).count();
            out.picture.assign(p.pixels, p.pixels + size_t(p.stride) * size_t(p.height));
            out.width = p.width;
            out.height = p.height;
            ++out.pictures;
            decoder.giveBack(p);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    out.frameRate = decoder.frameRate();
    out.undecodable = decoder.undecodableCodec();
    out.bytes = decoder.droppedPushes();
    view.stopChannel();
    client.logout();
    client.setSink(nullptr);
    return out;
}

const uint8_t* pixel(const Played& p, int x, int uprightY)
{
    return &p.picture[(size_t(p.height - 1 - uprightY) * p.width + x) * 4];
}

struct PlayCase {
    std::vector<std::string> args;
    int width, height;
};

class RecorderFormatsPlay : public ::testing::TestWithParam<PlayCase> {};

TEST_P(RecorderFormatsPlay, PlaysToPicturesInTheCamerasColours)
{
    const PlayCase& c = GetParam();
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--size", std::to_string(c.width) + "x" + std::to_string(c.height),
                             "--fps", "25", "--gop", "10", "--bitrate", "800000"});
    RecorderProcess rec(args);
    ASSERT_TRUE(rec.start());
    const int camera = 2;
    const Played p = play(rec, camera, 5);
    ASSERT_EQ(p.pictures, 5) << "pushes dropped: " << p.bytes;
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_EQ(p.frameRate, 25);
    EXPECT_EQ(p.undecodable, -1);
    // Lower half: the camera's background colour; top rows: the text, lighter than any background.
    const PatternColour want = PatternEncoder::background(camera);
    for (int x : {p.width / 4, p.width / 2, p.width * 3 / 4}) {
        const uint8_t* q = pixel(p, x, p.height * 3 / 4);
        EXPECT_NEAR(q[2], want.r, 24) << "x " << x;
        EXPECT_NEAR(q[1], want.g, 24) << "x " << x;
        EXPECT_NEAR(q[0], want.b, 24) << "x " << x;
    }
    int brightest = 0;
    for (int y = 0; y < p.height / 4; ++y)
        for (int x = 0; x < p.width / 2; ++x) {
            const uint8_t* q = pixel(p, x, y);
            brightest = std::max(brightest, q[0] + q[1] + q[2]);
        }
    EXPECT_GT(brightest, 3 * 200) << "no text in the top rows";
    std::printf("[ time ] first picture %.0f ms after the channel opened\n", p.msToFirst);
    EXPECT_EQ(rec.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormatAndCodec, RecorderFormatsPlay,
    ::testing::Values(PlayCase{{"--format", "kxav"}, 320, 240},
                      PlayCase{{"--format", "kxav", "--codec", "mpeg4"}, 320, 240},
                      PlayCase{{"--format", "packet"}, 176, 144},
                      PlayCase{{"--format", "packet", "--codec", "mpeg4"}, 176, 144},
                      PlayCase{{"--format", "ps", "--codec", "h264"}, 352, 288},
                      PlayCase{{"--format", "ps", "--codec", "mpeg4"}, 704, 576},
                      PlayCase{{"--format", "asf"}, 176, 144},
                      PlayCase{{"--format", "chunk"}, 352, 288},
                      PlayCase{{"--format", "m4v"}, 352, 288},
                      PlayCase{{"--format", "avi"}, 176, 144}),
    [](const ::testing::TestParamInfo<PlayCase>& info) {
        std::string name;
        for (size_t i = 1; i < info.param.args.size(); i += 2)
            name += info.param.args[i];
        return name;
    });

// Files other programs wrote, sent as they are: ffmpeg's MPEG-4 elementary stream (also with
// B-frames), AVI and program stream in 2 KB packs (scripts/make-ffmpeg-samples.sh, made at test time).
class FfmpegFilesPlay : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        // A folder of this process's own: ctest runs each case as its own process, in parallel,
        // and a shared folder had one case reading a sample while another rewrote it.
        std::string pattern = ::testing::TempDir() + "kevra-ffmpeg-play-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        dir_ = pattern;
        const std::string command = std::string("bash '") + KEVRA_SOURCE_DIR +
                                    "/scripts/make-ffmpeg-samples.sh' '" + dir_ +
                                    "' >/dev/null 2>&1";
        made_ = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ec);
    }
    static std::string dir_;
    static bool made_;
};
std::string FfmpegFilesPlay::dir_;
bool FfmpegFilesPlay::made_ = false;

TEST_P(FfmpegFilesPlay, PlaysToTheTestPicture)
{
    if (!made_)
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::string file = dir_ + "/" + GetParam();
    if (FILE* f = std::fopen(file.c_str(), "rb"))
        std::fclose(f);
    else
        GTEST_SKIP() << file << " was not made";
    // Sent at its own rate: the samples play for 3 s, whatever --bitrate says.
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
    }
    EXPECT_NEAR(PlayPace::fileSeconds(file, bytes), 3.0, 0.2) << GetParam();
    RecorderProcess rec({"--play", file, "--fps", "25", "--bitrate", "2000000"});
    ASSERT_TRUE(rec.start());
    const Played p = play(rec, 1, 3);
    ASSERT_EQ(p.pictures, 3) << GetParam() << ": pushes dropped: " << p.bytes;
    EXPECT_EQ(p.width, 176);
    EXPECT_EQ(p.height, 144);
    EXPECT_EQ(p.frameRate, 25);
    // ffmpeg's test picture: colour bars, so many distinct colours in the top half.
    std::vector<bool> seen(512, false);
    int colours = 0;
    for (int y = 0; y < p.height / 2; y += 4)
        for (int x = 0; x < p.width; x += 4) {
            const uint8_t* q = pixel(p, x, y);
            const int bucket = (q[2] >> 5) << 6 | (q[1] >> 5) << 3 | (q[0] >> 5);
            if (!seen[bucket])
                ++colours;
            seen[bucket] = true;
        }
    EXPECT_GE(colours, 6) << GetParam();
    EXPECT_EQ(rec.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Mpeg4, FfmpegFilesPlay,
                         ::testing::Values("es.m4v", "es-bf.m4v", "av.avi", "ps-mpeg4.mpg"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string n = info.param;
                             for (char& ch : n)
                                 if (ch == '.' || ch == '-')
                                     ch = '_';
                             return n;
                         });

// A stream no decoder here can show: kevractl snapshot says so at once instead of waiting for
// its time-out. Codec 3 key frames (0x000001FE packets), and a stream of audio packets only.
TEST(RecorderFormatsEndToEnd, SnapshotOfAnUndecodableStreamSaysWhichCodecAtOnce)
{
    struct Case {
        const char* name;
        int codec;
    };
    for (const Case c : {Case{"codec3", 3}, Case{"audio", 21}}) {
        PacketMuxer mux;
        std::vector<uint8_t> bytes, body(600, 0x44);
        for (int i = 0; i < 100; ++i) {
            std::vector<uint8_t> packet =
                c.codec == 3 ? (i % 10 == 0 ? mux.keyFrame(body, 176, 144, 25, 0, 0xFE)
                                            : mux.dependentFrame(body, 0xFC))
                             : PacketMuxer::audioPacket(body, c.codec, 2);
            bytes.insert(bytes.end(), packet.begin(), packet.end());
        }
        const std::string file = ::testing::TempDir() + "kevra-undecodable-" + c.name + ".bin";
        FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        RecorderProcess rec({"--play", file, "--bitrate", "800000"});
        ASSERT_TRUE(rec.start());
        const std::string err = ::testing::TempDir() + "kevra-undecodable.err";
        const std::string command = std::string(KEVRA_BIN_DIR) +
                                    "/kevractl snapshot --channel 0 --out " + ::testing::TempDir() +
                                    "never.png --port " + std::to_string(rec.port()) + " 2>" + err;
        const auto began = Clock::now();
        const int status = std::system(command.c_str());
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        std::string message;
        if (FILE* e = std::fopen(err.c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, e))
                message += line;
            std::fclose(e);
        }
        EXPECT_NE(status, 0) << c.name;
        EXPECT_NE(message.find("stream codec " + std::to_string(c.codec) + " cannot be decoded"),
                  std::string::npos)
            << c.name << ": " << message;
        EXPECT_LT(seconds, 8.0) << c.name << ": not at once";
        EXPECT_EQ(rec.stop(), 0);
    }
}

}   // namespace
}   // namespace kevra
