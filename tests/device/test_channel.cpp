// Media channels against the scripted recorder: claim once, restart on a second open, range
// and login checks, claim and start failures, media delivery and dropping, PTZ, throughput.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "device/DeviceSession.h"
#include "device/support/EventLog.h"
#include "device/support/ScriptedRecorder.h"
#include "device/support/SessionPump.h"

namespace kevra {
namespace {

using Order = RecorderMessages::StreamOrder;

class Channels : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(recorder.start(), 0);
        ScriptedRecorder::LoginAnswer a;
        a.channelCount = 20;
        a.sessionId = {0xCA, 0xFE, 0x01, 0x02};
        recorder.answerLogin(a);
        session.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
        ASSERT_EQ(log.logins.back(), std::make_pair(0, 20));
    }
    // STREAM_CONTROL orders the session connection carried, in order.
    std::vector<Order> orders()
    {
        std::vector<Order> all;
        for (const auto& r : recorder.requests(0))
            if (r.command == RecorderMessages::kStreamControl)
                all.insert(all.end(), r.streams.begin(), r.streams.end());
        return all;
    }
    int mediaConnection(int channel)
    {
        int conn = -1;
        pumpUntil(session, [&] { return (conn = recorder.claimedConnection(channel + 1)) >= 0; });
        return conn;
    }
    void sendMedia(int conn, size_t length, uint8_t fill)
    {
        std::vector<uint8_t> payload(length, fill);
        recorder.send(conn, RecorderMessages::buildMediaData(payload.data(), payload.size()));
    }
    size_t mediaBytes()
    {
        return log.read([&] { return log.media.size(); });
    }

    ScriptedRecorder recorder;
    EventLog log;
    DeviceSession session{&log, &log};
};

TEST_F(Channels, SecondOpenClaimsOnceAndRestartsTheStream)
{
    session.openChannel(2, 1);
    EXPECT_EQ(log.channels.back(), std::make_pair(2, 0));
    const int conn = mediaConnection(2);
    ASSERT_GE(conn, 0);
    std::vector<uint8_t> claim(32, 0);
    claim[0] = 0xF1;
    claim[8] = 0xCA;
    claim[9] = 0xFE;
    claim[10] = 0x01;
    claim[11] = 0x02;
    claim[12] = 1;
    claim[13] = 3;
    ASSERT_TRUE(recorder.waitRequests(conn, 1));
    EXPECT_EQ(recorder.received(conn), claim);

    ASSERT_TRUE(recorder.waitRequests(0, 2));
    std::vector<uint8_t> start(48, 0);
    start[0] = 0x11;
    start[4] = 16;
    start[10] = 1;
    start[34] = 1;
    const auto sessionBytes = recorder.received(0);
    EXPECT_EQ(std::vector<uint8_t>(sessionBytes.begin() + 32, sessionBytes.end()), start);

    session.openChannel(2, 2);
    EXPECT_EQ(log.channels.back(), std::make_pair(2, 0));
    ASSERT_TRUE(recorder.waitRequests(0, 4));
    EXPECT_EQ(orders(), (std::vector<Order>{{2, 1, 1}, {2, 1, 0}, {2, 2, 1}}));
    EXPECT_EQ(recorder.connectionCount(), 2);   // no second claim
    EXPECT_EQ(recorder.requests(conn).size(), 1u);
}

TEST_F(Channels, ChannelsAbove15UseTheTextForm)
{
    session.openChannel(16, 1);
    ASSERT_TRUE(recorder.waitRequests(0, 2));
    const auto r = recorder.requests(0)[1];
    EXPECT_TRUE(r.textForm);
    EXPECT_EQ(std::string(r.payload.begin(), r.payload.end()),
              "ChannelName:16\r\nStream:1\r\nOperate:1\r\nProtocol:tcp\r\n\r\n");
    EXPECT_EQ(recorder.requests(mediaConnection(16))[0].claimChannel, 17);
}

