// One ONVIF operation being answered: the parsed request, who asked and how (OnvifContext), the
// setup it is answered from, and the fault a handler sets when it refuses. Also what every
// service's handlers share: the address the client used, the camera's video facts, the profile
// token. Lives for one request on the GLib main thread.
#pragma once
#include <cstdint>
#include <string>

#include "OnvifSetup.h"

namespace kevra::gateway {

class SoapRequest;

inline constexpr const char* kOnvifNsDevice = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr const char* kOnvifNsMedia = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr const char* kOnvifNsPtz = "http://www.onvif.org/ver20/ptz/wsdl";
inline constexpr const char* kOnvifNsImaging = "http://www.onvif.org/ver20/imaging/wsdl";
// The two profiles every camera offers (both describe its one stream).
inline constexpr const char* kOnvifProfiles[2] = {"main", "sub"};

struct OnvifContext {
    enum class HttpAuth { None, Valid, Wrong };
    int camera = 0;                       // index into cameras
    std::string host;                     // the client's Host header (address and port)
    bool loopback = false;                // the client is on this machine
    HttpAuth httpAuth = HttpAuth::None;   // the HTTP Digest the transport checked
    uint64_t nowMs = 0;                   // steady clock
    int64_t unixNow = 0;                  // wall clock, seconds
};

class OnvifCall {
public:
    OnvifCall(const SoapRequest& request, const OnvifContext& context, const OnvifSetup& setup)
        : request(request), context(context), setup(setup)
    {
    }

    const OnvifCamera& camera() const { return setup.cameras[size_t(context.camera)]; }
    // The host the client addressed (the listen address when its Host header is unusable).
    std::string hostOnly() const;
    // http://host:port of this camera's ONVIF port.
    std::string baseUrl() const;
    // The camera's stream as known, with the recorders' usual stream until it has streamed.
    VideoFacts facts() const;
    // Profile token of the request ("" and the fault set when unknown).
    std::string profileToken(const char* element = "ProfileToken");
    // Refuses the call with a 400 ter:InvalidArgVal fault; returns "" for the handler's answer.
    std::string invalidArg(const std::string& reason);

    const SoapRequest& request;
    const OnvifContext& context;
    const OnvifSetup& setup;
    int status = 200;
    std::string fault;   // set by a handler that refuses
};

}   // namespace kevra::gateway
