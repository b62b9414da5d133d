// kevractl's network commands against the simulated recorder, run as the user would run them.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "demux/MediaFrame.h"
#include "testkit/PatternEncoder.h"
#include "tools/support/FrameTally.h"
#include "tools/support/RecorderProcess.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kevra {
namespace {

struct CommandRun {
    int status = -1;
    std::string out, err;
};

std::string tempPath(const std::string& name)
{
    return ::testing::TempDir() + "kevractl_" + std::to_string(::getpid()) + "_" + name;
}

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

CommandRun kevractl(const std::string& args)
{
    CommandRun r;
    std::string errPath = tempPath("stderr.txt");
    std::string cmd = std::string(KEVRA_BIN_DIR) + "/kevractl " + args + " 2>" + errPath;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, p)) > 0)
        r.out.append(block, n);
    int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = readFile(errPath);
    std::remove(errPath.c_str());
    return r;
}

std::string portArgs(const RecorderProcess& rec)
{
    return " --host 127.0.0.1 --port " + std::to_string(rec.port()) + " --timeout 20";
}

// Decodes a PNG file into packed RGB24 rows, top row first.
bool decodePng(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb)
{
    std::string data = readFile(path);
    if (data.empty())
        return false;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = false;
    if (avcodec_open2(ctx, codec, nullptr) == 0) {
        pkt->data = reinterpret_cast<uint8_t*>(data.data());
        pkt->size = int(data.size());
        if (avcodec_send_packet(ctx, pkt) == 0 && avcodec_receive_frame(ctx, frame) == 0 &&
            frame->format == AV_PIX_FMT_RGB24) {
            width = frame->width;
            height = frame->height;
            rgb.resize(size_t(width) * height * 3);
            for (int row = 0; row < height; ++row)
                std::copy(frame->data[0] + row * frame->linesize[0],
                          frame->data[0] + row * frame->linesize[0] + width * 3,
                          rgb.begin() + row * width * 3);
            ok = true;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return ok;
}

TEST(KevractlNet, SnapshotsShowEachCamerasOwnColoursUpright)
{
    RecorderProcess rec({"--size", "320x240", "--fps", "25", "--bitrate", "800000"});
    ASSERT_TRUE(rec.start());
    PatternColour seen[2];
    for (int cam = 0; cam < 2; ++cam) {
        std::string png = tempPath("cam" + std::to_string(cam) + ".png");
        const bool toStdout = cam == 1;   // the second picture comes through standard output
        CommandRun r = kevractl("snapshot --channel " + std::to_string(cam) + " --out " +
                                (toStdout ? "-" : png) + portArgs(rec));
        ASSERT_EQ(r.status, 0) << r.err;
        if (toStdout) {
            EXPECT_EQ(r.out.substr(0, 4), "\x89PNG");
            std::ofstream(png, std::ios::binary) << r.out;
            std::swap(r.out, r.err);   // the line about the picture
        }
        std::printf("snapshot camera %d: %s", cam, r.out.c_str());
        int w = 0, h = 0;
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(decodePng(png, w, h, rgb));
        std::remove(png.c_str());
        EXPECT_EQ(w, 320);
        EXPECT_EQ(h, 240);
        // Lower half: the camera's background colour. Upper left: the text, lighter than it.
        PatternColour want = PatternEncoder::background(cam);
        const uint8_t* p = &rgb[(size_t(h) * 3 / 4 * w + w / 2) * 3];
        EXPECT_NEAR(p[0], want.r, 24) << "camera " << cam;
        EXPECT_NEAR(p[1], want.g, 24) << "camera " << cam;
        EXPECT_NEAR(p[2], want.b, 24) << "camera " << cam;
        seen[cam] = {p[0], p[1], p[2]};
        int brightest = 0;
        for (int y = 0; y < h / 4; ++y)
            for (int x = 0; x < w / 2; ++x) {
                const uint8_t* q = &rgb[(size_t(y) * w + x) * 3];
                brightest = std::max(brightest, q[0] + q[1] + q[2]);
            }
        EXPECT_GT(brightest, 3 * 200) << "no text in the top rows: the picture is not upright";
    }
    EXPECT_GT(std::abs(seen[0].r - seen[1].r) + std::abs(seen[0].g - seen[1].g), 100);
}

TEST(KevractlNet, ListRecordAndPtz)
{
    RecorderProcess rec({"--cameras", "Gate&&大门&&Parking", "--size", "176x144", "--fps", "25"});
    ASSERT_TRUE(rec.start());
    CommandRun list = kevractl("list" + portArgs(rec));
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "0\tGate\tcamera 1\n1\t大门\tcamera 2\n2\tParking\tcamera 3\n");

    std::string file = tempPath("capture.kxav");
    CommandRun rec1 = kevractl("record --channel 1 --seconds 1.5 --out " + file + portArgs(rec));
    ASSERT_EQ(rec1.status, 0) << rec1.err;
    std::string bytes = readFile(file);
    std::remove(file.c_str());
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes.substr(0, 4), "KXAV");
    FrameTally tally(recordCode(StreamFormat::Kxav));
    tally.feed(reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size()));
    EXPECT_GE(tally.keyFrames(), 1);
    EXPECT_GE(tally.dependentFrames(), 10);

    CommandRun ptz = kevractl("ptz --channel 2 --action focus-in" + portArgs(rec));
    ASSERT_EQ(ptz.status, 0) << ptz.err;
    EXPECT_FALSE(
        rec.waitFor({"\"event\":\"ptz\"", "\"channel\":2", "\"action\":7"}, 10000).empty());
}

