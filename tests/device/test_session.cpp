// The control session against the scripted recorder: login requests and every login result,
// camera list results, keepalive timing and the silence loss (manual clock).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "common/Clock.h"
#include "device/DeviceSession.h"
#include "device/support/EventLog.h"
#include "device/support/ScriptedRecorder.h"
#include "device/support/SessionPump.h"

namespace kevra {
namespace {

using Answer = ScriptedRecorder::LoginAnswer;

// Moves the manual clock forward in small steps on its own thread while a test thread sits
// in a blocking reply wait.
class ManualTicker {
public:
    explicit ManualTicker(uint64_t stepMs)
        : thread_([this, stepMs] {
              while (!stop_) {
                  Clock::advance(stepMs);
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          })
    {
    }
    ~ManualTicker() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class Session : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GT(recorder.start(), 0); }
    void TearDown() override { Clock::useReal(); }

    void loginOk(const char* user = "admin", const char* password = "580317")
    {
        session.login("127.0.0.1", recorder.port(), user, password, 10000);
        ASSERT_FALSE(log.logins.empty());
        ASSERT_EQ(log.logins.back().first, 0);
    }
    int keepalives(int conn = 0)
    {
        int n = 0;
        for (const auto& r : recorder.requests(conn))
            n += r.command == RecorderMessages::kKeepalive;
        return n;
    }

    ScriptedRecorder recorder;
    EventLog log;
    DeviceSession session{&log, &log};
};

TEST_F(Session, ShortAndLongLoginRequests)
{
    loginOk("admin", "580317");
    EXPECT_EQ(log.logins.back(), std::make_pair(0, 4));
    EXPECT_TRUE(session.loggedIn());
    std::vector<uint8_t> expected(32, 0);
    expected[0] = 0x0A;
    expected[3] = 0x60;
    expected[24] = 4;
    expected[25] = 1;
    expected[30] = 0xA1;
    expected[31] = 0xAA;
    std::memcpy(&expected[8], "admin", 5);
    std::memcpy(&expected[16], "580317", 6);
    ASSERT_TRUE(recorder.waitRequests(0, 1));
    EXPECT_EQ(recorder.received(0), expected);

    // A second login drops the first connection and uses the long form for a 9-byte name.
    loginOk("operator1", "pw");
    ASSERT_TRUE(recorder.waitClosed(0));
    ASSERT_TRUE(recorder.waitRequests(1, 1));
    auto bytes = recorder.received(1);
    ASSERT_EQ(bytes.size(), 32u + 13);
    EXPECT_EQ(bytes[4], 13);
    EXPECT_EQ(std::string(bytes.begin() + 32, bytes.end()), "operator1&&pw");
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 24),
              std::vector<uint8_t>(16, 0));
    EXPECT_EQ(recorder.requests(1)[0].user, "operator1");
}

TEST_F(Session, EveryRefusalIsReportedAndLeavesTheSessionConnected)
{
    struct Case {
        int outcome, reason, code;
    };
    const Case cases[] = {{1, 0, 0x1002}, {1, 1, 0x1003}, {1, 2, 0x100E}, {1, 3, 0x1005},
                          {1, 4, 0x1006}, {1, 5, 0x1007}, {1, 6, 0x1008}, {1, 7, 0x1009},
                          {1, 9, 4},      {1, -3, 4},     {3, 0, 0x1005}, {2, 0, 0x1001},
                          {-1, 0, 0x1001}};
    for (const Case& c : cases) {
        Answer a;
        a.outcome = c.outcome;
        a.reason = c.reason;
        recorder.answerLogin(a);
        session.login("127.0.0.1", recorder.port(), "admin", "x", 10000);
        ASSERT_FALSE(log.logins.empty());
        EXPECT_EQ(log.logins.back(), std::make_pair(c.code, 0)) << c.outcome << "/" << c.reason;
        EXPECT_FALSE(session.loggedIn());
        EXPECT_TRUE(session.link().isConnected());
    }
    EXPECT_EQ(log.logins.size(), std::size(cases));
}

TEST_F(Session, NegativeChannelCountMeansNoChannels)
{
    Answer a;
    a.channelCount = -128;   // byte 0x80
    recorder.answerLogin(a);
    loginOk();
    EXPECT_EQ(log.logins.back(), std::make_pair(0, 0));
    EXPECT_EQ(session.channelCount(), 0);
    session.openChannel(0, 1);
    EXPECT_EQ(log.channels.back(), std::make_pair(0, 0x1011));
    EXPECT_EQ(recorder.connectionCount(), 1);
}

