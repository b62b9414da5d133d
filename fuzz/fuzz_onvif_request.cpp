// Fuzzes the ONVIF side's request path as a network client reaches it: the bytes as a SOAP
// request to a camera's device (with and without credentials required, and the PTZ pacing it
// may start), and as a WS-Discovery probe. Every reply must be a whole response or a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "OnvifService.h"
#include "PtzSink.h"
#include "WsDiscovery.h"

namespace {

using namespace kevra::gateway;

struct NoSteps : PtzSink {
    void ptz(int channel, int code) override
    {
        if (channel != 0 || code < 0 || code > 7)
            __builtin_trap();
    }
};

OnvifService& service(bool auth)
{
    static NoSteps steps;
    auto make = [](bool withAuth) {
        OnvifService::Config c;
        OnvifCamera cam;
        cam.recorder = "r";
        cam.number = 1;
        cam.name = "Gate";
        cam.rtspPath = "/r/1";
        cam.port = 8100;
        cam.deriveIdentity();
        c.cameras.push_back(cam);
        c.ptz.push_back(&steps);
        c.listenHost = "127.0.0.1";
        c.requireAuth = withAuth;
        c.credentials = {"u", "p"};
        return new OnvifService(std::move(c));
    };
    static OnvifService* open = make(false);
    static OnvifService* closed = make(true);
    return auth ? *closed : *open;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    static uint64_t now = 0;
    now += 37;
    for (bool auth : {false, true}) {
        OnvifService::Context ctx;
        ctx.host = std::string(text, size < 40 ? size : 40);   // hostile Host header too
        ctx.nowMs = now;
        ctx.unixNow = 1796740000;
        OnvifService::Reply r = service(auth).handle(text, size, ctx);
        if (r.body.find("</s:Envelope>") == std::string::npos ||
            (r.status != 200 && r.body.find("<s:Fault>") == std::string::npos))
            __builtin_trap();
        service(auth).tick(now + 150);
    }
    WsDiscovery::Probe probe;
    if (WsDiscovery::parseProbe(text, size, probe)) {
        static WsDiscovery messages(1);
        OnvifCamera cam;
        cam.recorder = "r";
        cam.number = 1;
        cam.deriveIdentity();
        if (WsDiscovery::matches(probe, cam) &&
            messages.probeMatches(probe, cam, "127.0.0.1").find("ProbeMatch") == std::string::npos)
            __builtin_trap();
    }
    return 0;
}
