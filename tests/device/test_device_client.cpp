// The device client's request queue and network worker against the scripted recorder: burst
// order, requests held behind a login wait, several channels each streaming to its own sink,
// stopping a channel at the recorder and reopening it on its claimed connection, a failed open.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "device/DeviceClient.h"
#include "device/support/EventLog.h"
#include "device/support/ScriptedRecorder.h"

namespace kevra {
namespace {

class Client : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(recorder.start(), 0);
        client.setSink(&sink);
    }
    void loginOk()
    {
        client.logout();
        client.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
        ASSERT_TRUE(sink.waitFor([&] { return !sink.logins.empty(); }));
        ASSERT_EQ(sink.logins.back(), std::make_pair(0, 4));
    }
    bool waitChannelResult(size_t count)
    {
        return sink.waitFor([&] { return sink.channels.size() >= count; });
    }
    int mediaConnection(int channel)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int conn = -1;
        while ((conn = recorder.claimedConnection(channel + 1)) < 0 &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return conn;
    }
    void sendMedia(int conn, size_t length, uint8_t fill)
    {
        std::vector<uint8_t> payload(length, fill);
        recorder.send(conn, RecorderMessages::buildMediaData(payload.data(), payload.size()));
    }
    std::vector<int> commands(int conn)
    {
        std::vector<int> all;
        for (const auto& r : recorder.requests(conn))
            all.push_back(r.command);
        return all;
    }
    // STREAM_CONTROL orders the session connection carried, as "channel:stream:operate".
    std::vector<std::string> streamOrders(int conn)
    {
        std::vector<std::string> all;
        for (const auto& r : recorder.requests(conn))
            for (const auto& o : r.streams)
                all.push_back(std::to_string(o.channel) + ":" + std::to_string(o.stream) + ":" +
                              std::to_string(o.operate));
        return all;
    }

    ScriptedRecorder recorder;
    EventLog sink;
    EventLog first, second;   // two channels' media sinks
    DeviceClient client;
};

TEST_F(Client, BurstRunsInPostingOrder)
{
    recorder.answerList(RecorderMessages::buildListReply({"Gate", "Lobby"}));
    client.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
    client.logout();
    client.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
    client.queryList();
    ASSERT_TRUE(sink.waitFor([&] { return sink.lists.size() == 1; }));
    EXPECT_EQ(sink.read([&] { return sink.order; }),
              (std::vector<std::string>{"login", "login", "list"}));
    EXPECT_EQ(sink.lists[0].items, (std::vector<std::string>{"Gate", "Lobby"}));
    EXPECT_TRUE(recorder.waitClosed(0));   // the logout ended the first connection
    EXPECT_EQ(commands(1), (std::vector<int>{0x0A, 0xA8}));
}

TEST_F(Client, RequestsWaitBehindALoginWait)
{
    recorder.answerLogin(std::nullopt);
    client.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
    ASSERT_TRUE(recorder.waitRequests(0, 1));
    client.openChannel(0, 1, &first);
    client.ptz(0, 2, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(commands(0), std::vector<int>{0x0A});
    EXPECT_EQ(recorder.connectionCount(), 1);

    recorder.send(0, RecorderMessages::buildLoginReply(0, 0, 4, {1, 2, 3, 4}));
    ASSERT_TRUE(recorder.waitRequests(0, 3));
    EXPECT_EQ(commands(0), (std::vector<int>{0x0A, 0x11, 0x12}));
    EXPECT_EQ(recorder.requests(0)[2].ptzAction, 2);
    EXPECT_EQ(sink.read([&] { return sink.order; }),
              (std::vector<std::string>{"login", "channel"}));
}

TEST_F(Client, ChannelsStreamToTheirOwnSinksAndAStoppedSinkHearsNothingMore)
{
    loginOk();
    client.openChannel(0, 1, &first);
    client.openChannel(1, 2, &second);
    ASSERT_TRUE(waitChannelResult(2));
    EXPECT_EQ(sink.channels, (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}}));
    const int conn0 = mediaConnection(0), conn1 = mediaConnection(1);
    ASSERT_GE(conn0, 0);
    ASSERT_GE(conn1, 0);
    sendMedia(conn0, 1000, 0x10);
    sendMedia(conn1, 500, 0x20);
    ASSERT_TRUE(first.waitFor([&] { return first.media.size() == 1000; }));
    ASSERT_TRUE(second.waitFor([&] { return second.media.size() == 500; }));
    EXPECT_EQ(first.streams, std::vector<std::string>{"start 0"});
    EXPECT_EQ(second.mediaPieces, (std::vector<std::pair<int, int>>{{1, 500}}));

    // Stopping channel 0: its sink is silent from the return on, and the recorder is told
    // to stop the stream that was started (stream 1), on the session connection.
    client.stopChannel(0);
    EXPECT_FALSE(client.hasMediaSink(0));
    sendMedia(conn0, 700, 0x11);
    ASSERT_TRUE(recorder.waitRequests(0, 4));   // login, start, start, stop
    EXPECT_EQ(streamOrders(0), (std::vector<std::string>{"0:1:1", "1:2:1", "0:1:0"}));
    sendMedia(conn1, 300, 0x21);
    ASSERT_TRUE(second.waitFor([&] { return second.media.size() == 800; }));
    EXPECT_EQ(first.read([&] { return first.media.size(); }), 1000u);

    // Reopening channel 0 reuses its claimed media connection: no new connection, no new claim.
    const int connections = recorder.connectionCount();
    client.openChannel(0, 1, &first);
    ASSERT_TRUE(waitChannelResult(3));
    EXPECT_EQ(recorder.connectionCount(), connections);
    sendMedia(conn0, 200, 0x12);
    // (Bytes of the stopped stream still unread when it restarts cannot be told apart from the
    // new stream's; only the new bytes are counted.)
    ASSERT_TRUE(first.waitFor(
        [&] { return std::count(first.media.begin(), first.media.end(), 0x12) == 200; }));

    // Logout ends both streams; each sink hears it.
    client.logout();
    ASSERT_TRUE(first.waitFor([&] { return first.streams.size() == 3; }));
    ASSERT_TRUE(second.waitFor([&] { return second.streams.size() == 2; }));
    EXPECT_EQ(first.streams, (std::vector<std::string>{"start 0", "start 0", "stop 0"}));
    EXPECT_EQ(second.streams, (std::vector<std::string>{"start 1", "stop 1"}));
}

