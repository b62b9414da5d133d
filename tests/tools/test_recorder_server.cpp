// The recorder's protocol handling, with the server running in this process and raw loopback
// clients built from the device link's own request builders.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "EventLog.h"
#include "RecorderOptions.h"
#include "RecorderServer.h"
#include "device/Messages.h"
#include "tools/support/FrameTally.h"
#include "tools/support/RawClient.h"

namespace kevra {
namespace {

class InProcessRecorder {
public:
    explicit InProcessRecorder(std::vector<std::string> args)
    {
        std::vector<const char*> argv{"kevra-recorder", "--port", "0"};
        for (auto& a : args)
            argv.push_back(a.c_str());
        std::string msg;
        ok_ = RecorderOptions::parse(int(argv.size()), argv.data(), options_, msg) == 0;
        log_.setSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
            changed_.notify_all();
        });
        server_ = std::make_unique<RecorderServer>(options_, log_);
        ok_ = ok_ && server_->open(msg) == 0;
        if (ok_)
            thread_ = std::thread([this] { server_->run(); });
    }
    ~InProcessRecorder()
    {
        server_->stop();
        if (thread_.joinable())
            thread_.join();
    }
    bool ok() const { return ok_; }
    int port() const { return server_->port(); }
    std::string waitFor(const std::vector<std::string>& parts, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        std::string found;
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const auto& l : lines_) {
                bool all = true;
                for (const auto& p : parts)
                    all = all && l.find(p) != std::string::npos;
                if (all) {
                    found = l;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    RecorderOptions options_;
    EventLog log_{nullptr};
    std::unique_ptr<RecorderServer> server_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ok_ = false;
};

ReplyHeader login(RawClient& c, int port, const char* user = "admin", const char* pw = "580317")
{
    ReplyHeader h;
    h.command = -1;
    std::vector<uint8_t> header, payload;
    if (!c.connect(port) || !c.send(buildLogin(user, pw)) || !c.readMessage(header, payload, 10000))
        return h;
    parseReplyHeader(header.data(), h);
    return h;
}

// Claims channel `channel` (0-based) on a new media connection and starts its stream.
bool startMedia(RawClient& session, RawClient& media, int port, const LoginInfo& info, int channel,
                int stream = 1)
{
    return media.connect(port) &&
           media.send(buildChannelClaim(channel, info.sessionId.data(), 4)) &&
           session.send(buildStreamControl(channel, stream, 1));
}

// The first frame's picture size on a media connection.
std::pair<int, int> firstFrameSize(RawClient& media)
{
    FrameTally tally(8);
    std::vector<uint8_t> header, payload;
    for (int i = 0; i < 400 && tally.frames().empty(); ++i) {
        if (!media.readMessage(header, payload, 10000))
            break;
        tally.feed(payload.data(), int(payload.size()));
    }
    return tally.frames().empty() ? std::pair{0, 0}
                                  : std::pair{tally.frames()[0].width, tally.frames()[0].height};
}

int64_t numberField(const std::string& line, const std::string& key)
{
    size_t at = line.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stoll(line.substr(at + key.size() + 3));
}

TEST(RecorderServer, AcceptsBothLoginFormsAndRefusesWrongCredentials)
{
    InProcessRecorder rec({"--user", "admin", "--password", "580317", "--user", "supervisor",
                           "--password", "longer-password"});
    ASSERT_TRUE(rec.ok());
    RawClient a, b, c, d;
    ReplyHeader h = login(a, rec.port());
    EXPECT_EQ(h.command, cmd::LOGIN_REPLY);
    EXPECT_EQ(h.status, 0);
    ASSERT_TRUE(h.loginInfo.has_value());
    EXPECT_EQ(h.loginInfo->channelCount, 3);
    EXPECT_NE(h.loginInfo->sessionId, (std::array<uint8_t, 4>{}));
    EXPECT_FALSE(rec.waitFor({"\"login\"", "\"form\":\"short\"", "\"accepted\""}).empty());

    h = login(b, rec.port(), "supervisor", "longer-password");
    EXPECT_EQ(h.status, 0);
    EXPECT_FALSE(
        rec.waitFor({"\"login\"", "\"user\":\"supervisor\"", "\"form\":\"long\""}).empty());

    EXPECT_EQ(login(c, rec.port(), "admin", "wrong").status, 0x1003);
    EXPECT_EQ(login(d, rec.port(), "nobody", "580317").status, 0x1002);
    // A refused client stays connected and may try again on the same connection.
    std::vector<uint8_t> header, payload;
    ASSERT_TRUE(c.send(buildLogin("admin", "580317")));
    ASSERT_TRUE(c.readMessage(header, payload, 10000));
    parseReplyHeader(header.data(), h);
    EXPECT_EQ(h.status, 0);
}

TEST(RecorderServer, ForcedAnswersGiveEveryLoginResult)
{
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {{{"--refuse", "0"}, 0x1002},  {{"--refuse", "7"}, 0x1009},
                 {{"--refuse", "9"}, 4},       {{"--refuse", "-1"}, 4},
                 {{"--outcome", "3"}, 0x1005}, {{"--outcome", "2"}, 0x1001}};
    for (const auto& k : cases) {
        InProcessRecorder rec(k.args);
        ASSERT_TRUE(rec.ok());
        RawClient c;
        EXPECT_EQ(login(c, rec.port()).status, k.status) << k.args[0] << " " << k.args[1];
    }
    InProcessRecorder negative({"--channels", "200"});
    RawClient c;
    ReplyHeader h = login(c, negative.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    EXPECT_LT(h.loginInfo->channelCount, 0);
}

TEST(RecorderServer, AnswersKeepaliveListAndRecordsPtz)
{
    InProcessRecorder rec({"--cameras", "大门&&Lobby & Hall&&停车场"});
    ASSERT_TRUE(rec.ok());
    RawClient s;
    ASSERT_EQ(login(s, rec.port()).status, 0);
    std::vector<uint8_t> header, payload;
    ASSERT_TRUE(s.send(buildKeepalive()));
    ASSERT_TRUE(s.readMessage(header, payload, 10000));
    EXPECT_EQ(header[0], cmd::KEEPALIVE_REPLY);

    ASSERT_TRUE(s.send(buildListQuery()));
    ASSERT_TRUE(s.readMessage(header, payload, 10000));
    EXPECT_EQ(header[0], cmd::LIST_REPLY);
    EXPECT_EQ(RawClient::le32(&header[4]), payload.size());
    std::vector<uint8_t> block;
    int count = splitNameList(payload.data(), int(payload.size()), block);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(nameListItems(block.data(), int(block.size()), count),
              (std::vector<std::string>{"大门", "Lobby & Hall", "停车场"}));

    ASSERT_TRUE(s.send(buildPtzControl(1, 6, 0)));
    ASSERT_TRUE(s.send(buildPtzControl(2, 9, 0)));
    EXPECT_FALSE(rec.waitFor({"\"ptz\"", "\"channel\":1", "\"action\":7"}).empty());
    EXPECT_FALSE(rec.waitFor({"\"ptz\"", "\"channel\":2", "\"action\":10"}).empty());
}

TEST(RecorderServer, RequestsBeforeLoginAreIgnored)
{
    InProcessRecorder rec({});
    RawClient c;
    ASSERT_TRUE(c.connect(rec.port()));
    ASSERT_TRUE(c.send(buildListQuery()));
    ASSERT_TRUE(c.send(buildKeepalive()));
    EXPECT_FALSE(rec.waitFor({"\"ignored\"", "\"command\":161"}).empty());
    EXPECT_TRUE(c.quietFor(200));
}

TEST(RecorderServer, ClaimsMustNameALiveSessionAndChannel)
{
    InProcessRecorder rec({});
    RawClient s;
    ReplyHeader h = login(s, rec.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    std::array<uint8_t, 4> wrong = h.loginInfo->sessionId;
    wrong[0] ^= 0x5A;
    RawClient m1, m2, m3;
    ASSERT_TRUE(m1.connect(rec.port()));
    ASSERT_TRUE(m1.send(buildChannelClaim(0, wrong.data(), 4)));
    EXPECT_TRUE(m1.waitClosed(10000));
    ASSERT_TRUE(m2.connect(rec.port()));
    ASSERT_TRUE(
        m2.send(buildChannelClaim(3, h.loginInfo->sessionId.data(), 4)));   // 3 cameras: 0..2
    EXPECT_TRUE(m2.waitClosed(10000));
    ASSERT_TRUE(m3.connect(rec.port()));
    ASSERT_TRUE(m3.send(buildChannelClaim(2, h.loginInfo->sessionId.data(), 4)));
    EXPECT_FALSE(rec.waitFor({"\"claim\"", "\"channel\":2", "\"ok\":true"}).empty());
    EXPECT_FALSE(m3.waitClosed(300));
    // The session going away takes its media connections with it.
    s.close();
    EXPECT_TRUE(m3.waitClosed(10000));
}

TEST(RecorderServer, StreamsKxavH264FromAKeyFrameInSmallMessages)
{
    InProcessRecorder rec({"--size", "320x240", "--fps", "20", "--message-size", "1000"});
    RawClient s, m;
    ReplyHeader h = login(s, rec.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 1));
    FrameTally tally(8);
    std::vector<uint8_t> header, payload;
    for (int i = 0; i < 400 && tally.dependentFrames() < 5; ++i) {
        ASSERT_TRUE(m.readMessage(header, payload, 10000));
        ASSERT_EQ(header[0], cmd::MEDIA_DATA);
        ASSERT_LE(payload.size(), 1000u);
        ASSERT_GT(payload.size(), 0u);
        tally.feed(payload.data(), int(payload.size()));
    }
    ASSERT_GE(tally.frames().size(), 6u);
    const auto& first = tally.frames()[0];
    EXPECT_EQ(first.subtype, 0);   // the stream starts with a key frame
    EXPECT_EQ(first.codec, 4);
    EXPECT_EQ(first.width, 320);
    EXPECT_EQ(first.height, 240);
    EXPECT_EQ(first.frameRate, 20);
    EXPECT_TRUE(first.hasSps);
    EXPECT_GE(tally.dependentFrames(), 5);
    for (const auto& f : tally.frames())
        EXPECT_GT(f.payloadLength, 0);
    EXPECT_FALSE(rec.waitFor({"\"stream\"", "\"channel\":1", "\"op\":\"start\""}).empty());

    // Stopping the stream stops the media; the connection stays open.
    ASSERT_TRUE(s.send(buildStreamControl(1, 1, 0)));
    EXPECT_FALSE(rec.waitFor({"\"stream\"", "\"channel\":1", "\"op\":\"stop\""}).empty());
    size_t drained = 0;
    EXPECT_FALSE(m.waitClosed(1000, &drained));
    EXPECT_TRUE(m.quietFor(500));
}

TEST(RecorderServer, StreamTwoIsAQuarterOfThePicture)
{
    InProcessRecorder rec({"--size", "704x576"});
    RawClient s, full, quarter, other;
    ReplyHeader h = login(s, rec.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    ASSERT_TRUE(startMedia(s, full, rec.port(), *h.loginInfo, 0, 1));
    ASSERT_TRUE(startMedia(s, quarter, rec.port(), *h.loginInfo, 1, 2));
    ASSERT_TRUE(startMedia(s, other, rec.port(), *h.loginInfo, 2, 3));   // unknown: full size
    EXPECT_EQ(firstFrameSize(full), (std::pair{704, 576}));
    EXPECT_EQ(firstFrameSize(quarter), (std::pair{352, 288}));
    EXPECT_EQ(firstFrameSize(other), (std::pair{704, 576}));
    EXPECT_FALSE(
        rec.waitFor({"\"camera\"", "\"channel\":1", "\"stream\":2", "\"width\":352"}).empty());
}

// Bursts: frames stop for the stall, then the held ones go out together, each logged with the
// time it went out; a PTZ step pans the picture from a logged frame on.
TEST(RecorderServer, BurstsHoldFramesAndPtzPansThePicture)
{
    InProcessRecorder rec(
        {"--fault-burst", "400:800", "--frame-code", "--fps", "25", "--size", "176x144"});
    RawClient s, m;
    ReplyHeader h = login(s, rec.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 0));
    ASSERT_FALSE(rec.waitFor({"\"sent\"", "\"frame\":3,"}).empty());
    ASSERT_TRUE(s.send(buildPtzControl(0, 2, 0)));   // left: the scene moves right
    const std::string ptz = rec.waitFor({"\"ptz\"", "\"pan_x\":1", "\"pan_y\":0"});
    ASSERT_FALSE(ptz.empty());
    EXPECT_GT(numberField(ptz, "frame"), 3);
    ASSERT_FALSE(rec.waitFor({"\"fault\"", "\"kind\":\"burst\""}, 5000).empty());
    ASSERT_FALSE(rec.waitFor({"\"sent\"", "\"frame\":45,"}, 5000).empty());

    // Sent times: a gap of about the stall, then the frames due meanwhile within a few ms.
    std::vector<int64_t> sent;
    for (const auto& line : rec.lines())
        if (line.find("\"sent\"") != std::string::npos)
            sent.push_back(numberField(line, "mono_us"));
    bool burstSeen = false;
    for (size_t i = 1; i + 5 < sent.size(); ++i)
        if (sent[i] - sent[i - 1] > 300000 && sent[i + 5] - sent[i] < 20000)
            burstSeen = true;
    EXPECT_TRUE(burstSeen);
}

TEST(RecorderServer, PerFrameMessagesHoldOnePacketEachInPacketFormat)
{
    InProcessRecorder rec(
        {"--format", "packet", "--per-frame", "--size", "176x144", "--fps", "25"});
    RawClient s, m;
    ReplyHeader h = login(s, rec.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 0));
    FrameTally tally(4);
    std::vector<uint8_t> header, payload;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(m.readMessage(header, payload, 10000));
        ASSERT_GE(payload.size(), 8u);
        EXPECT_EQ(payload[0], 0);
        EXPECT_EQ(payload[1], 0);
        EXPECT_EQ(payload[2], 1);
        EXPECT_EQ(payload[3], i == 0 ? 0xFD : 0xFC);
        size_t declared = i == 0 ? (payload[12] | payload[13] << 8 | payload[14] << 16) + 16u
                                 : (payload[4] | payload[5] << 8 | payload[6] << 16) + 8u;
        EXPECT_EQ(declared, payload.size());
        tally.feed(payload.data(), int(payload.size()));
    }
    ASSERT_GE(tally.frames().size(), 5u);
    EXPECT_EQ(tally.frames()[0].codec, 4);
    EXPECT_EQ(tally.frames()[0].width, 176);
    EXPECT_EQ(tally.frames()[0].height, 144);
    EXPECT_EQ(tally.dependentFrames(), int(tally.frames().size()) - 1);
}

TEST(RecorderServer, TextFormStreamControlStartsHighChannels)
{
    std::string names;
    for (int i = 0; i < 20; ++i)
        names += (i ? "&&Cam" : "Cam") + std::to_string(i);
    InProcessRecorder rec({"--cameras", names, "--size", "64x48"});
    RawClient s, m;
    ReplyHeader h = login(s, rec.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    EXPECT_EQ(h.loginInfo->channelCount, 20);
    ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 17));
    EXPECT_FALSE(
        rec.waitFor({"\"stream\"", "\"channel\":17", "\"form\":\"text\"", "\"ok\":true"}).empty());
    std::vector<uint8_t> header, payload;
    ASSERT_TRUE(m.readMessage(header, payload, 10000));
    EXPECT_EQ(header[0], cmd::MEDIA_DATA);
}

