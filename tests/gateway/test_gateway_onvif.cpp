// The gateway's cameras as ONVIF devices, driven by two independent ONVIF clients from npm
// (onvif, node-onvif; installed into the build tree by the set-up) against the simulated
// recorder: discovery, adoption and the stream it gives, PTZ steps reaching the recorder and
// ending, and what a client without the right credentials or with broken requests gets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <thread>

#include "gateway/support/GatewayProcess.h"
#include "testkit/PatternEncoder.h"
#include "tools/support/RecorderProcess.h"

namespace kevra {
namespace {

using namespace std::chrono;

const std::string kNpm = std::string(KEVRA_BIN_DIR) + "/../npm";

// A JSON string field's value from the clients' one-line output ("" when absent).
std::string field(const std::string& json, const std::string& name)
{
    size_t at = json.find("\"" + name + "\":\"");
    if (at == std::string::npos)
        return "";
    at += name.size() + 4;
    return json.substr(at, json.find('"', at) - at);
}

class OnvifRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The clients, once per build tree (the lock keeps parallel runs from racing).
        std::string out;
        int rc = ChildProcess::run(
            "mkdir -p " + kNpm + " && flock " + kNpm + "/.lock sh -c 'test -d " + kNpm +
                "/node_modules/node-onvif -a -d " + kNpm +
                "/node_modules/onvif || npm install --prefix " + kNpm +
                " --no-audit --no-fund --loglevel=error onvif@0.8.3 node-onvif@0.1.7' 2>&1",
            &out);
        ASSERT_EQ(rc, 0) << "npm install of the ONVIF test clients failed:\n" << out;
    }
    void start(std::vector<std::string> extra = {})
    {
        recorder = std::make_unique<RecorderProcess>(
            std::vector<std::string>{"--size", "352x288", "--cameras", "Gate&&Lobby&&Yard"});
        ASSERT_TRUE(recorder->start());
        gateway = gatewayProcess(recorder->port(), extra);
        ASSERT_TRUE(gateway);
        std::string line = gateway->waitFor("WS-Discovery on UDP port ", 30000);
        ASSERT_FALSE(line.empty()) << "no discovery";
        discoveryPort = std::atoi(line.c_str() + line.rfind(' ') + 1);
        for (int k = 1; k <= 3; ++k) {
            line = gateway->waitFor("/r/" + std::to_string(k) + "\t", 5000);
            ASSERT_FALSE(line.empty());
            rtsp.push_back(line.substr(0, line.find('\t')));
            size_t port = line.rfind(':');
            onvifPorts.push_back(std::atoi(line.c_str() + port + 1));
        }
    }
    std::string node(const std::string& command, const std::string& args)
    {
        std::string out;
        ChildProcess::run("NODE_PATH=" + kNpm + "/node_modules timeout 30 node " +
                              KEVRA_SOURCE_DIR + "/tests/gateway/onvif_client.js " + command +
                              " '" + args + "'",
                          &out);
        return out;
    }
    std::string camera(int k, const std::string& more = "") const
    {
        return "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(onvifPorts[size_t(k - 1)]) +
               more + "}";
    }
    // A SOAP request by curl to camera 1: the HTTP status and the body.
    std::string post(const std::string& body, const std::string& curlArgs = "")
    {
        std::string file = ::testing::TempDir() + "onvif-" + std::to_string(getpid()) + ".xml";
        std::ofstream(file) << body;
        std::string out;
        ChildProcess::run("curl -s -w '\\n%{http_code}' " + curlArgs +
                              " -H 'Content-Type: application/soap+xml' --data-binary @" + file +
                              " http://127.0.0.1:" + std::to_string(onvifPorts[0]) +
                              "/onvif/device_service",
                          &out);
        std::remove(file.c_str());
        return out;
    }
    int ptzSteps() const { return recorder->count({"\"event\":\"ptz\"", "\"channel\":0"}); }

    std::unique_ptr<RecorderProcess> recorder;
    std::unique_ptr<ChildProcess> gateway;
    std::vector<std::string> rtsp;
    std::vector<int> onvifPorts;
    int discoveryPort = 0;
};

