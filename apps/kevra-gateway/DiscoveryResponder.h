// WS-Discovery on the network: a UDP socket on the discovery port (3702) that joins the
// multicast group 239.255.255.250 on the interfaces of the listen address, answers Probes sent
// to the group or directly to it with one ProbeMatches per camera, says Hello for every camera
// at start and Bye at the end. Datagrams from other interfaces are ignored.
// The owner (main thread) calls start() and stop(); the socket's watch runs on the GLib main
// context given.
#pragma once
#include <glib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "OnvifCamera.h"
#include "WsDiscovery.h"

namespace kevra::gateway {

class DiscoveryResponder {
public:
    static constexpr int kDefaultPort = 3702;
    static constexpr const char* kGroup = "239.255.255.250";

    // `listen` is the gateway's IPv4 listen address (0.0.0.0: every interface).
    DiscoveryResponder(std::vector<OnvifCamera> cameras, std::string listen, int port);
    ~DiscoveryResponder();   // stop()
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Binds, joins the group and sends Hello. "" or the reason it could not.
    std::string start(GMainContext* context);
    // Sends Bye and closes the socket.
    void stop();
    int boundPort() const { return boundPort_; }

private:
    struct Interface {
        int index;
        std::string address;   // its IPv4 address
    };
    void receive();
    void sendTo(const std::string& message, const void* address, unsigned length);
    void announce(bool hello);
    const Interface* interfaceOf(int index) const;

    const std::vector<OnvifCamera> cameras_;
    const std::string listen_;
    const int port_;
    WsDiscovery messages_;
    std::vector<Interface> interfaces_;
    int fd_ = -1;
    int boundPort_ = 0;
    GSource* watch_ = nullptr;
};

}   // namespace kevra::gateway
