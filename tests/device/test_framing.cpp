// The framing receiver over a real loopback socket: headers arriving byte by byte, payloads
// whole and in pieces, announced lengths far beyond the buffer cap, buffer swaps mid-payload.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "device/MessageConnection.h"
#include "device/support/ScriptedRecorder.h"

namespace kevra {
namespace {

class RecordingConnection : public MessageConnection {
public:
    RecordingConnection() : MessageConnection(7) {}
    void onHeader(const ReplyHeader& h) override { headers.push_back(h); }
    void onPayload(int command, const uint8_t* bytes, int length) override
    {
        pieces.push_back(length);
        commands.push_back(command);
        data.insert(data.end(), bytes, bytes + length);
    }
    std::vector<ReplyHeader> headers;
    std::vector<int> pieces;
    std::vector<int> commands;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> pattern(size_t n, uint8_t seed = 1)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
    return v;
}

class Framing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(recorder.start(), 0);
        ASSERT_EQ(conn.connect("127.0.0.1", recorder.port()), 0);
        ASSERT_TRUE(recorder.waitConnections(1));
    }
    // Polls until the delivered payload bytes reach total (real-time limit).
    bool pollUntil(size_t total, int timeoutMs = 10000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (conn.data.size() < total) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            if (conn.poll() != MessageConnection::kIdle)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }
    void sendMedia(const std::vector<uint8_t>& payload)
    {
        recorder.send(0, RecorderMessages::buildMediaData(payload.data(), payload.size()));
    }

    ScriptedRecorder recorder;
    RecordingConnection conn;
};

TEST_F(Framing, FreshConnectionStartsWithGrowable32ByteBuffer)
{
    EXPECT_EQ(conn.bufferCapacity(), 32u);
    EXPECT_TRUE(conn.mayGrow());
    EXPECT_EQ(conn.identity(), 7);
    RecordingConnection unconnected;
    EXPECT_EQ(unconnected.poll(), MessageConnection::kNotConnected);
    const uint8_t b = 1;
    EXPECT_EQ(unconnected.sendAll(&b, 1), MessageConnection::kNotConnected);
    EXPECT_EQ(conn.sendAll(nullptr, 4), MessageConnection::kSendBadArgs);
    EXPECT_EQ(conn.sendAll(&b, 0), MessageConnection::kSendBadArgs);
}

TEST_F(Framing, HeaderOneBytePerPollIsParsedAtTheThirtySecondByte)
{
    auto header = RecorderMessages::buildHeader(0xB1, 0);
    for (size_t i = 0; i < header.size(); ++i) {
        recorder.send(0, {header[i]});
        ASSERT_TRUE(recorder.waitSent(0));
        for (int k = 0; k < 3; ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            conn.poll();
        }
        ASSERT_EQ(conn.headers.size(), i == 31 ? 1u : 0u) << "after byte " << i;
    }
    EXPECT_EQ(conn.headers[0].command, 0xB1);
    EXPECT_TRUE(conn.pieces.empty());   // a zero-length payload gives no call
}

TEST_F(Framing, LargePayloadGrowsTheBufferAndArrivesWhole)
{
    conn.setBuffer(10240, true);
    const auto payload = pattern(70000);
    sendMedia(payload);
    ASSERT_TRUE(pollUntil(payload.size()));
    EXPECT_EQ(conn.pieces, std::vector<int>{70000});
    EXPECT_EQ(conn.bufferCapacity(), 71024u);
    EXPECT_EQ(conn.data, payload);
    EXPECT_EQ(conn.commands[0], 0xBC);
}

TEST_F(Framing, WithoutGrowingPayloadArrivesInBufferSizedPieces)
{
    conn.setBuffer(10240, false);
    const auto payload = pattern(70000, 5);
    sendMedia(payload);
    ASSERT_TRUE(pollUntil(payload.size()));
    EXPECT_EQ(conn.pieces, (std::vector<int>{10240, 10240, 10240, 10240, 10240, 10240, 8560}));
    EXPECT_EQ(conn.data, payload);
    EXPECT_EQ(conn.bufferCapacity(), 10240u);
}

TEST_F(Framing, PayloadAboveTheCapArrivesInCapSizedPieces)
{
    conn.setBuffer(10240, true);
    const auto big = pattern(1200000, 9);
    const auto whole = pattern(1048576, 3);
    sendMedia(big);
    sendMedia(whole);
    ASSERT_TRUE(pollUntil(big.size() + whole.size(), 20000));
    EXPECT_EQ(conn.pieces, (std::vector<int>{1048576, 1200000 - 1048576, 1048576}));
    EXPECT_EQ(conn.bufferCapacity(), 1048576u);
    std::vector<uint8_t> expected = big;
    expected.insert(expected.end(), whole.begin(), whole.end());
    EXPECT_EQ(conn.data, expected);
}