TEST(RecorderServer, HostileClientsAreDisconnectedWithoutHarm)
{
    InProcessRecorder rec({"--max-clients", "4"});
    // An announced payload beyond any request's size.
    RawClient big;
    ASSERT_TRUE(big.connect(rec.port()));
    std::vector<uint8_t> hdr(32, 0);
    hdr[0] = cmd::LOGIN;
    hdr[4] = 0;
    hdr[5] = 0;
    hdr[6] = 0x10;   // 1 MiB
    ASSERT_TRUE(big.send(hdr));
    EXPECT_TRUE(big.waitClosed(10000));
    // Random bytes: whatever they parse as, the server survives.
    RawClient junk;
    ASSERT_TRUE(junk.connect(rec.port()));
    std::vector<uint8_t> noise(200000);
    uint32_t x = 12345;
    for (auto& b : noise)
        b = uint8_t((x = x * 1103515245 + 12345) >> 16);
    junk.send(noise);
    junk.close();
    // More clients than allowed: the extra ones are turned away at once.
    std::vector<std::unique_ptr<RawClient>> many;
    for (int i = 0; i < 5; ++i) {
        many.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(many.back()->connect(rec.port()));
    }
    EXPECT_FALSE(rec.waitFor({"\"rejected\""}).empty());
    many.clear();
    RawClient fine;
    EXPECT_EQ(login(fine, rec.port()).status, 0);
}

