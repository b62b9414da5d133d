// The ONVIF side without sockets: requests in, replies and recorder PTZ steps out, on a clock
// the test sets. Access rules, faults for what a client must not get through, the pace and
// ends of moves, the cameras' identities and the discovery messages.
#include <glib.h>
#include <gtest/gtest.h>

#include <set>

#include "OnvifService.h"
#include "PtzSink.h"
#include "UsernameTokenCheck.h"
#include "WsDiscovery.h"

namespace kevra::gateway {
namespace {

constexpr int64_t kNow = 1796740000;                       // wall clock of the tests, seconds
constexpr const char* kCreated = "2026-12-08T14:26:40Z";   // kNow

struct StepLog : PtzSink {
    std::vector<std::pair<int, int>> steps;   // channel, code
    void ptz(int channel, int code) override { steps.push_back({channel, code}); }
};

std::string envelope(const std::string& body, const std::string& header = "")
{
    return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://www.w3.org/2003/05/"
           "soap-envelope\" xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" xmlns:tptz=\"http://"
           "www.onvif.org/ver20/ptz/wsdl\" xmlns:tt=\"http://www.onvif.org/ver10/schema\">"
           "<s:Header>" +
           header + "</s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
}

std::string token(const std::string& user, const std::string& password, const std::string& nonce,
                  const std::string& created)
{
    gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(nonce.data()), nonce.size());
    std::string out =
        "<Security xmlns=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-"
        "secext-1.0.xsd\"><UsernameToken><Username>" +
        user +
        "</Username><Password Type=\"http://docs.oasis-open.org/wss/2004/01/oasis-"
        "200401-wss-username-token-profile-1.0#PasswordDigest\">" +
        UsernameTokenCheck::digest(nonce, created, password) + "</Password><Nonce>" + b64 +
        "</Nonce><Created>" + created + "</Created></UsernameToken></Security>";
    g_free(b64);
    return out;
}

class Onvif : public ::testing::Test {
protected:
    void SetUp() override { make(false); }
    void make(bool auth)
    {
        OnvifService::Config c;
        for (int i = 0; i < 2; ++i) {
            OnvifCamera cam;
            cam.recorder = "shop";
            cam.number = i + 1;
            cam.channel = i;
            cam.name = i ? "Lobby & <Hall>" : "Gate";
            cam.rtspPath = "/shop/" + std::to_string(i + 1);
            cam.port = 8100 + i;
            cam.deriveIdentity();
            c.cameras.push_back(cam);
            c.ptz.push_back(&steps);
        }
        c.listenHost = "127.0.0.1";
        c.rtspPort = 8554;
        c.requireAuth = auth;
        c.credentials = {"viewer", "secret"};
        c.facts = [](int) { return VideoFacts{OutCodec::Mpeg4, 352, 288, 10}; };
        service = std::make_unique<OnvifService>(std::move(c));
    }
    OnvifService::Reply ask(const std::string& body, uint64_t nowMs = 1000, int camera = 0,
                            const std::string& header = "", bool loopback = false)
    {
        std::string request = envelope(body, header);
        OnvifService::Context ctx;
        ctx.camera = camera;
        ctx.loopback = loopback;
        ctx.host = "192.168.1.9:8101";
        ctx.nowMs = nowMs;
        ctx.unixNow = kNow;
        return service->handle(request.data(), request.size(), ctx);
    }
    std::vector<int> codesAt(uint64_t nowMs)
    {
        steps.steps.clear();
        service->tick(nowMs);
        std::vector<int> codes;
        for (auto& s : steps.steps)
            codes.push_back(s.second);
        return codes;
    }

