// Request layouts byte for byte, reply-header decoding and the camera name-list split.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/Messages.h"
#include "testkit/RecorderMessages.h"

namespace kevra {
namespace {

std::vector<uint8_t> zeros(size_t n)
{
    return std::vector<uint8_t>(n, 0);
}

std::vector<uint8_t> loginTemplate()
{
    auto m = zeros(32);
    m[0] = 0x0A;
    m[3] = 0x60;
    m[24] = 4;
    m[25] = 1;
    m[30] = 0xA1;
    m[31] = 0xAA;
    return m;
}

TEST(Messages, LoginShortFormFillsFixedFields)
{
    auto expected = loginTemplate();
    std::memcpy(&expected[8], "abcdefgh", 8);   // exactly 8 bytes: no terminator
    std::memcpy(&expected[16], "12345678", 8);
    EXPECT_EQ(buildLogin("abcdefgh", "12345678"), expected);

    expected = loginTemplate();
    std::memcpy(&expected[8], "admin", 5);
    std::memcpy(&expected[16], "580317", 6);
    EXPECT_EQ(buildLogin("admin", "580317"), expected);
}

TEST(Messages, LoginLongFormCarriesNameSeparatorPassword)
{
    auto expected = loginTemplate();
    expected[4] = 12;   // 9 + 2 + 1
    for (char ch : std::string("ninechars&&x"))
        expected.push_back(static_cast<uint8_t>(ch));
    auto m = buildLogin("ninechars", "x");
    ASSERT_EQ(m.size(), 44u);
    EXPECT_EQ(m, expected);

    // A long password alone also selects the long form; UTF-8 bytes pass unchanged.
    m = buildLogin("u", "p\xC3\xA4sswort1");
    EXPECT_EQ(m.size(), 32u + 1 + 2 + 10);
    EXPECT_EQ(m[4], 13);
    EXPECT_TRUE(buildLogin(nullptr, "x").empty());
    EXPECT_TRUE(buildLogin("x", nullptr).empty());
}

TEST(Messages, KeepaliveListQueryAndClaim)
{
    auto k = zeros(32);
    k[0] = 0xA1;
    EXPECT_EQ(buildKeepalive(), k);

    auto q = zeros(32);
    q[0] = 0xA8;
    q[8] = 1;
    EXPECT_EQ(buildListQuery(), q);

    const uint8_t id[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    auto c = zeros(32);
    c[0] = 0xF1;
    c[8] = 0xDE;
    c[9] = 0xAD;
    c[10] = 0xBE;
    c[11] = 0xEF;
    c[12] = 1;
    c[13] = 3;
    EXPECT_EQ(buildChannelClaim(2, id, 4), c);
    EXPECT_EQ(buildChannelClaim(255, id, 4)[13], 0);   // low 8 bits of 256
}

TEST(Messages, StreamControlBinaryForm)
{
    auto m = buildStreamControl(15, 1, 1);
    ASSERT_EQ(m.size(), 48u);
    auto expected = zeros(48);
    expected[0] = 0x11;
    expected[4] = 16;
    expected[23] = 1;
    expected[47] = 1;
    EXPECT_EQ(m, expected);

    // Stream 0 leaves the stream byte 0; a stop leaves the flag byte 0.
    m = buildStreamControl(3, 0, 1);
    EXPECT_EQ(m[11], 1);
    EXPECT_EQ(m[35], 0);
    m = buildStreamControl(3, 2, 0);
    EXPECT_EQ(m[11], 0);
    EXPECT_EQ(m[35], 2);
    EXPECT_TRUE(buildStreamControl(-1, 1, 1).empty());
}

TEST(Messages, StreamControlTextFormAboveChannel15)
{
    const std::string text = "ChannelName:16\r\nStream:1\r\nOperate:1\r\nProtocol:tcp\r\n\r\n";
    auto m = buildStreamControl(16, 1, 1);
    ASSERT_EQ(m.size(), 32 + text.size());
    auto expected = zeros(32);
    expected[0] = 0x11;
    expected[4] = static_cast<uint8_t>(text.size());
    expected[26] = 8;
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(m, expected);
}

TEST(Messages, PtzMapsCommandCodesToActions)
{
    auto m = buildPtzControl(5, 6, 0);
    auto expected = zeros(32);
    expected[0] = 0x12;
    expected[9] = 5;
    expected[10] = 7;
    expected[12] = 3;
    EXPECT_EQ(m, expected);
    const int actions[10] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10};
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(buildPtzControl(0, k, 0)[10], actions[k]) << k;
    EXPECT_EQ(buildPtzControl(0, 12, 0)[10], 0);
    EXPECT_EQ(buildPtzControl(0, -1, 0)[10], 0);
    EXPECT_EQ(buildPtzControl(0, 0, 0x1FF)[16], 0xFF);
}

ReplyHeader parseLoginReply(int outcome, int reason, int count)
{
    auto h = RecorderMessages::buildLoginReply(outcome, reason, count, {1, 2, 3, 4});
    ReplyHeader r;
    parseReplyHeader(h.data(), r);
    return r;
}

TEST(Messages, LoginReplyOutcomesAndReasons)
{
    ReplyHeader r = parseLoginReply(0, 0, 16);
    EXPECT_EQ(r.command, 0xB0);
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(r.loginInfo);
    EXPECT_EQ(r.loginInfo->channelCount, 16);
    EXPECT_EQ(r.loginInfo->sessionId, (std::array<uint8_t, 4>{1, 2, 3, 4}));

    // Outcome byte, reason byte, and the status written out by hand: a refusal with reason r
    // is 0x1002 + r for r in 0..7, but reason 2 is 0x100E (0x1004 is the login time-out).
    const struct {
        int outcome, reason, status;
    } refusals[] = {
        {1, 0, 0x1002}, {1, 1, 0x1003}, {1, 2, 0x100E}, {1, 3, 0x1005}, {1, 6, 0x1008},
        {1, 7, 0x1009}, {1, 8, 4},      {1, 9, 4},      {1, -1, 4},     {1, -128, 4},
        {3, 0, 0x1005}, {3, 6, 0x1005}, {2, 0, 0x1001}, {4, 1, 0x1001}, {-1, 0, 0x1001},
    };
    for (const auto& c : refusals) {
        r = parseLoginReply(c.outcome, c.reason, 4);
        EXPECT_EQ(r.status, c.status) << c.outcome << "/" << c.reason;
        EXPECT_FALSE(r.loginInfo);
    }

    // A count byte of 0x80 or more is negative.
    r = parseLoginReply(0, 0, 0x80);
    ASSERT_TRUE(r.loginInfo);
    EXPECT_EQ(r.loginInfo->channelCount, -128);

    // Reusing a header: a later refusal drops the earlier login info.
    auto h = RecorderMessages::buildLoginReply(1, 0, 4, {});
    parseReplyHeader(h.data(), r);
    EXPECT_FALSE(r.loginInfo);
}

TEST(Messages, HeaderLengthAndOtherCommands)
{
    uint8_t raw[32] = {};
    raw[14] = 9;
    auto h = RecorderMessages::buildHeader(0xF1, 0xFFFFFFFFu, raw);
    ReplyHeader r;
    parseReplyHeader(h.data(), r);
    EXPECT_EQ(r.command, 0xF1);
    EXPECT_EQ(r.payloadLength, 0xFFFFFFFFu);
    EXPECT_EQ(r.status, 9);

    h = RecorderMessages::buildHeader(0x77, 0x01020304);
    parseReplyHeader(h.data(), r);
    EXPECT_EQ(r.command, 0x77);
    EXPECT_EQ(r.payloadLength, 0x01020304u);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.loginInfo);
}

std::vector<std::string> split(const std::string& text, int* countOut = nullptr)
{
    std::vector<uint8_t> block;
    int count = splitNameList(reinterpret_cast<const uint8_t*>(text.data()),
                              static_cast<int>(text.size()), block);
    if (countOut)
        *countOut = count;
    if (!text.empty()) {
        EXPECT_EQ(block.size(), text.size() + 1);
        EXPECT_EQ(block.back(), 0);
    }
    return nameListItems(block.data(), static_cast<int>(text.size()), count);
}

TEST(Messages, NameListSplit)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(split("Gate&&Lobby&&Parking"), (V{"Gate", "Lobby", "Parking"}));
    EXPECT_EQ(split("Gate&&"), (V{"Gate"}));
    EXPECT_EQ(split("Tom&Jerry"), (V{"Tom&Jerry"}));
    EXPECT_EQ(split("&&&"), (V{"", "&"}));
    EXPECT_EQ(split("a&&&&b"), (V{"a", "", "b"}));
    EXPECT_EQ(split("\xE5\xA4\xA7\xE9\x97\xA8&&Hof"), (V{"\xE5\xA4\xA7\xE9\x97\xA8", "Hof"}));
    int count = -1;
    EXPECT_TRUE(split("", &count).empty());
    EXPECT_EQ(count, 0);
    std::vector<uint8_t> block{1};
    EXPECT_EQ(splitNameList(nullptr, 5, block), 0);
    EXPECT_TRUE(block.empty());
    // Embedded zero bytes from the wire never make the item walk leave the block.
    const std::string zeros("\0\0\0&&", 5);
    EXPECT_EQ(split(zeros).size(), 1u);