TEST(RecorderServer, AClientThatNeverReadsItsRepliesIsDropped)
{
    InProcessRecorder rec({"--queue-limit", "65536"});
    RawClient s;
    ASSERT_TRUE(s.connect(rec.port(), 4096));
    ASSERT_TRUE(s.send(buildLogin("admin", "580317")));
    std::vector<uint8_t> burst;
    for (int i = 0; i < 4096; ++i) {
        auto k = buildKeepalive();
        burst.insert(burst.end(), k.begin(), k.end());
    }
    // Keepalive replies the client never reads: the server stops queueing and closes.
    for (int i = 0; i < 200 && rec.waitFor({"\"does not read\""}, 1).empty(); ++i)
        if (!s.send(burst))
            break;
    EXPECT_FALSE(rec.waitFor({"\"disconnect\"", "does not read"}, 20000).empty());
}

TEST(RecorderServer, ASlowClientHasMediaDroppedNotQueued)
{
    InProcessRecorder rec({"--size", "640x480", "--bitrate", "6000000", "--fps", "50", "--gop", "5",
                           "--queue-limit", "65536"});
    RawClient s, m;
    ReplyHeader h = login(s, rec.port());
    ASSERT_TRUE(h.loginInfo.has_value());
    ASSERT_TRUE(m.connect(rec.port(), 4096));
    ASSERT_TRUE(m.send(buildChannelClaim(0, h.loginInfo->sessionId.data(), 4)));
    ASSERT_TRUE(s.send(buildStreamControl(0, 1, 1)));
    // The media connection is never read: the server drops frames instead of growing its queue.
    EXPECT_FALSE(rec.waitFor({"\"drop\"", "\"channel\":0"}, 20000).empty());
    // Reading again resumes at a key frame.
    FrameTally tally(8);
    std::vector<uint8_t> header, payload;
    for (int i = 0; i < 20000 && tally.keyFrames() < 2; ++i) {
        if (!m.readMessage(header, payload, 10000))
            break;
        tally.feed(payload.data(), int(payload.size()));
    }
    EXPECT_GE(tally.keyFrames(), 2)
        << tally.frames().size() << " frames, " << tally.dependentFrames() << " dependent";
    RawClient other;
    EXPECT_EQ(login(other, rec.port()).status, 0);
}

