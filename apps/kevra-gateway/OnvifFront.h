// The ONVIF side's transport: one HTTP port per camera (camera k of the printed list at the
// base port + k - 1, or any free ports for base 0), each an HttpServer of the gateway's (so
// connection limits, request deadlines and size bounds are those of its other ports) whose
// /onvif/ paths go to the OnvifService with the address the client used and the HTTP Digest
// it gave; and a timer on the same GLib main context that paces the PTZ steps under way.
// The owner (main thread) calls start() and runs the main context; every callback runs there.
#pragma once
#include <glib.h>

#include <memory>
#include <string>
#include <vector>

#include "HttpServer.h"
#include "OnvifService.h"

namespace kevra::gateway {

class ConnectionLimits;

class OnvifFront {
public:
    struct Config {
        HttpServer::Config http;   // address, auth, bounds; the port is set per camera
        int basePort = 8100;       // 0: any free port per camera
    };

    // `limits` is shared with the gateway's other ports and must outlive this.
    OnvifFront(OnvifService& service, Config config, ConnectionLimits& limits);
    ~OnvifFront();
    OnvifFront(const OnvifFront&) = delete;
    OnvifFront& operator=(const OnvifFront&) = delete;

    // Listens on every camera's port; "" or the reason it failed (e.g. a port in use).
    std::string start(GMainContext* context);
    // The port of each camera, in the service's order (after start()).
    const std::vector<int>& ports() const { return ports_; }

private:
    void respond(int camera, const std::shared_ptr<HttpExchange>& exchange);
    void schedule();

    OnvifService& service_;
    Config config_;
    ConnectionLimits& limits_;
    GMainContext* context_ = nullptr;
    std::vector<std::unique_ptr<HttpServer>> servers_;
    GSource* timer_ = nullptr;
    std::vector<int> ports_;
};

}   // namespace kevra::gateway
