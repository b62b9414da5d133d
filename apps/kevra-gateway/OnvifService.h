// The ONVIF side of the gateway without its transport: one device per camera answering the
// Device, Media, PTZ and Imaging (focus) operations NVR software calls, request bytes in and reply out. It
// decides who may ask (WS-Security UsernameToken or an HTTP Digest the transport checked, with
// the gateway's credentials, needed beyond this machine as on the gateway's other ports; the
// time query is open to all, as clients need it before they can compute a token; credentials
// given are checked even where none are needed), answers anything else with a SOAP fault, and turns PTZ moves into the
// recorder's step commands at a steady pace through each camera's PtzSink (tick()).
// GLib main thread only (the transport's handlers and timer).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OnvifCamera.h"
#include "PtzMotion.h"
#include "Secrets.h"
#include "UsernameTokenCheck.h"

namespace kevra::gateway {

class PtzSink;
class SoapRequest;

class OnvifService {
public:
    struct Config {
        std::vector<OnvifCamera> cameras;
        std::vector<PtzSink*> ptz;   // one per camera (may be null: moves go nowhere)
        std::string listenHost;      // for addresses when the client's Host is unusable
        int rtspPort = 8554;
        int httpPort = 0;           // the gateway's HTTP side (snapshots); 0 = none
        bool requireAuth = false;   // from other than loopback addresses
        Credentials credentials;
        std::function<VideoFacts(int camera)> facts;   // index into cameras; may be empty
    };
    enum class HttpAuth { None, Valid, Wrong };
    struct Context {
        int camera = 0;                       // index into cameras
        std::string host;                     // the client's Host header (address and port)
        bool loopback = false;                // the client is on this machine
        HttpAuth httpAuth = HttpAuth::None;   // the HTTP Digest the transport checked
        uint64_t nowMs = 0;                   // steady clock
        int64_t unixNow = 0;                  // wall clock, seconds
    };
    struct Reply {
        int status = 200;
        std::string body;
        bool challenge = false;   // 401: the transport adds its HTTP Digest challenge
    };

    explicit OnvifService(Config config);
    ~OnvifService();

    Reply handle(const char* data, size_t length, const Context& context);

    // Sends the PTZ steps due now; nextDueMs() says when to call again (0: nothing moves).
    void tick(uint64_t nowMs);
    uint64_t nextDueMs() const;

    const std::vector<OnvifCamera>& cameras() const { return config_.cameras; }
    // The ports the transport listens on, one per camera (after it started).
    void setPorts(const std::vector<int>& ports);

    // A bare SOAP 1.2 fault, for the transport's own refusals (e.g. a body too long).
    static std::string fault(const std::string& code, const std::string& subcode,
                             const std::string& reason);

private:
    struct Call;
    using Handler = std::string (OnvifService::*)(Call&);
    struct Route {
        const char* ns;
        const char* action;
        Handler handler;
    };
    static const std::vector<Route>& routes();

    std::string baseUrl(const Call& c) const;
    std::string hostOnly(const Call& c) const;
    VideoFacts factsOf(int camera) const;
    std::string profileXml(const Call& c, const std::string& token, const char* element) const;
    std::string encoderXml(const Call& c, const std::string& token, const char* element) const;
    std::string sourceConfigXml(const Call& c, const char* element) const;
    std::string ptzConfigXml(const char* element) const;
    std::string ptzNodeXml(const char* element) const;
    // Profile token of the request ("" and c.fault set when unknown).
    std::string profileToken(Call& c, const char* element = "ProfileToken");

    std::string getSystemDateAndTime(Call& c);
    std::string getCapabilities(Call& c);
    std::string getServices(Call& c);
    std::string getDeviceServiceCapabilities(Call& c);
    std::string getDeviceInformation(Call& c);
    std::string getNetworkInterfaces(Call& c);
    std::string getScopes(Call& c);
    std::string getHostname(Call& c);
    std::string getDns(Call& c);
    std::string getNtp(Call& c);
    std::string getMediaServiceCapabilities(Call& c);
    std::string getProfiles(Call& c);
    std::string getProfile(Call& c);
    std::string getVideoSources(Call& c);
    std::string getVideoSourceConfigurations(Call& c);
    std::string getVideoSourceConfiguration(Call& c);
    std::string getVideoEncoderConfigurations(Call& c);
    std::string getVideoEncoderConfiguration(Call& c);
    std::string getVideoEncoderConfigurationOptions(Call& c);
    std::string getStreamUri(Call& c);
    std::string getSnapshotUri(Call& c);
    std::string getPtzServiceCapabilities(Call& c);
    std::string getNodes(Call& c);
    std::string getNode(Call& c);
    std::string getConfigurations(Call& c);
    std::string getConfiguration(Call& c);
    std::string getConfigurationOptions(Call& c);
    std::string continuousMove(Call& c);
    std::string relativeMove(Call& c);
    std::string stop(Call& c);
    std::string getStatus(Call& c);
    std::string getPresets(Call& c);
    bool videoSource(Call& c);   // the request's VideoSourceToken is ours, else a fault
    std::string getImagingServiceCapabilities(Call& c);
    std::string getImagingSettings(Call& c);
    std::string getImagingOptions(Call& c);
    std::string getMoveOptions(Call& c);
    std::string focusMove(Call& c);
    std::string focusStop(Call& c);
    std::string getImagingStatus(Call& c);

    void sendSteps(size_t camera, uint64_t nowMs);

    Config config_;
    UsernameTokenCheck tokens_;
    std::vector<PtzMotion> motions_;   // one per camera
};

}   // namespace kevra::gateway
