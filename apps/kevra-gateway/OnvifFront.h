// The ONVIF side's transport: one HTTP port per camera on libsoup 3 (camera k of the printed
// list at the base port + k - 1, or any free ports for base 0), SOAP requests handed to the
// OnvifService with the address the client used and the HTTP Digest it gave, request bodies
// bounded before they are read, and a timer on the same GLib main context that paces the PTZ
// steps of moves under way.
// The owner (main thread) calls start() and runs the main context; every callback runs there.
#pragma once
#include <libsoup/soup.h>

#include <map>
#include <string>
#include <vector>

#include "OnvifService.h"

namespace kevra::gateway {

class OnvifFront {
public:
    static constexpr size_t kMaxBodyBytes = 64 * 1024;
    static constexpr const char* kRealm = "KEVRA";

    struct Config {
        std::string address = "127.0.0.1";
        int basePort = 8100;   // 0: any free port per camera
        bool requireAuth = false;
        Credentials credentials;
    };

    OnvifFront(OnvifService& service, Config config);
    ~OnvifFront();
    OnvifFront(const OnvifFront&) = delete;
    OnvifFront& operator=(const OnvifFront&) = delete;

    // Listens on every camera's port; "" or the reason it failed (e.g. a port in use).
    std::string start(GMainContext* context);
    // The port of each camera, in the service's order (after start()).
    const std::vector<int>& ports() const { return ports_; }

private:
    static void onEarly(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*,
                        gpointer self);
    static void onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                          gpointer self);
    void respond(SoupServerMessage* msg, const char* path);
    void schedule();

    OnvifService& service_;
    Config config_;
    GMainContext* context_ = nullptr;
    SoupServer* server_ = nullptr;
    SoupAuthDomain* digest_ = nullptr;
    GSource* timer_ = nullptr;
    std::vector<int> ports_;
    std::map<int, int> cameraOfPort_;
};

}   // namespace kevra::gateway