TEST_F(OnvifRun, DiscoveryFindsEveryCameraAndBothClientsAdoptItWithAStreamThatPlays)
{
    ASSERT_NO_FATAL_FAILURE(start());
    // A directed probe (multicast does not reach the loopback listen address).
    std::string found =
        node("discover", "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(discoveryPort) + "}");
    for (int port : onvifPorts)
        EXPECT_NE(found.find("http://127.0.0.1:" + std::to_string(port) + "/onvif/device_service"),
                  std::string::npos)
            << found;
    EXPECT_NE(found.find("\"names\":[\"Gate\",\"Lobby\",\"Yard\"]"), std::string::npos) << found;

    std::set<std::string> serials;
    for (int k = 1; k <= 3; ++k) {
        std::string adopted = node("adopt", camera(k));
        EXPECT_EQ(field(adopted, "manufacturer"), "KEVRA") << adopted;
        EXPECT_EQ(field(adopted, "stream"), rtsp[size_t(k - 1)]) << adopted;
        EXPECT_EQ(field(adopted, "stream2"), rtsp[size_t(k - 1)]) << adopted;
        serials.insert(field(adopted, "serial"));
        // The stream and the snapshot the client was given show this camera's picture.
        EXPECT_NE(field(adopted, "snapshot").find("/snapshot/r/" + std::to_string(k) + ".jpg"),
                  std::string::npos)
            << adopted;
        for (const std::string& input : {"-rtsp_transport tcp -i " + field(adopted, "stream"),
                                         "-i " + field(adopted, "snapshot")}) {
            std::string file = ::testing::TempDir() + "onvif-" + std::to_string(getpid()) + ".rgb";
            ASSERT_EQ(ChildProcess::run("timeout 20 ffmpeg -v error -y " + input +
                                        " -frames:v 1 -pix_fmt rgb24 -f rawvideo " + file),
                      0)
                << input;
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> rgb((std::istreambuf_iterator<char>(in)), {});
            std::remove(file.c_str());
            size_t at = (size_t(288) * 3 / 4 * 352 + 352 / 2) * 3;
            ASSERT_GE(rgb.size(), at + 3) << input;
            PatternColour want = PatternEncoder::background(k - 1);
            EXPECT_NEAR(rgb[at], want.r, 16) << input;
            EXPECT_NEAR(rgb[at + 1], want.g, 16) << input;
            EXPECT_NEAR(rgb[at + 2], want.b, 16) << input;
        }
    }
    EXPECT_EQ(serials.size(), 3u);
    EXPECT_EQ(gateway->finish(true), 0);
}

TEST_F(OnvifRun, ContinuousMoveLeftStepsTheRecorderUntilStopOrItsTimeout)
{
    ASSERT_NO_FATAL_FAILURE(start());
    // Nobody watches camera 1: the step still reaches the recorder, as "left" (action 2).
    std::string moved = node("move", camera(1, ",\"holdMs\":450"));
    ASSERT_EQ(moved.find("error"), std::string::npos) << moved;
    ASSERT_FALSE(
        recorder->waitFor({"\"event\":\"ptz\"", "\"channel\":0", "\"action\":2"}, 3000).empty());
    std::this_thread::sleep_for(milliseconds(300));
    int afterStop = ptzSteps();
    EXPECT_GE(afterStop, 2);
    std::this_thread::sleep_for(milliseconds(600));
    EXPECT_EQ(ptzSteps(), afterStop) << "steps went on after Stop";

    // Without a Stop the move ends at its 1 s timeout.
    moved = node("move", camera(1, ",\"stop\":false,\"timeout\":1"));
    ASSERT_EQ(moved.find("error"), std::string::npos) << moved;
    std::this_thread::sleep_for(milliseconds(1500));
    int afterTimeout = ptzSteps();
    EXPECT_LE(afterTimeout - afterStop, 8);
    std::this_thread::sleep_for(milliseconds(600));
    EXPECT_EQ(ptzSteps(), afterTimeout) << "steps went on past the timeout";
    EXPECT_EQ(recorder->count({"\"event\":\"ptz\"", "\"channel\":1"}), 0);
}

TEST_F(OnvifRun, CredentialsAreRequiredAndBrokenRequestsGetFaults)
{
    std::string secrets = ::testing::TempDir() + "onvif-secrets-" + std::to_string(getpid());
    std::ofstream(secrets) << "[rtsp]\nuser = viewer\npassword = right\n";
    ::chmod(secrets.c_str(), 0600);
    ASSERT_NO_FATAL_FAILURE(start({"--secrets", secrets}));
    std::remove(secrets.c_str());

    EXPECT_NE(node("adopt", camera(2, ",\"user\":\"viewer\",\"password\":\"wrong\"")).find("error"),
              std::string::npos);
    std::string adopted = node("adopt", camera(2, ",\"user\":\"viewer\",\"password\":\"right\""));
    EXPECT_EQ(field(adopted, "manufacturer"), "KEVRA") << adopted;

    const std::string ns = "http://www.onvif.org/ver10/device/wsdl";
    auto soap = [&](const std::string& op) {
        return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><" + op +
               " xmlns=\"" + ns + "\"/></s:Body></s:Envelope>";
    };
    const struct {
        std::string body;
        std::string curl;
        const char* has;
        const char* status;
    } cases[] = {
        // This machine needs no credentials (as on the other ports), but wrong ones are refused.
        {soap("GetDeviceInformation"), "", "KEVRA", "\n200"},
        {soap("GetDeviceInformation"), "--digest -u viewer:wrong", "ter:NotAuthorized", "\n401"},
        {soap("GetDeviceInformation"), "--digest -u viewer:right", "KEVRA", "\n200"},
        {soap("GetSystemDateAndTime"), "", "UTCDateTime", "\n200"},
        {soap("SetSystemFactoryDefault"), "--digest -u viewer:right", "ter:ActionNotSupported",
         "\n500"},
        {"<s:Envelope><s:Body>", "--digest -u viewer:right", "ter:WellFormed", "\n400"},
        {std::string(100000, ' '), "", "", "\n413"},
        {"", "-X GET", "", "\n405"},
    };
    for (const auto& c : cases) {
        std::string reply = post(c.body, c.curl);
        EXPECT_NE(reply.find(c.has), std::string::npos) << c.curl << "\n" << reply;
        EXPECT_TRUE(reply.ends_with(c.status)) << c.curl << "\n" << reply.substr(0, 400);
    }
    EXPECT_EQ(gateway->finish(true), 0);   // still standing
}

}   // namespace
}   // namespace kevra