    StepLog steps;
    std::unique_ptr<OnvifService> service;
};

TEST_F(Onvif, AnswersWhatNvrSoftwareAsksWithTheCamerasOwnFacts)
{
    const struct {
        std::string body;
        int camera;
        std::vector<std::string> has;
    } cases[] = {
        {"<tds:GetDeviceInformation/>", 0, {"<tds:Manufacturer>KEVRA<", "<tds:SerialNumber>KV"}},
        {"<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>",
         1,
         {"http://192.168.1.9:8101/onvif/media_service", "/onvif/ptz_service"}},
        {"<tds:GetServices><tds:IncludeCapability>true</tds:IncludeCapability></tds:GetServices>",
         0,
         {"<tds:Capabilities><trt:Capabilities", "ver20/ptz/wsdl"}},
        {"<tds:GetScopes/>", 1, {"name/Lobby%20%26%20%3CHall%3E", "location/shop"}},
        {"<tds:GetNetworkInterfaces/>", 0, {"<tt:HwAddress>02:", "192.168.1.9"}},
        {"<trt:GetProfiles/>",
         0,
         {"token=\"main\"", "token=\"sub\"", "<tt:Encoding>MPEG4<", "<tt:Width>352<",
          "<tt:FrameRateLimit>10<", "<tt:NodeToken>ptznode<"}},
        {"<trt:GetStreamUri><trt:ProfileToken>sub</trt:ProfileToken></trt:GetStreamUri>",
         1,
         {"<tt:Uri>rtsp://192.168.1.9:8554/shop/2</tt:Uri>"}},
        {"<trt:GetVideoEncoderConfigurationOptions/>", 0, {"<tt:MPEG4>", "<tt:Height>288<"}},
        {"<tptz:GetConfigurationOptions><tptz:ConfigurationToken>ptzconf</tptz:"
         "ConfigurationToken></tptz:GetConfigurationOptions>",
         0,
         {"VelocityGenericSpace", "<tt:Max>PT10S</tt:Max>"}},
        {"<tptz:GetPresets><tptz:ProfileToken>main</tptz:ProfileToken></tptz:GetPresets>",
         0,
         {"<tptz:GetPresetsResponse/>"}},
    };
    for (const auto& c : cases) {
        auto r = ask(c.body, 1000, c.camera);
        EXPECT_EQ(r.status, 200) << c.body << "\n" << r.body;
        for (const std::string& h : c.has)
            EXPECT_NE(r.body.find(h), std::string::npos) << c.body << " lacks " << h;
    }
    // The camera name reaches XML escaped, never as markup.
    EXPECT_EQ(ask("<tds:GetScopes/>", 1000, 1).body.find("<Hall>"), std::string::npos);
}

TEST_F(Onvif, RefusesWhatItCannotAnswerWithSoapFaults)
{
    const struct {
        std::string request;   // whole, not wrapped
        int status;
        const char* subcode;
    } cases[] = {
        {envelope("<tds:Reboot/>"), 500, "ter:ActionNotSupported"},
        {envelope("<x:GetProfiles xmlns:x=\"urn:other\"/>"), 500, "ter:ActionNotSupported"},
        {envelope("<trt:GetStreamUri><trt:ProfileToken>x</trt:ProfileToken></trt:GetStreamUri>"),
         400, "ter:InvalidArgVal"},
        {envelope("<tptz:ContinuousMove><tptz:ProfileToken>main</tptz:ProfileToken><tptz:Timeout>"
                  "soon</tptz:Timeout></tptz:ContinuousMove>"),
         400, "ter:InvalidArgVal"},
        {"<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body>", 400,
         "ter:WellFormed"},
        {"<Envelope><Body><GetProfiles/></Body></Envelope>", 400, "ter:WellFormed"},
        {envelope(""), 400, "ter:WellFormed"},
        {"", 400, "ter:WellFormed"},
        {envelope(std::string(70000, ' ') + "<trt:GetProfiles/>"), 400, "too long"},
    };
    for (const auto& c : cases) {
        OnvifService::Context ctx;
        ctx.unixNow = kNow;
        auto r = service->handle(c.request.data(), c.request.size(), ctx);
        EXPECT_EQ(r.status, c.status) << c.request.substr(0, 300);
        EXPECT_NE(r.body.find(c.subcode), std::string::npos) << r.body;
    }
    // Entities of the client's own document type are neither expanded nor fetched.
    std::string xxe = "<?xml version=\"1.0\"?><!DOCTYPE s:Envelope [<!ENTITY x SYSTEM "
                      "\"file:///etc/hostname\"><!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
                      "\"&a;&a;&a;&a;&a;&a;&a;&a;\">]>" +
                      envelope("<trt:GetStreamUri><trt:ProfileToken>&x;&b;</trt:ProfileToken>"
                               "</trt:GetStreamUri>")
                          .substr(21);
    OnvifService::Context ctx;
    auto r = service->handle(xxe.data(), xxe.size(), ctx);
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.body.find("no profile &#39;&amp;x;&amp;b;&#39;"), std::string::npos) << r.body;
}