TEST_F(Framing, FourGigabyteAnnouncementNeverAllocatesBeyondTheCap)
{
    conn.setBuffer(32, true);
    recorder.send(0, RecorderMessages::buildHeader(0xBC, 0xFFFFFFFFu));
    const auto garbage = pattern(3 * 1048576 + 100, 7);
    recorder.send(0, garbage);
    ASSERT_TRUE(pollUntil(3 * 1048576, 20000));
    EXPECT_EQ(conn.bufferCapacity(), 1048576u);
    EXPECT_EQ(conn.pieces, (std::vector<int>{1048576, 1048576, 1048576}));
    ASSERT_EQ(conn.headers.size(), 1u);
    EXPECT_EQ(conn.headers[0].payloadLength, 0xFFFFFFFFu);
}

TEST_F(Framing, SetBufferMidPayloadHandsOnTheHeldBytesFirst)
{
    conn.setBuffer(10240, false);
    const auto payload = pattern(20000, 11);
    auto message = RecorderMessages::buildMediaData(payload.data(), payload.size());
    recorder.send(0, std::vector<uint8_t>(message.begin(), message.begin() + 32 + 5000));
    ASSERT_TRUE(recorder.waitSent(0));
    for (int k = 0; k < 20; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        conn.poll();
    }
    ASSERT_TRUE(conn.pieces.empty());   // 5,000 bytes held, the piece is 10,240
    conn.setBuffer(4000, false);
    EXPECT_EQ(conn.pieces, std::vector<int>{5000});
    EXPECT_EQ(conn.bufferCapacity(), 4000u);
    recorder.send(0, std::vector<uint8_t>(message.begin() + 32 + 5000, message.end()));
    ASSERT_TRUE(pollUntil(payload.size()));
    EXPECT_EQ(conn.pieces, (std::vector<int>{5000, 4000, 4000, 4000, 3000}));
    EXPECT_EQ(conn.data, payload);
    // Odd sizes are rounded as the buffer rule says: 33 -> 34, below 32 -> 32.
    conn.setBuffer(33, false);
    EXPECT_EQ(conn.bufferCapacity(), 34u);
    conn.setBuffer(1, true);
    EXPECT_EQ(conn.bufferCapacity(), 32u);
}

TEST_F(Framing, SetBufferMidHeaderKeepsTheFraming)
{
    const auto payload = pattern(300, 13);
    auto message = RecorderMessages::buildMediaData(payload.data(), payload.size());
    recorder.send(0, std::vector<uint8_t>(message.begin(), message.begin() + 20));
    ASSERT_TRUE(recorder.waitSent(0));
    for (int k = 0; k < 10; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        conn.poll();
    }
    conn.setBuffer(10240, true);
    recorder.send(0, std::vector<uint8_t>(message.begin() + 20, message.end()));
    ASSERT_TRUE(pollUntil(payload.size()));
    ASSERT_EQ(conn.headers.size(), 1u);
    EXPECT_EQ(conn.headers[0].command, 0xBC);
    EXPECT_EQ(conn.headers[0].payloadLength, 300u);
    EXPECT_EQ(conn.data, payload);
}

TEST_F(Framing, PeerCloseIsReportedOnEveryPollUntilClosed)
{
    recorder.closeConnection(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(conn.poll(), MessageConnection::kClosed);
    EXPECT_EQ(conn.poll(), MessageConnection::kClosed);
    EXPECT_TRUE(conn.link().broken());
    EXPECT_TRUE(conn.link().isConnected());
    conn.close();
    EXPECT_FALSE(conn.link().broken());
    EXPECT_FALSE(conn.link().isConnected());
    EXPECT_EQ(conn.poll(), MessageConnection::kNotConnected);
}

TEST(TcpLinkConnect, UnresolvableRefusedAndDotted)
{
    TcpLink link;
    EXPECT_EQ(link.connect("no-such-host.invalid", 80, 5000), TcpLink::kUnresolved);
    EXPECT_FALSE(link.isConnected());
    EXPECT_EQ(link.receiveBufferSize(), 0);   // platform default unless told otherwise

    ScriptedRecorder recorder;
    const int port = recorder.start();
    ASSERT_GT(port, 0);
    recorder.stop();   // nothing listens there now
    EXPECT_EQ(link.connect("127.0.0.1", port, 5000), TcpLink::kFailed);
    EXPECT_FALSE(link.isConnected());

    ScriptedRecorder live;
    ASSERT_GT(live.start(), 0);
    link.setReceiveBufferSize(4096);
    // A port beyond 16 bits never reaches the one it would wrap around to.
    for (int wrong : {live.port() + 65536, 0, -1}) {
        EXPECT_EQ(link.connect("127.0.0.1", wrong, 5000), TcpLink::kFailed) << wrong;
        EXPECT_EQ(link.connectError(), EINVAL);
        EXPECT_FALSE(link.isConnected());
    }
    EXPECT_GE(link.connect("127.0.0.1", live.port(), 5000), 0);
    EXPECT_TRUE(link.isConnected());
    uint8_t buffer[8];
    EXPECT_EQ(link.receive(buffer, sizeof buffer), 0);   // nothing waiting: no wait either
    link.close();
    EXPECT_FALSE(link.isConnected());
    EXPECT_LT(link.send(buffer, 1), 0);
}

}   // namespace
}   // namespace kevra
