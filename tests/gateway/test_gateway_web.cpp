// The gateway's web side without a browser: the pace of the page's PTZ moves, what is taken from a
// WHEP offer and put into the answer, request paths, and the pages' languages and escaping.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <vector>

#include "Escape.h"
#include "GstLaunch.h"
#include "PtzMotion.h"
#include "WebFront.h"
#include "WebPages.h"
#include "WebrtcPeer.h"

namespace kevra::gateway {
namespace {

// A held button or key of the page: one step at once, one every 150 ms while renewed, the
// other axes stopped, nothing after the time-out.
TEST(PtzHoldMove, StepsAtTheHeldKeysPaceUntilStoppedOrNotRenewed)
{
    PtzMotion m;
    const uint64_t t = 1000;
    m.continuous({0.5f, 0, 0}, {true, false, false}, 5000, t);   // an ONVIF pan going on
    m.hold(PtzMotion::Focus, -1, 1000, t);
    EXPECT_EQ(m.due(t), std::vector<int>{7});      // focus near at once, the pan stopped
    m.hold(PtzMotion::Focus, -1, 1000, t + 100);   // a renewal is no extra step
    EXPECT_TRUE(m.due(t + 149).empty());
    EXPECT_EQ(m.due(t + 150), std::vector<int>{7});
    m.hold(PtzMotion::Iris, 1, 1000, t + 200);   // a new action steps at once
    EXPECT_EQ(m.due(t + 200), std::vector<int>{8});
    // Not renewed: steps until the time-out, then nothing.
    int steps = 0;
    for (uint64_t now = t + 210; now < t + 2000; now += 10)
        steps += int(m.due(now).size());
    EXPECT_EQ(steps, 6);   // t+350 ... t+1100, the last before t+1200
    EXPECT_EQ(m.nextDueMs(), 0u);
    m.hold(PtzMotion::Pan, -1, 1000, t + 3000);
    m.stopAll();
    EXPECT_TRUE(m.due(t + 3000).empty());
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

TEST(WebrtcOffer, PipelinesThatCannotBeBuiltSayWhyAndLeaveNothing)
{
    gst_init(nullptr, nullptr);
    std::string error;
    // A missing element and a half-built pipeline (a good first element, then a missing one).
    for (const char* launch : {"kevra-no-such-element", "fakesrc ! kevra-no-such-element"}) {
        error.clear();
        EXPECT_EQ(launchPipeline(launch, error), nullptr) << launch;
        EXPECT_NE(error.find("kevra-no-such-element"), std::string::npos) << error;
    }
    GstElement* good = launchPipeline("fakesrc num-buffers=1 ! fakesink", error);
    ASSERT_NE(good, nullptr);
    gst_object_unref(good);
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

    // The page's actions as the recorder's codes (0 up ... 9 iris minus).
    const char* actions[] = {"up",       "down",      "left",       "right",     "zoom-in",
                             "zoom-out", "focus-far", "focus-near", "iris-open", "iris-close"};
    PtzMotion::Axis axis;
    int direction;
    for (int code = 0; code < 10; ++code) {
        ASSERT_TRUE(WebFront::ptzAction(actions[code], axis, direction)) << actions[code];
        EXPECT_EQ(PtzMotion::codeFor(axis, direction), code) << actions[code];
    }
    EXPECT_FALSE(WebFront::ptzAction("Left", axis, direction));
    EXPECT_FALSE(WebFront::ptzAction("", axis, direction));
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
        WebPages::view(dir, "eng", "/r/1", "x").find("\"NO_PICTURE_FOR\":\"No picture for %1 s\""),
        std::string::npos);
}

// Names from recorders reach pages, SOAP and JSON as they come: 8-bit encodings, control bytes,
// markup and script ends.
TEST(Escape, HostileTextStaysText)
{
    const struct {
        std::string in, markup, json;
    } cases[] = {
        {"a<b>&\"'", "a&lt;b&gt;&amp;&quot;&#39;", "a\\u003cb\\u003e\\u0026\\\"'"},
        {"\xc3\xa9\xe5\xb7\xa6", "\xc3\xa9\xe5\xb7\xa6", "\xc3\xa9\xe5\xb7\xa6"},   // UTF-8 kept
        {"\xb4\xf3\xc3\xc5 x", "???? x", "???? x"},         // GBK: not UTF-8
        {"\xe5\xb7", "?", "?"},                             // cut short
        {"\xc0\xaf\xed\xa0\x80\xf5", "??????", "??????"},   // overlong, surrogate, no lead
        {"t\tn\n\x01\x7f\\", "t\tn\n?\x7f\\", "t\\u0009n\\u000a\\u0001\\u007f\\\\"},
        {"</script>", "&lt;/script&gt;", "\\u003c/script\\u003e"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(markupEscape(c.in), c.markup) << c.in;
        EXPECT_EQ(jsonEscape(c.in), c.json) << c.in;
        EXPECT_EQ(jsonString(c.in), "\"" + c.json + "\"") << c.in;
    }
}

}   // namespace
}   // namespace kevra::gateway