TEST(RecorderServer, MediaFaultsCutStallAndLie)
{
    {
        InProcessRecorder rec({"--fault-close-media-bytes", "5000", "--size", "64x48"});
        RawClient s, m;
        ReplyHeader h = login(s, rec.port());
        ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 0));
        size_t got = 0;
        EXPECT_TRUE(m.waitClosed(10000, &got));
        EXPECT_EQ(got, 5000u);
    }
    {
        InProcessRecorder rec({"--fault-stall-media", "100", "--size", "64x48", "--per-frame"});
        RawClient s, m;
        ReplyHeader h = login(s, rec.port());
        ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 0));
        std::vector<uint8_t> header, rest;
        ASSERT_TRUE(m.read(32, header, 10000));
        uint32_t announced = RawClient::le32(&header[4]);
        ASSERT_TRUE(m.read(announced / 2, rest, 10000));
        EXPECT_TRUE(m.quietFor(500));   // the rest never comes, the link stays open
    }
    {
        InProcessRecorder rec({"--fault-absurd-length", "media", "--size", "64x48"});
        RawClient s, m;
        ReplyHeader h = login(s, rec.port());
        ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 0));
        std::vector<uint8_t> header;
        ASSERT_TRUE(m.read(32, header, 10000));
        EXPECT_EQ(header[0], cmd::MEDIA_DATA);
        EXPECT_GT(RawClient::le32(&header[4]), 0xF0000000u);
    }
    {
        InProcessRecorder rec({"--fault-garbage", "300000", "--size", "64x48"});
        RawClient s, m;
        ReplyHeader h = login(s, rec.port());
        ASSERT_TRUE(startMedia(s, m, rec.port(), *h.loginInfo, 0));
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(m.read(300000 + 32, bytes, 10000));   // the garbage, then the stream goes on
    }
}