    // Blocks as the wire gives them: a count that promises more than is there names only what is
    // there, and an item starts only inside the block (no empty camera after the end).
    const uint8_t ab[] = {'A', 'B', 0, 0, 'C', 'D'};   // no final zero
    const uint8_t bad[] = {0xFF, 0xC3, 0};
    const struct {
        const uint8_t* block;
        int length, count;
        V names;
    } blocks[] = {
        {ab, 6, 1000, {"AB", "CD"}},
        {ab, 4, 2, {"AB"}},   // ends right after a separator
        {ab, 0, 3, {}},
        {nullptr, 10, 3, {}},
        {ab, -1, 3, {}},
        {bad, 2, 1, {"\xFF\xC3"}},   // bytes as they came: shown as replacement characters
    };
    for (const auto& b : blocks)
        EXPECT_EQ(nameListItems(b.block, b.length, b.count), b.names) << b.length;
}

TEST(RecorderMessagesKit, ParsesEveryClientRequest)
{
    RecorderMessages::Request r;
    auto m = buildLogin("admin", "580317");
    ASSERT_EQ(RecorderMessages::parseRequest(m.data(), m.data() + 32, m.size() - 32, r), 0);
    EXPECT_EQ(r.user, "admin");
    EXPECT_EQ(r.password, "580317");
    EXPECT_FALSE(r.longForm);

    m = buildLogin("a-long-user", "pw");
    RecorderMessages::parseRequest(m.data(), m.data() + 32, m.size() - 32, r);
    EXPECT_TRUE(r.longForm);
    EXPECT_EQ(r.user, "a-long-user");
    EXPECT_EQ(r.password, "pw");

    const uint8_t id[4] = {9, 8, 7, 6};
    m = buildChannelClaim(4, id, 4);
    RecorderMessages::parseRequest(m.data(), nullptr, 0, r);
    EXPECT_EQ(r.claimChannel, 5);
    EXPECT_EQ(r.claimId, (std::array<uint8_t, 4>{9, 8, 7, 6}));

    using O = RecorderMessages::StreamOrder;
    m = buildStreamControl(7, 2, 1);
    RecorderMessages::parseRequest(m.data(), m.data() + 32, m.size() - 32, r);
    EXPECT_EQ(r.streams, (std::vector<O>{{7, 2, 1}}));
    m = buildStreamControl(20, 1, 0);
    RecorderMessages::parseRequest(m.data(), m.data() + 32, m.size() - 32, r);
    EXPECT_TRUE(r.textForm);
    EXPECT_EQ(r.streams, (std::vector<O>{{20, 1, 0}}));

    m = buildPtzControl(3, 9, 0);
    RecorderMessages::parseRequest(m.data(), nullptr, 0, r);
    EXPECT_EQ(r.ptzChannel, 3);
    EXPECT_EQ(r.ptzAction, 10);

    // Lengths are bounded before anything is trusted.
    auto huge = RecorderMessages::buildHeader(0xBC, 0xFFFFFFFFu);
    EXPECT_EQ(RecorderMessages::completeLength(huge.data(), huge.size()), -1);
    EXPECT_EQ(RecorderMessages::completeLength(huge.data(), 31), 0);
    auto media = RecorderMessages::buildMediaData(reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(RecorderMessages::completeLength(media.data(), media.size()), 35);
    EXPECT_EQ(RecorderMessages::completeLength(media.data(), 34), 0);
}

}   // namespace
}   // namespace kevra