TEST_F(Session, ConnectionFailuresAndUnsendableLogin)
{
    session.login("no-such-host.invalid", recorder.port(), "admin", "x", 10000);
    EXPECT_EQ(log.logins.back(), std::make_pair(0x100D, 0));

    ScriptedRecorder closed;
    const int port = closed.start();
    ASSERT_GT(port, 0);
    closed.stop();
    session.login("127.0.0.1", port, "admin", "x", 10000);
    EXPECT_EQ(log.logins.back(), std::make_pair(0x100A, 0));
    EXPECT_FALSE(session.link().isConnected());

    // No user name: nothing can be built, so nothing is sent.
    session.login("127.0.0.1", recorder.port(), nullptr, "x", 10000);
    EXPECT_EQ(log.logins.back(), std::make_pair(0x100B, 0));
    EXPECT_FALSE(session.loggedIn());
}

TEST_F(Session, LoginTimesOutOnTheManualClock)
{
    Clock::useManual();
    recorder.answerLogin(std::nullopt);
    ManualTicker ticker(100);
    const uint64_t t0 = Clock::nowMs();
    session.login("127.0.0.1", recorder.port(), "admin", "x", 10000);
    const uint64_t waited = Clock::nowMs() - t0;
    ticker.stop();
    EXPECT_GE(waited, 10000u);
    ASSERT_EQ(log.logins.size(), 1u);
    EXPECT_EQ(log.logins.back(), std::make_pair(0x1004, 0));
    EXPECT_FALSE(session.link().isConnected());
    EXPECT_FALSE(session.loggedIn());
}

TEST_F(Session, CameraListArrivesWholeAndSplit)
{
    session.queryList();
    EXPECT_EQ(log.lists.back().code, 0x1010);

    const std::vector<std::string> names = {"Gate", "\xE5\xA4\xA7\xE9\x97\xA8", "Parking",
                                            std::string(3000, 'x'), "Tom&Jerry"};
    recorder.answerList(RecorderMessages::buildListReply(names));
    loginOk();
    session.queryList();
    ASSERT_EQ(log.lists.size(), 2u);
    EXPECT_EQ(log.lists.back().code, 0);
    EXPECT_EQ(log.lists.back().count, 5);
    EXPECT_EQ(log.lists.back().items, names);
    ASSERT_TRUE(recorder.waitRequests(0, 2));
    std::vector<uint8_t> query(32, 0);
    query[0] = 0xA8;
    query[8] = 1;
    EXPECT_EQ(recorder.requests(0)[1].header, query);
}

TEST_F(Session, ListAboveTheBufferCapIsReportedAsPieces)
{
    recorder.answerList(RecorderMessages::buildListReplyRaw(std::string(1200000, 'n')));
    loginOk();
    session.queryList();
    ASSERT_EQ(log.lists.size(), 1u);
    EXPECT_EQ(log.lists.back().code, 1);
    EXPECT_EQ(log.lists.back().count, 0);
    // The rest of the oversized payload is skipped by its length; the session stays usable.
    ASSERT_TRUE(pumpUntil(session, [&] { return recorder.pendingOut(0) == 0; }));
    pumpFor(session, 50);
    recorder.answerList(RecorderMessages::buildListReply({"A", "B"}));
    session.queryList();
    EXPECT_EQ(log.lists.back().code, 0);
    EXPECT_EQ(log.lists.back().items, (std::vector<std::string>{"A", "B"}));
}

TEST_F(Session, ListTimeOutAndUnsendableQuery)
{
    Clock::useManual();
    loginOk();
    recorder.answerKeepalive(true);
    ManualTicker ticker(50);
    const uint64_t t0 = Clock::nowMs();
    session.queryList();
    const uint64_t waited = Clock::nowMs() - t0;
    ticker.stop();
    EXPECT_GE(waited, 5000u);
    ASSERT_EQ(log.lists.size(), 1u);
    EXPECT_EQ(log.lists.back().code, 3);

    session.link().close();
    session.queryList();
    EXPECT_EQ(log.lists.back().code, 5);
}

TEST_F(Session, FirstKeepaliveAfterTenSecondsAndRepliesKeepItAlive)
{
    Clock::useManual();
    loginOk();
    Clock::advance(10000);
    pumpFor(session, 20);
    EXPECT_EQ(keepalives(), 0);
    Clock::advance(1);
    ASSERT_TRUE(pumpUntil(session, [&] { return keepalives() == 1; }));
    std::vector<uint8_t> keepalive(32, 0);
    keepalive[0] = 0xA1;
    EXPECT_EQ(recorder.requests(0).back().header, keepalive);

    // Two minutes of answered keepalives: one per 10 s, no loss.
    for (int i = 0; i < 12; ++i) {
        Clock::advance(10001);
        ASSERT_TRUE(pumpUntil(session, [&] { return keepalives() == i + 2; }));
        ASSERT_TRUE(recorder.waitSent(0));
        pumpFor(session, 10);
    }
    EXPECT_EQ(log.lost, 0);
    EXPECT_TRUE(session.loggedIn());
}

