// The simulated recorder's listening TCP socket: bound once, then accepting clients without
// blocking. Owned by the server; used on its loop thread (opened before the loop runs).
#pragma once

#include <string>

namespace kevra {

class ListenSocket {
public:
    ListenSocket() = default;
    ~ListenSocket();
    ListenSocket(const ListenSocket&) = delete;
    ListenSocket& operator=(const ListenSocket&) = delete;

    // Binds address:port (0 picks a free port). 0, or -1 with the reason in `message`.
    int open(const std::string& address, int port, std::string& message);
    int fd() const { return fd_; }
    int port() const { return port_; }
    // The next waiting client's socket (non-blocking, no Nagle delay) and its "address:port";
    // -1 when none waits (or on a transient failure: try again on the next readiness).
    int accept(std::string& peer);

private:
    int fd_ = -1;
    int port_ = -1;
};

}   // namespace kevra