TEST_F(Client, FailedOpenStartsNoStream)
{
    loginOk();
    client.openChannel(4, 1, &first);   // outside the 4-channel table
    ASSERT_TRUE(waitChannelResult(1));
    EXPECT_EQ(sink.channels.back(), std::make_pair(4, 0x1011));
    EXPECT_TRUE(first.read([&] { return first.streams.empty(); }));
}

TEST_F(Client, OpenBeforeLogin)
{
    client.openChannel(0, 1, &first);
    ASSERT_TRUE(waitChannelResult(1));
    EXPECT_EQ(sink.channels.back(), std::make_pair(0, 0x1010));
    EXPECT_TRUE(first.read([&] { return first.streams.empty(); }));
}

}   // namespace
}   // namespace kevra

namespace {
// A sink whose list call takes a while, so the test can clear the sink while it runs.
struct SlowSink : kevra::DeviceEvents {
    std::atomic<bool> inCall{false};
    std::atomic<bool> finished{false};
    void onLogin(int, int, int) override
    {
        inCall = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        finished = true;
    }
    void onList(int, const uint8_t*, int, int) override {}
    void onChannel(int, int) override {}
    void onConnectionLost() override {}
};
}   // namespace

TEST(ClientSink, ClearingTheSinkWaitsForACallAlreadyUnderWay)
{
    kevra::DeviceClient client;
    SlowSink sink;
    client.setSink(&sink);
    // Nothing listens on port 1, so the login fails at once and reports through the sink.
    client.login("127.0.0.1", 1, "admin", "580317", 1000);
    for (int i = 0; i < 500 && !sink.inCall; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(sink.inCall.load());
    client.setSink(nullptr);
    EXPECT_TRUE(sink.finished.load());   // the old sink is no longer in use once setSink returns
}

namespace {
// A media sink whose calls take a while, so the test can stop the channel while one runs.
struct SlowMedia : kevra::MediaSink {
    std::atomic<int> inCall{0};
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> calledAfterStop{false};
    void onStreamStarted(int) override {}
    void onMediaBytes(int, const uint8_t*, int) override
    {
        inCall = 1;
        calls++;
        if (stopped)
            calledAfterStop = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        inCall = 0;
    }
    void onStreamStopped(int) override {}
};
}   // namespace

TEST(ClientSink, StopChannelWaitsForAMediaCallUnderWay)
{
    kevra::ScriptedRecorder recorder;
    ASSERT_GT(recorder.start(), 0);
    kevra::EventLog events;
    SlowMedia media;
    kevra::DeviceClient client;
    client.setSink(&events);
    client.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
    client.openChannel(2, 1, &media);
    ASSERT_TRUE(events.waitFor([&] { return !events.channels.empty(); }));
    int conn = -1;
    for (int i = 0; i < 500 && (conn = recorder.claimedConnection(3)) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(conn, 0);
    for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> payload(100, uint8_t(i));
        recorder.send(conn,
                      kevra::RecorderMessages::buildMediaData(payload.data(), payload.size()));
    }
    for (int i = 0; i < 500 && !media.inCall; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(media.inCall.load());
    client.stopChannel(2);
    EXPECT_EQ(media.inCall.load(), 0);   // the call under way has returned
    media.stopped = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(media.calledAfterStop.load());
    EXPECT_LT(media.calls.load(), 20);
}