TEST(RecorderServer, SessionFaultsSilenceCloseAndOversizeTheList)
{
    {
        InProcessRecorder rec({"--fault-keepalive-stop", "0"});
        RawClient s;
        ASSERT_EQ(login(s, rec.port()).status, 0);
        ASSERT_TRUE(s.send(buildKeepalive()));
        EXPECT_FALSE(rec.waitFor({"\"keepalive\"", "\"answered\":false"}).empty());
        EXPECT_TRUE(s.quietFor(300));
    }
    {
        InProcessRecorder rec({"--fault-close-session", "0.2"});
        RawClient s;
        ASSERT_EQ(login(s, rec.port()).status, 0);
        EXPECT_TRUE(s.waitClosed(10000));
    }
    {
        InProcessRecorder rec({"--fault-big-list", "1500000"});
        RawClient s;
        ASSERT_EQ(login(s, rec.port()).status, 0);
        ASSERT_TRUE(s.send(buildListQuery()));
        std::vector<uint8_t> header, payload;
        ASSERT_TRUE(s.readMessage(header, payload, 10000));
        EXPECT_GE(payload.size(), 1500000u);
        EXPECT_EQ(std::string(payload.begin(), payload.begin() + 16), "Gate&&Lobby&&Par");
    }
    {
        InProcessRecorder rec({"--fault-stall-list"});
        RawClient s;
        ASSERT_EQ(login(s, rec.port()).status, 0);
        ASSERT_TRUE(s.send(buildListQuery()));
        std::vector<uint8_t> header, payload;
        ASSERT_TRUE(s.read(32, header, 10000));
        uint32_t n = RawClient::le32(&header[4]);
        ASSERT_TRUE(s.read(n / 2, payload, 10000));
        ASSERT_TRUE(s.send(buildKeepalive()));
        EXPECT_TRUE(s.quietFor(300));
    }
}

}   // namespace
}   // namespace kevra
