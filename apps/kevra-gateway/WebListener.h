// The gateway's HTTP listening socket on libsoup 3: one server on the --listen address and the
// HTTP port, on the main thread's GLib main context beside the RTSP server, with HTTP Digest
// authentication (the RTSP credentials) for every client not on this machine when credentials
// are required. Routes are added by the parts that serve them. Main thread only.
#pragma once
#include <libsoup/soup.h>

#include <string>

#include "Secrets.h"

namespace kevra::gateway {

class WebListener {
public:
    WebListener(bool requireAuth, Credentials credentials);
    ~WebListener();
    WebListener(const WebListener&) = delete;
    WebListener& operator=(const WebListener&) = delete;

    // Listens on `address`:`port` (0: any free port). "" or the one-line reason it failed.
    std::string start(const std::string& address, int port);
    int boundPort() const { return port_; }
    SoupServer* server() const { return server_; }

private:
    SoupServer* server_ = nullptr;
    SoupAuthDomain* auth_ = nullptr;
    const bool requireAuth_;
    const Credentials credentials_;
    int port_ = 0;
};

}   // namespace kevra::gateway
