// The simulated recorder's stream formats, end to end: each --format is received through the
// client's device session and cut by a probing demultiplexer; the program stream is also played
// through the client's decoder worker down to converted pictures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "RecorderOptions.h"
#include "demux/MediaFrame.h"
#include "demux/StreamDemuxer.h"
#include "app/ClientLiveViewDevice.h"
#include "device/DeviceClient.h"
#include "device/MediaSink.h"
#include "device/DeviceEvents.h"
#include "device/DeviceSession.h"
#include "testkit/PatternEncoder.h"
#include "tools/support/RecorderProcess.h"
#include "video/DecoderWorker.h"

namespace kevra {
namespace {

using Clock = std::chrono::steady_clock;

// NAL unit types present in an H.264 payload (Annex B start codes).
std::vector<int> nalTypes(const uint8_t* p, int n) {
  std::vector<int> types;
  for (int i = 0; i + 3 < n; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) types.push_back(p[i + 3] & 0x1F);
  return types;
}

bool contains(const std::vector<int>& v, int x) {
  for (int e : v)
    if (e == x) return true;
  return false;
}

struct Record {
  int subtype = 0, codec = 0, width = 0, height = 0, frameRate = 0, payloadLength = 0;
  std::vector<int> nals;
};

// Feeds the media of one channel into a probing demultiplexer and keeps the video records.
struct ProbeSink : DeviceEvents, MediaSink {
  void onLogin(int code, int) override { loginCode = code; }
  void onList(int, const uint8_t*, int, int) override {}
  void onStreamStarted(int) override {}
  void onStreamStopped(int) override {}
  void onMediaBytes(int, const uint8_t* bytes, int length) override {
    if (demux.feed(bytes, length) != 0) ++feedErrors;
    while (MediaFrame* f = demux.nextFrame()) {
      if (f->kind != 1) continue;
      Record r;
      r.subtype = f->subtype;
      r.codec = f->codec;
      r.width = f->width;
      r.height = f->height;
      r.frameRate = f->frameRate;
      r.payloadLength = f->payloadLength;
      if (f->payload && f->payloadLength > 0) r.nals = nalTypes(f->payload, f->payloadLength);
      video.push_back(std::move(r));
    }
  }
  void onChannel(int, int code) override { channelCode = code; }
  void onConnectionLost() override { lost = true; }

  int keyFrames() const {
    int n = 0;
    for (const auto& r : video) n += r.subtype == 0;
    return n;
  }