TEST_F(Channels, RangeLoginClaimAndStartFailures)
{
    session.openChannel(20, 1);
    EXPECT_EQ(log.channels.back(), std::make_pair(20, 0x1011));
    session.openChannel(-1, 1);
    EXPECT_EQ(log.channels.back(), std::make_pair(-1, 0x1011));
    EXPECT_EQ(recorder.connectionCount(), 1);

    DeviceSession idle(&log, &log);
    idle.openChannel(0, 1);
    EXPECT_EQ(log.channels.back(), std::make_pair(0, 0x1010));

    recorder.stopListening();
    session.openChannel(3, 1);
    EXPECT_EQ(log.channels.back(), std::make_pair(3, 0x100C));
    ASSERT_NE(session.channel(3), nullptr);   // the object stays in its slot
    EXPECT_FALSE(session.channel(3)->link().isConnected());

    // The start request cannot go out when the session link is down.
    ScriptedRecorder other;
    ASSERT_GT(other.start(), 0);
    DeviceSession second(&log, &log);
    second.login("127.0.0.1", other.port(), "admin", "x", 10000);
    ASSERT_EQ(log.logins.back().first, 0);
    second.link().close();
    second.openChannel(0, 1);
    EXPECT_EQ(log.channels.back(), std::make_pair(0, 5));
    ASSERT_NE(second.channel(0), nullptr);
    EXPECT_FALSE(second.channel(0)->streaming());
}

TEST_F(Channels, MediaIsDeliveredWhileStreamingAndDroppedAfterStop)
{
    session.openChannel(0, 1);
    const int conn = mediaConnection(0);
    ASSERT_GE(conn, 0);
    sendMedia(conn, 0, 0);   // no call for an empty payload
    sendMedia(conn, 100, 0xAA);
    recorder.send(conn, RecorderMessages::buildListReply({"not", "media"}));   // ignored
    sendMedia(conn, 20000, 0xBB);   // grows the 10,240-byte buffer and arrives whole
    ASSERT_TRUE(pumpUntil(session, [&] { return mediaBytes() >= 20100; }));
    EXPECT_EQ(log.mediaPieces, (std::vector<std::pair<int, int>>{{0, 100}, {0, 20000}}));
    EXPECT_EQ(session.channel(0)->bufferCapacity(), 21024u);

    session.stopChannel(0);
    EXPECT_FALSE(session.channel(0)->streaming());
    EXPECT_EQ(session.channel(0)->bufferCapacity(), 32u);
    sendMedia(conn, 500, 0xCC);
    ASSERT_TRUE(pumpUntil(session, [&] { return recorder.pendingOut(conn) == 0; }));
    pumpFor(session, 50);
    EXPECT_EQ(mediaBytes(), 20100u);
    EXPECT_TRUE(session.channel(0)->link().isConnected());
    ASSERT_TRUE(recorder.waitRequests(0, 3));
    EXPECT_EQ(orders(), (std::vector<Order>{{0, 1, 1}, {0, 1, 0}}));

    // Stop on an empty slot or outside the table does nothing.
    session.stopChannel(5);
    session.stopChannel(99);
    pumpFor(session, 5);
    EXPECT_EQ(orders().size(), 2u);
}

TEST_F(Channels, PtzGoesOutOnlyForAnOpenChannel)
{
    session.sendPtz(1, 0, 0);
    session.openChannel(1, 1);
    for (int k = 0; k <= 9; ++k)
        session.sendPtz(1, k, 0);
    session.sendPtz(1, 12, 0);
    session.sendPtz(25, 0, 0);
    ASSERT_TRUE(recorder.waitRequests(0, 2 + 11));
    pumpFor(session, 20);
    std::vector<int> actions;
    for (const auto& r : recorder.requests(0))
        if (r.command == RecorderMessages::kPtzControl) {
            EXPECT_EQ(r.ptzChannel, 1);
            actions.push_back(r.ptzAction);
        }
    EXPECT_EQ(actions, (std::vector<int>{0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 0}));
    std::vector<uint8_t> focusIn(32, 0);
    focusIn[0] = 0x12;
    focusIn[9] = 1;
    focusIn[10] = 7;
    focusIn[12] = 3;
    EXPECT_EQ(recorder.requests(0)[2 + 6].header, focusIn);
}

