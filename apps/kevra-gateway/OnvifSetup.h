// What the ONVIF side serves: its cameras, where their PTZ steps go, the addresses and ports it
// names in answers, and who may ask. Owned by OnvifService; its parts read it on the GLib main
// thread.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "OnvifCamera.h"
#include "Secrets.h"
#include "VideoFacts.h"

namespace kevra::gateway {

class PtzSink;

struct OnvifSetup {
    std::vector<OnvifCamera> cameras;
    std::vector<PtzSink*> ptz;   // one per camera (may be null: moves go nowhere)
    std::string listenHost;      // for addresses when the client's Host is unusable
    int rtspPort = 8554;
    int httpPort = 0;           // the gateway's HTTP side (snapshots); 0 = none
    bool requireAuth = false;   // from other than loopback addresses
    Credentials credentials;
    std::function<VideoFacts(int camera)> facts;   // index into cameras; may be empty
};

}   // namespace kevra::gateway
