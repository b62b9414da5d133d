// The ONVIF side of the gateway without its transport: one device per camera answering the
// Device, Media, PTZ and Imaging (focus) operations NVR software calls, request bytes in and
// reply out. It owns the setup and decides who may ask (WS-Security UsernameToken or an HTTP
// Digest the transport checked, with the gateway's credentials, needed beyond this machine as on
// the gateway's other ports; the time query is open to all, as clients need it before they can
// compute a token; credentials given are checked even where none are needed), routes the rest
// to OnvifDevice, OnvifMedia and OnvifPtz, and answers anything else with a SOAP fault.
// GLib main thread only (the transport's handlers and timer).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "OnvifCall.h"
#include "OnvifPtz.h"
#include "UsernameTokenCheck.h"

namespace kevra::gateway {

class OnvifService {
public:
    using Config = OnvifSetup;
    using Context = OnvifContext;
    using HttpAuth = OnvifContext::HttpAuth;
    struct Reply {
        int status = 200;
        std::string body;
        bool challenge = false;   // 401: the transport adds its HTTP Digest challenge
    };

    explicit OnvifService(Config config);
    ~OnvifService();
    // Its parts hold references to the setup.
    OnvifService(const OnvifService&) = delete;
    OnvifService& operator=(const OnvifService&) = delete;

    Reply handle(const char* data, size_t length, const Context& context);

    // Sends the PTZ steps due now; nextDueMs() says when to call again (0: nothing moves).
    void tick(uint64_t nowMs) { ptz_.tick(nowMs); }
    uint64_t nextDueMs() const { return ptz_.nextDueMs(); }

    const std::vector<OnvifCamera>& cameras() const { return config_.cameras; }
    // The ports the transport listens on, one per camera (after it started).
    void setPorts(const std::vector<int>& ports);

    // A bare SOAP 1.2 fault, for the transport's own refusals (e.g. a body too long).
    static std::string fault(const std::string& code, const std::string& subcode,
                             const std::string& reason);

private:
    struct Route {
        const char* ns;
        const char* action;
        std::function<std::string(OnvifCall&)> handler;
    };
    std::vector<Route> makeRoutes();

    Config config_;
    UsernameTokenCheck tokens_;
    OnvifPtz ptz_;
    std::vector<Route> routes_;
};

}   // namespace kevra::gateway
