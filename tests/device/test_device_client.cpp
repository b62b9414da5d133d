// The device client's request queue and network worker against the scripted recorder: burst
// order, requests held behind a login wait, media of the old channel dropped during a switch,
// a failed open.
#include <gtest/gtest.h>

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
        client.setMediaObserver(&decoded);
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

    ScriptedRecorder recorder;
    EventLog sink;
    EventLog decoded;  // what reached the decoder's input queue
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
    EXPECT_TRUE(recorder.waitClosed(0));  // the logout ended the first connection
    EXPECT_EQ(commands(1), (std::vector<int>{0x0A, 0xA8}));
}

TEST_F(Client, RequestsWaitBehindALoginWait)
{
    recorder.answerLogin(std::nullopt);
    client.login("127.0.0.1", recorder.port(), "admin", "580317", 10000);
    ASSERT_TRUE(recorder.waitRequests(0, 1));
    client.openChannel(0, 1);
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

TEST_F(Client, SwitchingChannelsDropsTheOldChannelsMedia)
{
    loginOk();
    client.openChannel(0, 1);
    ASSERT_TRUE(waitChannelResult(1));
    EXPECT_EQ(sink.channels.back(), std::make_pair(0, 0));
    EXPECT_EQ(client.currentChannel(), 0);
    EXPECT_TRUE(client.decoder().running());
    const int first = mediaConnection(0);
    ASSERT_GE(first, 0);
    sendMedia(first, 1000, 0x10);
    ASSERT_TRUE(decoded.waitFor([&] { return decoded.media.size() == 1000; }));

    client.openChannel(1, 1);
    EXPECT_NE(client.currentChannel(), 0);  // -1 until channel 1 reports success
    sendMedia(first, 700, 0x11);            // channel 0 still streams, but is not shown
    ASSERT_TRUE(waitChannelResult(2));
    EXPECT_EQ(sink.channels.back(), std::make_pair(1, 0));
    EXPECT_EQ(client.currentChannel(), 1);
    const int second = mediaConnection(1);
    ASSERT_GE(second, 0);
    sendMedia(first, 300, 0x12);
    ASSERT_TRUE(recorder.waitSent(first));
    sendMedia(second, 500, 0x20);
    ASSERT_TRUE(decoded.waitFor([&] { return decoded.media.size() == 1500; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    decoded.read([&] {
        EXPECT_EQ(decoded.media.size(), 1500u);
        EXPECT_EQ(decoded.mediaPieces,
                  (std::vector<std::pair<int, int>>{{0, 1000}, {1, 500}}));
        EXPECT_EQ(decoded.media.back(), 0x20);
        return 0;
    });
}

TEST_F(Client, FailedOpenLeavesNoChannelShown)
{
    loginOk();
    client.openChannel(2, 1);
    ASSERT_TRUE(waitChannelResult(1));
    ASSERT_EQ(client.currentChannel(), 2);
    client.openChannel(4, 1);  // outside the 4-channel table
    ASSERT_TRUE(waitChannelResult(2));
    EXPECT_EQ(sink.channels.back(), std::make_pair(4, 0x1011));
    EXPECT_EQ(client.currentChannel(), -1);
    EXPECT_FALSE(client.decoder().running());
}

TEST_F(Client, OpenBeforeLoginAndTheProgramsOneInstance)
{
    EXPECT_EQ(&DeviceClient::instance(), &DeviceClient::instance());
    client.openChannel(0, 1);
    ASSERT_TRUE(waitChannelResult(1));
    EXPECT_EQ(sink.channels.back(), std::make_pair(0, 0x1010));
    EXPECT_EQ(client.currentChannel(), -1);
}

} // namespace
} // namespace kevra

namespace {
// A sink whose list call takes a while, so the test can clear the sink while it runs.
struct SlowSink : kevra::DeviceEvents {
    std::atomic<bool> inCall{false};
    std::atomic<bool> finished{false};
    void onLogin(int, int) override
    {
        inCall = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        finished = true;
    }
    void onList(int, const uint8_t*, int, int) override {}
    void onMedia(int, const uint8_t*, int) override {}
    void onChannel(int, int) override {}
    void onConnectionLost() override {}
};
} // namespace

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
    EXPECT_TRUE(sink.finished.load()); // the old sink is no longer in use once setSink returns
}