  StreamDemuxer demux{0};
  int loginCode = -1, channelCode = -1, feedErrors = 0;
  bool lost = false;
  std::vector<Record> video;
};

template <typename Done>
bool pollUntil(DeviceSession& s, int timeoutMs, Done done) {
  auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > until) return false;
    if (s.poll() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct FormatCase {
  const char* format;
  int code;  // the format the probe should pick
  int width, height;
  bool h264;
};

class RecorderFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RecorderFormats, ProbedAndCutIntoVideoRecordsOfThePictureSize) {
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
  ASSERT_TRUE(pollUntil(session, 30000, [&] {
    return sink.lost || (sink.video.size() >= 20 && sink.keyFrames() >= 2);
  })) << c.format << ": " << sink.video.size() << " video records, format " << sink.demux.format();
  EXPECT_FALSE(sink.lost);
  EXPECT_EQ(sink.demux.format(), c.code) << c.format;
  EXPECT_EQ(sink.feedErrors, 0);
  // The connection starts on a key frame; every record carries a frame.
  EXPECT_EQ(sink.video[0].subtype, 0) << c.format;
  for (const Record& r : sink.video) {
    EXPECT_GT(r.payloadLength, 0) << c.format;
    if (r.subtype != 0) continue;
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
    ::testing::Values(FormatCase{"kxav", 8, 320, 240, true}, FormatCase{"packet", 4, 176, 144, true},
                      FormatCase{"ps", 7, 352, 288, true}, FormatCase{"asf", 9, 176, 144, true},
                      FormatCase{"chunk", 5, 704, 576, false}, FormatCase{"m4v", 1, 352, 288, false},
                      FormatCase{"avi", 1, 176, 144, false}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.format); });

TEST(RecorderFormatOptions, EveryFormatIsAcceptedAndProgramStreamsNeedATableSize) {
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
  EXPECT_EQ(parse({"--help"}, message), 1);
  for (const char* f : {"kxav", "packet", "ps", "asf", "chunk", "m4v", "avi"})
    EXPECT_NE(message.find(std::string("      ") + f + " "), std::string::npos) << f;
}

// Login and channel answers from the client's network thread.
struct ClientSink : DeviceEvents {
  void onLogin(int code, int) override { loginCode.store(code); }
  void onList(int, const uint8_t*, int, int) override {}
  void onChannel(int, int code) override { channelCode.store(code); }
  void onConnectionLost() override { lost.store(true); }
  std::atomic<int> loginCode{-1}, channelCode{-1};
  std::atomic<bool> lost{false};
};

bool waitFor(const std::atomic<int>& value, int timeoutMs) {
  auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (value.load() < 0 && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return value.load() >= 0;
}

TEST(RecorderFormatsEndToEnd, PlaysAnH264ProgramStream) {
  RecorderProcess rec({"--format", "ps", "--size", "352x288", "--fps", "25", "--gop", "10",
                       "--bitrate", "800000"});
  ASSERT_TRUE(rec.start());
  ClientSink sink;
  DeviceClient client;
  client.setSink(&sink);
  client.login("127.0.0.1", rec.port(), "admin", "580317", 10000);
  ASSERT_TRUE(waitFor(sink.loginCode, 20000));
  ASSERT_EQ(sink.loginCode.load(), 0);
  // The viewer's own pairing of channel and decoder; it goes before the client.
  ClientLiveViewDevice view(client);
  DecoderWorker& decoder = view.decoder();
  view.setDisplayDepth(32);
  const int camera = 1;
  view.openChannel(camera, 1);
  ASSERT_TRUE(waitFor(sink.channelCode, 20000));
  ASSERT_EQ(sink.channelCode.load(), 0);

  // Ask for pictures as the viewer's frame timer does; keep the last of several.
  std::vector<uint8_t> picture;
  int width = 0, height = 0, pictures = 0;
  auto until = Clock::now() + std::chrono::seconds(30);
  while (pictures < 5 && Clock::now() < until && !sink.lost.load()) {
    int buffering = 1, w = 0, h = 0;
    const uint8_t* p = decoder.pictureQuery(buffering, w, h);
    if (p && w > 0 && h > 0) {
      picture.assign(p, p + size_t(w) * size_t(h) * 4);
      width = w;
      height = h;
      ++pictures;
      decoder.lowerConvertedCount();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  const int frameRate = decoder.frameRate();
  view.stopChannel();
  client.logout();
  client.setSink(nullptr);
  ASSERT_EQ(pictures, 5) << "chunks dropped: " << decoder.droppedPushes();
  EXPECT_EQ(width, 352);
  EXPECT_EQ(height, 288);
  EXPECT_EQ(frameRate, 25);

  // 32-bit pictures are bottom-up BGRA. Lower half: the camera's background colour; top rows:
  // the text, lighter than any background.
  auto pixel = [&](int x, int uprightY) {
    return &picture[(size_t(height - 1 - uprightY) * width + x) * 4];
  };
  const PatternColour want = PatternEncoder::background(camera);
  for (int x : {width / 4, width / 2, width * 3 / 4}) {
    const uint8_t* q = pixel(x, height * 3 / 4);
    EXPECT_NEAR(q[2], want.r, 24) << "x " << x;
    EXPECT_NEAR(q[1], want.g, 24) << "x " << x;
    EXPECT_NEAR(q[0], want.b, 24) << "x " << x;
  }
  int brightest = 0;
  for (int y = 0; y < height / 4; ++y)
    for (int x = 0; x < width / 2; ++x) {
      const uint8_t* q = pixel(x, y);
      brightest = std::max(brightest, q[0] + q[1] + q[2]);
    }
  EXPECT_GT(brightest, 3 * 200) << "no text in the top rows";
  EXPECT_EQ(rec.stop(), 0);
}

}  // namespace
}  // namespace kevra
