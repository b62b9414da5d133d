// What the ONVIF side tells about one camera behind the gateway: where it sits (recorder,
// number, channel, RTSP path), the identity NVR software keys it on (serial number, hardware
// address and endpoint reference, stable for a recorder name and camera number and different
// for every camera), and the stream's properties as far as the gateway has seen them.
// Plain values; made on the main thread at start.
#pragma once
#include <string>
#include <vector>

#include "VideoFacts.h"

namespace kevra::gateway {

struct OnvifCamera {
    std::string recorder;   // the recorder's name on the command line
    int number = 0;         // 1-based, as in the RTSP path
    int channel = 0;        // 0-based at the recorder
    std::string name;       // as the recorder lists it
    std::string rtspPath;   // "/NAME/N"
    int port = 0;           // its ONVIF port

    std::string serial;     // "KV" + 12 hex digits
    std::string hardware;   // locally administered unicast MAC, "02:..:..:..:..:.."
    std::string uuid;       // endpoint reference, "urn:uuid:..."

    // Fills serial, hardware and uuid from recorder and number.
    void deriveIdentity();
    // Its ONVIF scopes: type, profile, name (the camera's) and location (its recorder).
    std::vector<std::string> scopes() const;
};

}   // namespace kevra::gateway
