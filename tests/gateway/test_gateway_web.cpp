// The gateway's web side without a browser: the pace of remote PTZ moves, what is taken from a
// WHEP offer and put into the answer, request paths, and the pages' languages and escaping.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "PtzMover.h"
#include "WebFront.h"
#include "WebPages.h"
#include "WebrtcPeer.h"
#include "common/Clock.h"

namespace kevra::gateway {
namespace {

template <class F>
bool eventually(F done)
{
    for (int i = 0; i < 200 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

class PtzMoverTest : public ::testing::Test {
protected:
    void SetUp() override { Clock::useManual(); }
    void TearDown() override { Clock::useReal(); }
    PtzMover::Send recorder(int camera)
    {
        return [this, camera](int code) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(camera * 100 + code);
        };
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return sent.size();
    }
    std::mutex mutex;
    std::vector<int> sent;   // camera * 100 + code
};

TEST_F(PtzMoverTest, StepsAtTheHeldKeysPaceUntilStoppedOrNotRenewed)
{
    PtzMover mover;
    mover.move("/r/1", 2, 1000, recorder(1));
    EXPECT_EQ(count(), 1u);   // at once
    Clock::advance(100);
    mover.move("/r/1", 2, 1000, recorder(1));   // a renewal is no extra step
    mover.move("/r/2", 4, 1000, recorder(2));   // another camera moves beside it
    Clock::advance(60);                         // 160 ms: the second step of /r/1
    ASSERT_TRUE(eventually([&] { return count() == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(count(), 3u);

    EXPECT_TRUE(mover.stop("/r/2"));
    mover.move("/r/1", 3, 1000, recorder(1));   // a new direction goes out at once
    EXPECT_EQ(sent, (std::vector<int>{102, 204, 102, 103}));

    // Not renewed: steps every 150 ms until the time-out (1 s), then nothing more.
    for (size_t i = 1; i <= 6; ++i) {
        Clock::advance(150);
        ASSERT_TRUE(eventually([&] { return count() == 4 + i; })) << i;
    }
    Clock::advance(150);
    ASSERT_TRUE(eventually([&] { return !mover.moving("/r/1"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(count(), 10u);
    EXPECT_FALSE(mover.stop("/r/1"));
}

// The video section of an offer as a browser makes it, with these formats after its m-line.
std::string offer(const std::string& port, const std::string& formats)
{
    return "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\nm=video " + port +
           " UDP/TLS/RTP/SAVPF " + formats +
           "\r\nc=IN IP4 0.0.0.0\r\na=mid:0\r\na=recvonly\r\n"
           "a=rtpmap:96 VP8/90000\r\n"
           "a=rtpmap:102 H264/90000\r\na=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;"
           "profile-level-id=42001f\r\n"
           "a=rtpmap:104 H264/90000\r\na=fmtp:104 level-asymmetry-allowed=1;packetization-mode=0;"
           "profile-level-id=42e01f\r\n"
           "a=rtpmap:106 H264/90000\r\na=fmtp:106 level-asymmetry-allowed=1;packetization-mode=1;"
           "profile-level-id=42e01f\r\n"
           "a=rtpmap:112 H264/90000\r\na=fmtp:112 packetization-mode=1;profile-level-id=640032\r\n";
}

TEST(WebrtcOffer, PicksTheLiveH264FormatAndRefusesOffersWithout)
{
    gst_init(nullptr, nullptr);
    const struct {
        std::string sdp;
        int pt;
    } cases[] = {
        {offer("9", "96 102 104 106 112"), 106},   // constrained baseline, mode 1
        {offer("9", "96 104 112"), 112},           // mode 1 before the profile
        {offer("9", "96"), -1},                    // no H.264 at all
        {offer("0", "96 106"), -1},                // the video section is refused
        {"garbage\r\n", -1},
        {offer("9", "106") + std::string(WebrtcPeer::kMaxOfferBytes, 'a'), -1},
    };
    for (const auto& c : cases) {
        std::string fmtp;
        EXPECT_EQ(WebrtcPeer::pickH264(c.sdp, fmtp), c.pt) << c.sdp.substr(0, 120);
    }
}

TEST(WebrtcOffer, AnswerCarriesEveryCandidateOnceAndTheirEnd)
{
    gst_init(nullptr, nullptr);
    std::string answer =
        offer("9", "106") + "a=candidate:1 1 UDP 2015363327 127.0.0.1 4000 typ host\r\n";
    std::string out = WebrtcPeer::withCandidates(
        answer, {{0, "candidate:1 1 UDP 2015363327 127.0.0.1 4000 typ host"},
                 {0, "candidate:2 1 TCP 1015022591 127.0.0.1 9 typ host tcptype active"},
                 {1, "candidate:3 1 UDP 1 10.0.0.1 1 typ host"}});
    EXPECT_EQ(out.find("a=candidate:1 "), out.rfind("a=candidate:1 "));
    EXPECT_NE(out.find("a=candidate:2 1 TCP"), std::string::npos);
    EXPECT_EQ(out.find("10.0.0.1"), std::string::npos);   // no such m-line
    EXPECT_NE(out.find("a=end-of-candidates"), std::string::npos);
}

TEST(WebFront, CameraPathsAndPtzActionsFromRequests)
{
    const std::pair<const char*, const char*> paths[] = {
        {"/view/shop/3", "/shop/3"}, {"/view/a-b_C/12", "/a-b_C/12"},
        {"/view/shop", ""},          {"/view/../1", ""},
        {"/view/shop/0", ""},        {"/view/shop/1/x", ""},
        {"/view/sh%00p/1", ""},      {"/view/shop/1234", ""},
        {"/viewer/shop/1", ""},      {"/view//1", ""},
    };
    for (const auto& [in, want] : paths)
        EXPECT_EQ(WebFront::cameraPath(in, "/view"), want) << in;
    EXPECT_EQ(WebFront::cameraPath("/view/" + std::string(100, 'a') + "/1", "/view"), "");

    const char* actions[] = {"up",       "down",      "left",       "right",     "zoom-in",
                             "zoom-out", "focus-far", "focus-near", "iris-open", "iris-close"};
    for (int code = 0; code < 10; ++code)
        EXPECT_EQ(WebFront::ptzCode(actions[code]), code);
    EXPECT_EQ(WebFront::ptzCode("Left"), -1);
    EXPECT_EQ(WebFront::ptzCode(""), -1);
}

TEST(WebPages, LanguageFromTheBrowserAndNamesEscaped)
{
    EXPECT_EQ(WebPages::languageFor("zh-CN,zh;q=0.9,en;q=0.8"), "chn");
    EXPECT_EQ(WebPages::languageFor("fr-FR, ZH-tw;q=0.5"), "chn");
    EXPECT_EQ(WebPages::languageFor("en-US,zh;q=0.9"), "eng");
    EXPECT_EQ(WebPages::languageFor(""), "eng");

    const std::string dir = KEVRA_BIN_DIR;
    std::string page = WebPages::view(dir, "chn", "/r/1", "<b>{{UP}}</b>\"");
    EXPECT_NE(page.find("&lt;b&gt;{{UP}}&lt;/b&gt;&quot;"), std::string::npos);
    EXPECT_NE(page.find("title=\"左\""), std::string::npos);
    EXPECT_NE(page.find("aria-label=\"Left\""), std::string::npos);   // the same in every language
    EXPECT_NE(page.find("const KEVRA_PATH=\"/r/1\""), std::string::npos);
    EXPECT_NE(
        WebPages::view(dir, "eng", "/r/1", "x").find("\"NO_PICTURE\":\"No picture for %1 s\""),
        std::string::npos);
}

}   // namespace
}   // namespace kevra::gateway