TEST_F(Session, SilenceOfSixtySecondsLosesTheConnection)
{
    Clock::useManual();
    recorder.answerKeepalive(false);
    recorder.answerLogin(Answer{});
    loginOk();
    session.openChannel(1, 1);
    ASSERT_EQ(log.channels.back(), std::make_pair(1, 0));
    for (int i = 0; i < 5; ++i) {
        Clock::advance(10001);
        pumpFor(session, 5);
    }
    Clock::advance(60000 - 5 * 10001);
    pumpFor(session, 5);
    EXPECT_EQ(log.lost, 0);
    EXPECT_GE(keepalives(), 5);
    Clock::advance(1);
    EXPECT_EQ(session.poll(), 1);
    EXPECT_EQ(log.lost, 1);
    EXPECT_FALSE(session.loggedIn());
    EXPECT_FALSE(session.link().isConnected());
    EXPECT_EQ(session.channel(1), nullptr);
    EXPECT_TRUE(recorder.waitClosed(0));
    EXPECT_TRUE(recorder.waitClosed(recorder.claimedConnection(2)));
}

// A recorder that closes the session (orderly, or by a reset) is noticed on the next polls,
// with the clock standing still: no keepalive or silence limit is needed for it.
TEST_F(Session, AClosedSessionConnectionIsALossAtOnce)
{
    Clock::useManual();
    for (const bool reset : {false, true}) {
        const int conn = recorder.connectionCount();
        const int lostBefore = log.lost;
        loginOk();
        session.openChannel(1, 1);
        ASSERT_EQ(log.channels.back(), std::make_pair(1, 0));
        int media = -1;
        ASSERT_TRUE(
            pumpUntil(session, [&] { return (media = recorder.claimedConnection(2)) > conn; }));
        recorder.closeConnection(conn, reset);
        ASSERT_TRUE(pumpUntil(session, [&] { return log.lost == lostBefore + 1; })) << reset;
        EXPECT_FALSE(session.loggedIn());
        EXPECT_FALSE(session.link().isConnected());
        EXPECT_TRUE(recorder.waitClosed(media));
        EXPECT_TRUE(log.closedChannels.empty());   // the loss covers the channels
        pumpFor(session, 10);
        EXPECT_EQ(log.lost, lostBefore + 1) << "reported once";
    }
}

// Without a login there is nothing to lose: a close after a refusal only ends the link, and a
// close while the login waits for its reply fails the login at once, not at its time limit.
TEST_F(Session, AClosedConnectionBeforeTheLoginIsNoLoss)
{
    Clock::useManual();
    Answer refused;
    refused.outcome = 1;
    recorder.answerLogin(refused);
    session.login("127.0.0.1", recorder.port(), "admin", "x", 10000);
    ASSERT_EQ(log.logins.back().first, 0x1002);
    recorder.closeConnection(0);
    ASSERT_TRUE(pumpUntil(session, [&] { return !session.link().isConnected(); }));
    EXPECT_EQ(log.lost, 0);

    recorder.answerLogin(std::nullopt);
    std::atomic<bool> done{false};
    std::thread closer([&] {
        if (recorder.waitRequests(1, 1))
            recorder.closeConnection(1);
        // A wait that missed the close would otherwise block until the manual limit passes.
        for (int i = 0; i < 500 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done)
            Clock::advance(20000);
    });
    const uint64_t t0 = Clock::nowMs();
    session.login("127.0.0.1", recorder.port(), "admin", "x", 10000);
    done = true;
    closer.join();
    EXPECT_EQ(Clock::nowMs(), t0);
    EXPECT_EQ(log.logins.back(), std::make_pair(0x1004, 0));
    EXPECT_FALSE(session.loggedIn());
    EXPECT_EQ(log.lost, 0);
}

TEST_F(Session, GarbageFromTheRecorderCostsAtMostTheSession)
{
    Clock::useManual();
    loginOk();
    std::vector<uint8_t> garbage(300000);
    uint32_t x = 12345;
    for (auto& b : garbage) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 16);
    }
    recorder.answerKeepalive(false);
    recorder.send(0, garbage);
    ASSERT_TRUE(pumpUntil(
        session, [&] { return recorder.pendingOut(0) == 0; }, 10000));
    pumpFor(session, 50);
    EXPECT_LE(session.bufferCapacity(), 1048576u);
    Clock::advance(60001);
    pumpFor(session, 3);
    EXPECT_EQ(log.lost, 1);
    // And the next login works again.
    recorder.answerKeepalive(true);
    Clock::useReal();
    loginOk();
}

}   // namespace
}   // namespace kevra
