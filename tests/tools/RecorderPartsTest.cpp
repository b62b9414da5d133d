// The simulated recorder's pieces on their own: options, the event log and the stream wrapping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CameraStream.h"
#include "EventLog.h"
#include "RecorderOptions.h"
#include "tools/support/FrameTally.h"

namespace kevra {
namespace {

int parse(std::vector<std::string> args, RecorderOptions& o, std::string& msg) {
  std::vector<const char*> argv{"kevra-recorder"};
  for (auto& a : args) argv.push_back(a.c_str());
  return RecorderOptions::parse(int(argv.size()), argv.data(), o, msg);
}

TEST(RecorderOptions, DefaultsMatchTheClientDefaults) {
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

TEST(RecorderOptions, ParsesValuesAndPairsUsersWithPasswords) {
  RecorderOptions o;
  std::string msg;
  ASSERT_EQ(parse({"--user", "a", "--password", "1", "--user", "longusername", "--password", "pw",
                   "--cameras", "大门&&Lobby&&", "--size", "704x576", "--fps", "15", "--format",
                   "packet", "--per-frame", "--fault-big-list", "2000000", "--fault-close-media",
                   "0.5", "--refuse", "9"},
                  o, msg), 0) << msg;
  ASSERT_EQ(o.users.size(), 2u);
  EXPECT_EQ(o.users[1], (std::pair<std::string, std::string>{"longusername", "pw"}));
  EXPECT_EQ(o.cameras, (std::vector<std::string>{"大门", "Lobby", ""}));
  EXPECT_EQ(o.width, 704);
  EXPECT_EQ(o.height, 576);
  EXPECT_EQ(o.fps, 15);
  EXPECT_EQ(o.format, "packet");
  EXPECT_TRUE(o.perFrame);
  EXPECT_EQ(o.faultBigList, 2000000);
  EXPECT_DOUBLE_EQ(o.faultCloseMedia, 0.5);
  EXPECT_EQ(o.refuseReason, 9);
}

TEST(RecorderOptions, RejectsBadValues) {
  RecorderOptions o;
  std::string msg;
  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--size", "350x288"}, {"--size", "2048x64"}, {"--size", "352"},
        {"--port", "70000"}, {"--fps", "0"}, {"--format", "avi2"}, {"--bogus", "1"}, {"--port"},
        {"--message-size", "0"}, {"--fault-absurd-length", "both"}, {"--fps", "12abc"}}) {
    EXPECT_EQ(parse(bad, o, msg), -1) << bad[0];
    EXPECT_FALSE(msg.empty());
  }
  EXPECT_EQ(parse({"--help"}, o, msg), 1);
}

TEST(EventLog, WritesValidJsonLinesWhateverTheText) {
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

TEST(CameraStream, KxavPacketsCarrySizeRateAndH264Codec) {
  std::vector<uint8_t> key{0, 0, 0, 1, 0x67, 1, 2, 3, 0, 0, 0, 1, 0x65, 9, 9, 9};
  std::vector<uint8_t> dep{0, 0, 0, 1, 0x41, 5, 5};
  std::vector<uint8_t> stream, packet;
  uint32_t seq = 41;
  for (int i = 0; i < 4; ++i) {
    CameraStream::wrapKxav(i == 0 ? key : dep, i == 0, seq++, 704, 576, 25, CameraStream::packedNow(), packet);
    stream.insert(stream.end(), packet.begin(), packet.end());
  }
  FrameTally tally(8);
  tally.feed(stream.data(), int(stream.size()));
  // The last packet is only known complete when the next one starts.
  ASSERT_GE(tally.frames().size(), 3u);
  const auto& f = tally.frames()[0];
  EXPECT_EQ(f.kind, 1);
  EXPECT_EQ(f.subtype, 0);
  EXPECT_EQ(f.codec, 4);
  EXPECT_EQ(f.width, 704);
  EXPECT_EQ(f.height, 576);
  EXPECT_EQ(f.frameRate, 25);
  EXPECT_EQ(f.payloadLength, int(key.size()));
  EXPECT_TRUE(f.hasSps);
  EXPECT_EQ(tally.frames()[1].subtype, 1);
  EXPECT_EQ(tally.frames()[1].codec, 4);
  EXPECT_EQ(tally.frames()[1].payloadLength, int(dep.size()));
}

TEST(CameraStream, PacketStreamCarriesSizeRateAndH264Codec) {
  std::vector<uint8_t> key{0, 0, 0, 1, 0x67, 1, 2, 3, 0, 0, 0, 1, 0x65, 9, 9, 9};
  std::vector<uint8_t> dep{0, 0, 0, 1, 0x41, 5, 5};
  std::vector<uint8_t> stream, packet;
  for (int i = 0; i < 4; ++i) {
    CameraStream::wrapPacket(i == 0 ? key : dep, i == 0, uint8_t(254 + i), 352, 288, 25,
                             CameraStream::packedNow(), packet);
    stream.insert(stream.end(), packet.begin(), packet.end());
  }
  FrameTally tally(4);
  tally.feed(stream.data(), int(stream.size()));
  ASSERT_GE(tally.frames().size(), 3u);
  EXPECT_EQ(tally.frames()[0].subtype, 0);
  EXPECT_EQ(tally.frames()[0].codec, 4);
  EXPECT_EQ(tally.frames()[0].width, 352);
  EXPECT_EQ(tally.frames()[0].height, 288);
  EXPECT_EQ(tally.frames()[0].frameRate, 25);
  // Sequence bytes 255 -> 0 -> 1 stay in sequence: dependent frames arrive whole.
  EXPECT_EQ(tally.frames()[1].payloadLength, int(dep.size()));
  EXPECT_EQ(tally.frames()[2].payloadLength, int(dep.size()));
}

}  // namespace
}  // namespace kevra
