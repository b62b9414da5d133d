// WS-Discovery messages for the cameras as ONVIF devices, without sockets: reading a Probe
// (which device types and scopes it asks for) and writing each camera's ProbeMatches, Hello
// and Bye. Each camera is a device of its own: one message per camera. Not thread-bound (the
// responder uses it on the GLib main thread).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "OnvifCamera.h"

namespace kevra::gateway {

class WsDiscovery {
public:
    struct Probe {
        std::string messageId;
        std::vector<std::string> types;   // local names, e.g. "NetworkVideoTransmitter"
        std::vector<std::string> scopes;
    };

    explicit WsDiscovery(uint64_t instanceId) : instanceId_(instanceId) {}

    // False for anything that is not a well-formed Probe.
    static bool parseProbe(const char* data, size_t length, Probe& out);
    // True when the camera answers the probe: every type asked is one of ours and every scope
    // asked is one of the camera's or a path prefix of one.
    static bool matches(const Probe& probe, const OnvifCamera& camera);

    // `host` is the address the answer's XAddrs carry (the interface the probe came in on).
    std::string probeMatches(const Probe& probe, const OnvifCamera& camera,
                             const std::string& host);
    std::string hello(const OnvifCamera& camera, const std::string& host);
    std::string bye(const OnvifCamera& camera);

private:
    std::string envelope(const std::string& action, const std::string& to,
                         const std::string& relatesTo, const std::string& body);
    static std::string deviceBody(const OnvifCamera& camera, const std::string& host);

    const uint64_t instanceId_;
    uint64_t messageNumber_ = 0;
};

}   // namespace kevra::gateway