// A port on 127.0.0.1 that nothing listens on (bound once to learn a free number, then closed).
int closedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Every kind of failure: exit status 1 and one sentence naming the result code.
TEST(KevractlNet, FailuresSaySentencesWithTheResultCode)
{
    RecorderProcess rec({"--cameras", "A&&B"});
    RecorderProcess refuse({"--refuse", "2"});
    RecorderProcess stall({"--fault-stall-list"});
    ASSERT_TRUE(rec.start() && refuse.start() && stall.start());
    const std::string closed = std::to_string(closedPort());
    const struct {
        std::string args, err;
    } cases[] = {
        {"list --password nope" + portArgs(rec), "login failed: wrong password (0x1003)\n"},
        {"list --user nobody" + portArgs(rec), "login failed: unknown user (0x1002)\n"},
        {"list" + portArgs(refuse), "login failed: login refused (reason 2) (0x100E)\n"},
        {"list --port " + closed,
         "cannot connect to 127.0.0.1:" + closed + ": connection refused (0x100A)\n"},
        {"snapshot --channel 5 --out /dev/null" + portArgs(rec),
         "cannot open channel 5 (camera 6): no such camera (0x1011)\n"},
        {"list" + portArgs(stall), "list failed: no camera list from the recorder in time (0x3)\n"},
    };
    for (const auto& c : cases) {
        CommandRun r = kevractl(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
}

// Help on every command, and arguments refused before anything is sent (exit status 2).
TEST(KevractlNet, HelpAndArgumentChecks)
{
    for (const char* command : {"list", "snapshot", "record", "ptz", "probe"}) {
        CommandRun help = kevractl(std::string(command) + " --help");
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_EQ(help.out.rfind(std::string("usage: kevractl ") + command, 0), 0u) << help.out;
        EXPECT_EQ(help.out.find("--port") != std::string::npos, std::string(command) != "probe")
            << command;
    }
    CommandRun main = kevractl("help");
    EXPECT_EQ(main.status, 0);
    EXPECT_NE(main.out.find("--timeout"), std::string::npos);

    const struct {
        std::string args, err;
    } cases[] = {
        {"record --channel 0 --seconds 0 --out x", "kevractl record: --seconds must be a number of "
                                                   "seconds above 0, at most 86400, not '0'\n"},
        {"record --channel 0 --out x",
         "kevractl record: --seconds is required (try 'kevractl record --help')\n"},
        {"list --port 70000",
         "kevractl list: --port must be a whole number from 1 to 65535, not '70000'\n"},
        {"list --seconds 3",
         "kevractl list: --seconds does not apply to this command (try 'kevractl list --help')\n"},
        {"list --bogus", "kevractl list: unknown option '--bogus' (try 'kevractl list --help')\n"},
        {"snapshot --channel", "kevractl snapshot: --channel needs a value\n"},
        {"snapshot --channel 0 --out x.jpg", "kevractl snapshot: --out must name a .png file (the "
                                             "picture is saved as PNG), not 'x.jpg'\n"},
        {"ptz --channel 1 --action sideways",
         "kevractl ptz: --action must be one of up, down, left, right, zoom-in, zoom-out, "
         "focus-in, focus-out, iris-in, iris-out, not 'sideways'\n"},
    };
    for (const auto& c : cases) {
        CommandRun r = kevractl(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
}

}   // namespace
}   // namespace kevra