TEST_F(Channels, ASecondLoginClosesEveryChannel)
{
    session.openChannel(4, 1);
    const int conn = mediaConnection(4);
    ASSERT_GE(conn, 0);
    session.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
    EXPECT_EQ(log.logins.back(), std::make_pair(0, 20));
    EXPECT_TRUE(recorder.waitClosed(0));
    EXPECT_TRUE(recorder.waitClosed(conn));
    EXPECT_EQ(session.channel(4), nullptr);
}

// The recorder ends one media connection (orderly, then by a reset) while the session stays:
// the channel is reported closed once, and opening it again claims a new connection.
TEST_F(Channels, AClosedMediaConnectionIsReportedAndTheChannelReopens)
{
    session.openChannel(2, 1);
    int conn = mediaConnection(2);
    ASSERT_GE(conn, 0);
    for (const bool reset : {false, true}) {
        sendMedia(conn, 100, 0xAA);
        ASSERT_TRUE(pumpUntil(session, [&] { return mediaBytes() == (reset ? 200u : 100u); }));
        const size_t closedBefore = log.closedChannels.size();
        recorder.closeConnection(conn, reset);
        ASSERT_TRUE(pumpUntil(session, [&] { return log.closedChannels.size() > closedBefore; }));
        pumpFor(session, 10);
        EXPECT_EQ(log.closedChannels, std::vector<int>(closedBefore + 1, 2)) << reset;
        EXPECT_TRUE(session.loggedIn());
        EXPECT_EQ(log.lost, 0);
        ASSERT_NE(session.channel(2), nullptr);
        EXPECT_FALSE(session.channel(2)->streaming());
        EXPECT_FALSE(session.channel(2)->link().isConnected());

        session.openChannel(2, 1);
        EXPECT_EQ(log.channels.back(), std::make_pair(2, 0));
        int next = -1;
        ASSERT_TRUE(
            pumpUntil(session, [&] { return (next = recorder.claimedConnection(3)) > conn; }));
        conn = next;
    }
    // Only starts went out: a closed stream is not stopped again.
    ASSERT_TRUE(recorder.waitRequests(0, 4));
    EXPECT_EQ(orders(), (std::vector<Order>{{2, 1, 1}, {2, 1, 1}, {2, 1, 1}}));
    sendMedia(conn, 300, 0xBB);
    ASSERT_TRUE(pumpUntil(session, [&] { return mediaBytes() == 500; }));
}

// One receive per connection every 10 ms, as the network worker paces it: with the platform's
// default receive buffer a media channel takes well over 2 MB/s.
TEST_F(Channels, MediaChannelSustainsTwoMegabytesPerSecondAtTheWorkerPace)
{
    session.openChannel(0, 1);
    const int conn = mediaConnection(0);
    ASSERT_GE(conn, 0);
    const size_t message = 256 * 1024;
    const size_t total = 16 * message;   // 4 MiB
    for (size_t i = 0; i < total / message; ++i)
        sendMedia(conn, message, static_cast<uint8_t>(i));
    int steps = 0;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(pumpUntil(
        session,
        [&] {
            ++steps;
            return mediaBytes() >= total;
        },
        60000, 10));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double pacedRate = double(total) / (steps * 0.010);
    std::printf("media channel: %zu bytes in %d paced steps (%.1f MB/s at 10 ms per step), "
                "%.1f MB/s wall clock\n",
                total, steps, pacedRate / 1e6, total / wall / 1e6);
    EXPECT_GE(pacedRate, 2e6);
    EXPECT_EQ(mediaBytes(), total);
}

}   // namespace
}   // namespace kevra
