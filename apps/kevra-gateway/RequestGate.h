// A listening port whose new connections are held at the gate until their first request's
// line and headers are in, before the protocol's library sees a byte: each connection counts
// against the shared ConnectionLimits from accept until it is finally gone (refused at once
// when over them); its first request must end ("\r\n\r\n") within the request time and within
// the header bound, else it gets the given refusal and is closed. The bytes are only peeked at,
// so the library then reads the request from the socket itself. No HTTP or RTSP is parsed here.
// Threads: everything on the main context thread given to start().
#pragma once
#include <gio/gio.h>

#include <functional>
#include <map>
#include <string>

namespace kevra::gateway {

class ConnectionLimits;

class RequestGate {
public:
    struct Config {
        std::string address = "127.0.0.1";
        int port = 0;   // 0: any free port
        int maxHeaderBytes = 16 * 1024;
        int requestTimeoutMs = 10000;
        std::string refusal;   // sent as it is when the headers are over the bound
        std::string label;     // "HTTP" or "RTSP", for log lines
        int backlog = 1024;    // connects the kernel queues while the main context is busy
    };
    // Called with a connection whose first request is in; the callee takes its own reference
    // to whatever it keeps. `ip` is the peer's address.
    using HandOver = std::function<void(GSocketConnection* stream, const std::string& ip)>;

    RequestGate(Config config, ConnectionLimits& limits, HandOver handOver);
    ~RequestGate();   // closes waiting connections; handed ones stay counted until they go
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;

    // Binds and attaches to `context`. "" or the one-line reason it failed.
    std::string start(GMainContext* context);
    int boundPort() const { return boundPort_; }

    // A request not yet whole is looked at again after kPeekFirstMs, then less and less often
    // while nothing new comes (up to kPeekMaxMs), so trickling clients cost little.
    static constexpr guint kPeekFirstMs = 20;
    static constexpr guint kPeekMaxMs = 320;

private:
    struct Waiting;
    static gboolean onIncoming(GSocketService* service, GSocketConnection* stream, GObject* source,
                               gpointer self);
    static gboolean onReadable(GSocket* socket, GIOCondition condition, gpointer waiting);
    static gboolean onDeadline(gpointer waiting);
    void watch(Waiting* w);
    void finish(Waiting* w, bool handOver);

    Config config_;
    ConnectionLimits& limits_;
    HandOver handOver_;
    GSocketService* service_ = nullptr;
    GMainContext* context_ = nullptr;
    int boundPort_ = 0;
    std::map<Waiting*, bool> waiting_;
};

}   // namespace kevra::gateway
