// kevractl's network commands against the simulated recorder, run as the user would run them.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

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

std::string tempPath(const std::string& name) {
  return ::testing::TempDir() + "kevractl_" + std::to_string(::getpid()) + "_" + name;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

CommandRun kevractl(const std::string& args) {
  CommandRun r;
  std::string errPath = tempPath("stderr.txt");
  std::string cmd = std::string(KEVRA_BIN_DIR) + "/kevractl " + args + " 2>" + errPath;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, p)) > 0) r.out.append(block, n);
  int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = readFile(errPath);
  std::remove(errPath.c_str());
  return r;
}

std::string portArgs(const RecorderProcess& rec) {
  return " --host 127.0.0.1 --port " + std::to_string(rec.port()) + " --timeout 20";
}

// Decodes a PNG file into packed RGB24 rows, top row first.
bool decodePng(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb) {
  std::string data = readFile(path);
  if (data.empty()) return false;
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
                  frame->data[0] + row * frame->linesize[0] + width * 3, rgb.begin() + row * width * 3);
      ok = true;
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  return ok;
}

TEST(KevractlNet, SnapshotsShowEachCamerasOwnColoursUpright) {
  RecorderProcess rec({"--size", "320x240", "--fps", "25", "--bitrate", "800000"});
  ASSERT_TRUE(rec.start());
  PatternColour seen[2];
  for (int cam = 0; cam < 2; ++cam) {
    std::string png = tempPath("cam" + std::to_string(cam) + ".png");
    CommandRun r = kevractl("snapshot --channel " + std::to_string(cam) + " --out " + png + portArgs(rec));
    ASSERT_EQ(r.status, 0) << r.err;
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

TEST(KevractlNet, ListRecordAndPtz) {
  RecorderProcess rec({"--cameras", "Gate&&大门&&Parking", "--size", "176x144", "--fps", "25"});
  ASSERT_TRUE(rec.start());
  CommandRun list = kevractl("list" + portArgs(rec));
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "0\tGate\n1\t大门\n2\tParking\n");

  std::string file = tempPath("capture.kxav");
  CommandRun rec1 = kevractl("record --channel 1 --seconds 1.5 --out " + file + portArgs(rec));
  ASSERT_EQ(rec1.status, 0) << rec1.err;
  std::string bytes = readFile(file);
  std::remove(file.c_str());
  ASSERT_GT(bytes.size(), 1000u);
  EXPECT_EQ(bytes.substr(0, 4), "KXAV");
  FrameTally tally(8);
  tally.feed(reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size()));
  EXPECT_GE(tally.keyFrames(), 1);
  EXPECT_GE(tally.dependentFrames(), 10);

  CommandRun ptz = kevractl("ptz --channel 2 --action focus-in" + portArgs(rec));
  ASSERT_EQ(ptz.status, 0) << ptz.err;
  EXPECT_FALSE(rec.waitFor({"\"event\":\"ptz\"", "\"channel\":2", "\"action\":7"}, 10000).empty());

  CommandRun bad = kevractl("ptz --channel 2 --action sideways" + portArgs(rec));
  EXPECT_NE(bad.status, 0);
}

TEST(KevractlNet, FailuresNameTheResultCode) {
  RecorderProcess rec({"--refuse", "2"});
  ASSERT_TRUE(rec.start());
  CommandRun r = kevractl("list" + portArgs(rec));
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.err, "login failed: 0x1004\n");

  CommandRun wrong = kevractl("list --password nope --port " + std::to_string(rec.port()));
  EXPECT_NE(wrong.status, 0);

  RecorderProcess ok({"--cameras", "A&&B"});
  ASSERT_TRUE(ok.start());
  CommandRun badChannel = kevractl("snapshot --channel 5 --out /dev/null" + portArgs(ok));
  EXPECT_NE(badChannel.status, 0);
  EXPECT_EQ(badChannel.err, "open failed: 0x1011\n");
}

}  // namespace
}  // namespace kevra
