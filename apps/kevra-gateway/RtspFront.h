// The RTSP side of the gateway, on GStreamer's RTSP server: one mount per camera, a client's
// media built on demand from the camera's codec (appsrc -> parser -> RTP payloader, no
// transcoding), digest authentication when credentials are set, one log line per client that
// connects or leaves, a rate-limited line per refused client (401, 404), and the closing of
// clients the hubs let go.
// The owner (main thread) calls start(), then runs the GLib main context given; the server's
// client threads call into the factories; publish()/unpublish() come from the recorder links'
// control threads (the mount table is thread-safe). The open client set is guarded by mutex_.
#pragma once
#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "CameraPublisher.h"
#include "ConnectionLimits.h"
#include "DelayStats.h"
#include "RefusalLog.h"
#include "RequestGate.h"
#include "Secrets.h"

namespace kevra::gateway {

class RtspFront : public CameraPublisher {
public:
    struct Config {
        std::string address = "127.0.0.1";
        int port = 8554;
        bool requireAuth = false;
        Credentials credentials;
        uint64_t clientQueueBytes = 8u << 20;
        int readyTimeoutMs = 8000;   // a first client waits this long for the first key frame
        bool stats = false;
        ConnectionLimits* limits = nullptr;   // shared with the other ports; none: unbounded
        int requestTimeoutMs = 10000;         // a new client must make a request within this
        int maxHeaderBytes = 16 * 1024;       // its first request's line and headers
        int maxBodyBytes = 64 * 1024;         // any request's body
    };

    explicit RtspFront(Config config);
    ~RtspFront() override;
    RtspFront(const RtspFront&) = delete;
    RtspFront& operator=(const RtspFront&) = delete;

    // Binds the listening socket and attaches it to `context`. "" or the reason it failed.
    // With connection limits set, a connection reaches the RTSP server only once its first
    // request's headers are in (RequestGate).
    std::string start(GMainContext* context);
    // Closes every client connection (main thread, before the main loop ends).
    void closeAllClients();

    void publish(const std::shared_ptr<CameraHub>& hub) override;
    void unpublish(const std::string& path) override;

    // The client of `media` is closed from the main context (any thread).
    void endClientOf(GstRTSPMedia* media, bool slow);

    // Held by a client thread while it builds a media with this front's settings; the
    // destructor waits for them.
    struct Building {
        explicit Building(RtspFront& f) : front(f) { ++front.building_; }
        ~Building() { --front.building_; }
        RtspFront& front;
    };

    const Config& config() const { return config_; }
    DelayStats& stats() { return stats_; }
    int boundPort() const;

private:
    static void onClientConnected(GstRTSPServer* server, GstRTSPClient* client, gpointer self);
    static void onSendMessage(GstRTSPClient* client, GstRTSPContext* ctx, GstRTSPMessage* message,
                              gpointer self);
    void handOver(GSocketConnection* stream, const std::string& ip);

    Config config_;
    GstRTSPServer* server_ = nullptr;
    GstRTSPMountPoints* mounts_ = nullptr;
    GMainContext* context_ = nullptr;
    GSource* source_ = nullptr;
    // With connection limits, new connections pass the gate before the RTSP server sees them.
    std::unique_ptr<RequestGate> gate_;
    GSocketConnection* handing_ = nullptr;   // main context: the stream being handed over
    DelayStats stats_;
    // Shared with every client, which may outlive this front.
    std::shared_ptr<RefusalLog> refusals_ = std::make_shared<RefusalLog>();
    std::atomic<int> clientNumbers_{0};
    std::atomic<int> building_{0};
};

}   // namespace kevra::gateway