TEST_F(Onvif, WithCredentialsOnlyTheTimeIsOpenAndTokensCountOnce)
{
    make(true);
    EXPECT_EQ(ask("<tds:GetSystemDateAndTime/>").status, 200);
    // This machine needs none, but wrong ones are refused there too.
    EXPECT_EQ(ask("<trt:GetProfiles/>", 1000, 0, "", true).status, 200);
    EXPECT_EQ(
        ask("<trt:GetProfiles/>", 1000, 0, token("viewer", "wrong", "n", kCreated), true).status,
        400);
    auto bare = ask("<trt:GetProfiles/>");
    EXPECT_EQ(bare.status, 401);
    EXPECT_TRUE(bare.challenge);
    EXPECT_EQ(ask("<tds:Reboot/>").status, 401);   // nothing is told before the credentials

    const std::string created = kCreated;
    const std::string good = token("viewer", "secret", "nonce-1", created);
    EXPECT_EQ(ask("<trt:GetProfiles/>", 1000, 0, good).status, 200);
    const struct {
        std::string header;
        const char* why;
    } refused[] = {
        {good, "the token was used before"},
        {token("viewer", "wrong", "nonce-2", created), "wrong user name"},
        {token("admin", "secret", "nonce-3", created), "wrong user name"},
        {token("viewer", "secret", "nonce-4", "2026-12-08T14:00:00Z"), "too far"},
        {token("viewer", "secret", "nonce-5", "yesterday"), "wrong user name"},
    };
    for (const auto& r : refused) {
        auto reply = ask("<trt:GetProfiles/>", 1000, 0, r.header);
        EXPECT_EQ(reply.status, 400) << r.why;
        EXPECT_NE(reply.body.find(r.why), std::string::npos) << reply.body;
    }
    // Clock offsets and fractions as clients send them.
    EXPECT_EQ(UsernameTokenCheck::parseTime("2026-12-08T15:26:40.123+01:00"), kNow);
    EXPECT_EQ(ask("<trt:GetProfiles/>", 1000, 0,
                  token("viewer", "secret", "nonce-6", "2026-12-08T14:27:40.5Z"))
                  .status,
              200);
}

TEST_F(Onvif, MovesAreStepsAtTheHeldKeyPaceThatEndByStopTimeoutOrDistance)
{
    auto move = [&](const std::string& args, uint64_t now, const char* op = "ContinuousMove") {
        steps.steps.clear();
        auto r = ask(std::string("<tptz:") + op + "><tptz:ProfileToken>main</tptz:ProfileToken>" +
                         args + "</tptz:" + op + ">",
                     now, 1);
        EXPECT_EQ(r.status, 200) << r.body;
    };
    // Left at once on camera 2's channel, then one step per 150 ms, however late the timer.
    move("<tptz:Velocity><tt:PanTilt x=\"-0.4\" y=\"0\"/></tptz:Velocity>", 1000);
    ASSERT_EQ(steps.steps, (std::vector<std::pair<int, int>>{{1, 2}}));
    EXPECT_TRUE(codesAt(1149).empty());
    EXPECT_EQ(codesAt(1150), std::vector<int>{2});
    EXPECT_EQ(codesAt(1700), std::vector<int>{2});   // late: one step, no burst
    EXPECT_TRUE(codesAt(1800).empty());
    // The default 1 s timeout ends it without a Stop.
    EXPECT_TRUE(codesAt(2000).empty());
    EXPECT_EQ(service->nextDueMs(), 0u);

    // Renewed moves keep the pace; Stop ends at once; a given Timeout is honoured.
    move("<tptz:Velocity><tt:PanTilt x=\"0\" y=\"1\"/><tt:Zoom x=\"-1\"/></tptz:Velocity>"
         "<tptz:Timeout>PT0.4S</tptz:Timeout>",
         5000);
    EXPECT_EQ(codesAt(5000).size(), 0u);   // the first steps went out with the request
    EXPECT_EQ(codesAt(5150), (std::vector<int>{0, 5}));
    EXPECT_EQ(codesAt(5300), (std::vector<int>{0, 5}));
    EXPECT_TRUE(codesAt(5450).empty());   // past 400 ms
    move("<tptz:Velocity><tt:PanTilt x=\"1\" y=\"0\"/></tptz:Velocity>", 6000);
    move("<tptz:PanTilt>true</tptz:PanTilt><tptz:Zoom>false</tptz:Zoom>", 6100, "Stop");
    EXPECT_TRUE(codesAt(6150).empty());

    // A relative move: a distance of 0.3 is three steps.
    move("<tptz:Translation><tt:PanTilt x=\"0.3\" y=\"0\"/></tptz:Translation>", 8000,
         "RelativeMove");
    EXPECT_EQ(steps.steps.size(), 1u);
    EXPECT_EQ(codesAt(8150), std::vector<int>{3});
    EXPECT_EQ(codesAt(8300), std::vector<int>{3});
    EXPECT_TRUE(codesAt(8450).empty());
    // Focus through the imaging service: "focus -" steps until its Stop.
    steps.steps.clear();
    const std::string imaging = "xmlns:i=\"http://www.onvif.org/ver20/imaging/wsdl\"";
    EXPECT_EQ(ask("<i:Move " + imaging +
                      "><i:VideoSourceToken>vsrc</i:VideoSourceToken><i:Focus>"
                      "<tt:Continuous><tt:Speed>-0.5</tt:Speed></tt:Continuous></i:Focus></i:Move>",
                  8500, 1)
                  .status,
              200);
    EXPECT_EQ(steps.steps, (std::vector<std::pair<int, int>>{{1, 7}}));
    EXPECT_EQ(ask("<i:Stop " + imaging + "><i:VideoSourceToken>vsrc</i:VideoSourceToken></i:Stop>",
                  8600, 1)
                  .status,
              200);
    EXPECT_TRUE(codesAt(8650).empty());
    auto status = ask("<tptz:GetStatus><tptz:ProfileToken>main</tptz:ProfileToken>"
                      "</tptz:GetStatus>",
                      9000, 1);
    EXPECT_NE(status.body.find("<tt:PanTilt>IDLE</tt:PanTilt>"), std::string::npos);
}

TEST(OnvifIdentity, StablePerCameraAndUniqueAcrossCameras)
{
    std::set<std::string> serials, macs, uuids;
    for (const char* recorder : {"shop", "home"})
        for (int n = 1; n <= 48; ++n) {
            OnvifCamera a, b;
            a.recorder = b.recorder = recorder;
            a.number = b.number = n;
            a.deriveIdentity();
            b.deriveIdentity();
            EXPECT_EQ(a.serial, b.serial);
            EXPECT_EQ(a.hardware.substr(0, 3), "02:");   // locally administered, unicast
            serials.insert(a.serial);
            macs.insert(a.hardware);
            uuids.insert(a.uuid);
        }
    EXPECT_EQ(serials.size(), 96u);
    EXPECT_EQ(macs.size(), 96u);
    EXPECT_EQ(uuids.size(), 96u);
}

TEST(OnvifDiscovery, ProbesAreAnsweredForTheTypesAndScopesAsked)
{
    OnvifCamera cam;
    cam.recorder = "shop";
    cam.number = 2;
    cam.name = "Gate";
    cam.port = 8101;
    cam.deriveIdentity();
    auto probe = [](const std::string& body) {
        std::string p = "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
                        "xmlns:w=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
                        "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><e:Header>"
                        "<w:MessageID>urn:uuid:1</w:MessageID></e:Header><e:Body>" +
                        body + "</e:Body></e:Envelope>";
        WsDiscovery::Probe out;
        bool ok = WsDiscovery::parseProbe(p.data(), p.size(), out);
        return std::make_pair(ok, out);
    };
    const struct {
        std::string body;
        bool answered;
    } cases[] = {
        {"<d:Probe/>", true},
        {"<d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe>", true},
        {"<d:Probe><d:Types>x:Printer</d:Types></d:Probe>", false},
        {"<d:Probe><d:Scopes>onvif://www.onvif.org/location/shop</d:Scopes></d:Probe>", true},
        {"<d:Probe><d:Scopes>onvif://www.onvif.org/type onvif://www.onvif.org/name/Gate"
         "</d:Scopes></d:Probe>",
         true},
        {"<d:Probe><d:Scopes>onvif://www.onvif.org/location/sh</d:Scopes></d:Probe>", false},
    };
    for (const auto& c : cases) {
        auto [ok, p] = probe(c.body);
        ASSERT_TRUE(ok) << c.body;
        EXPECT_EQ(WsDiscovery::matches(p, cam), c.answered) << c.body;
    }
    EXPECT_FALSE(probe("<d:Resolve/>").first);
    EXPECT_FALSE(probe("<d:Probe>").first);

    WsDiscovery messages(7);
    std::string match = messages.probeMatches(probe("<d:Probe/>").second, cam, "10.0.0.2");
    for (const std::string& h : std::vector<std::string>{
             "<a:RelatesTo>urn:uuid:1</a:RelatesTo>", "http://10.0.0.2:8101/onvif/device_service",
             cam.uuid, "dn:NetworkVideoTransmitter"})
        EXPECT_NE(match.find(h), std::string::npos) << h;
    EXPECT_NE(messages.bye(cam).find("MessageNumber=\"2\""), std::string::npos);
}

}   // namespace
}   // namespace kevra::gateway
