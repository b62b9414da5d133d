#include "RtspClientGuard.h"

#include <atomic>

#include "ConnectionLimits.h"
#include "GatewayLog.h"

namespace kevra::gateway {

namespace {

constexpr const char* kGuardKey = "kevra-guard";
constexpr const char* kOwnerKey = "kevra-owner";

struct Guard {
    ConnectionLimits* limits = nullptr;
    std::string ip;
    std::atomic<bool> requested{false};
    std::atomic<bool> counted{false};
};

// A session belongs to the connection that made it: GStreamer's server would let any other
// connection that names its id play, pause or tear it down.
GstRTSPStatusCode ownSessionOnly(GstRTSPClient* client, GstRTSPContext* ctx, gpointer)
{
    if (ctx && ctx->session &&
        g_object_get_data(G_OBJECT(ctx->session), kOwnerKey) != static_cast<void*>(client)) {
        auto* g = static_cast<Guard*>(g_object_get_data(G_OBJECT(client), kGuardKey));
        GatewayLog::line("RTSP client " + (g ? g->ip : std::string("?")) +
                         ": refused a request on another client's session");
        return GST_RTSP_STS_SESSION_NOT_FOUND;
    }
    return GST_RTSP_STS_OK;
}

// Only a weak reference waits for the time: a client that has gone is freed at once, and with
// it the count its connection holds.
void closeSoon(GstRTSPClient* client, GMainContext* context, guint delayMs)
{
    auto* weak = g_new0(GWeakRef, 1);
    g_weak_ref_init(weak, client);
    GSource* source = delayMs ? g_timeout_source_new(delayMs) : g_idle_source_new();
    g_source_set_callback(
        source,
        +[](gpointer w) -> gboolean {
            auto* object = g_weak_ref_get(static_cast<GWeakRef*>(w));
            if (!object)
                return G_SOURCE_REMOVE;
            auto* client = GST_RTSP_CLIENT(object);
            auto* guard = static_cast<Guard*>(g_object_get_data(G_OBJECT(client), kGuardKey));
            if (!guard || !guard->requested) {
                if (guard && guard->counted)
                    GatewayLog::detail("RTSP client " + guard->ip + ": closed, no request in time");
                gst_rtsp_client_close(client);
            }
            g_object_unref(object);
            return G_SOURCE_REMOVE;
        },
        weak,
        +[](gpointer w) {
            g_weak_ref_clear(static_cast<GWeakRef*>(w));
            g_free(w);
        });
    g_source_attach(source, context);
    g_source_unref(source);
}

}   // namespace

bool guardRtspClient(GstRTSPClient* client, const std::string& ip, GMainContext* context,
                     ConnectionLimits* limits, int requestTimeoutMs)
{
    auto* guard = new Guard;
    guard->limits = limits;
    guard->ip = ip;
    bool admitted = !limits || limits->admit(ip);
    guard->counted = limits && admitted;
    g_object_set_data_full(
        G_OBJECT(client), kGuardKey, guard, +[](gpointer p) {
            auto* g = static_cast<Guard*>(p);
            if (g->counted.exchange(false))
                g->limits->release(g->ip);
            delete g;
        });
    if (!admitted) {
        // Closed once the server has attached it; closing it inside its own announcement
        // would leave the server a dead connection to watch.
        closeSoon(client, context, 0);
        return false;
    }
    g_signal_connect(client, "closed", G_CALLBACK(+[](GstRTSPClient* c, gpointer) {
                         auto* g = static_cast<Guard*>(g_object_get_data(G_OBJECT(c), kGuardKey));
                         if (g && g->counted.exchange(false))
                             g->limits->release(g->ip);
                     }),
                     nullptr);
    g_signal_connect(client, "new-session",
                     G_CALLBACK(+[](GstRTSPClient* c, GstRTSPSession* session, gpointer) {
                         g_object_set_data(G_OBJECT(session), kOwnerKey, c);
                     }),
                     nullptr);
    for (const char* signal :
         {"pre-setup-request", "pre-play-request", "pre-pause-request", "pre-teardown-request",
          "pre-get-parameter-request", "pre-set-parameter-request", "pre-record-request"})
        g_signal_connect(client, signal, G_CALLBACK(ownSessionOnly), nullptr);
    for (const char* signal :
         {"options-request", "describe-request", "setup-request", "play-request", "pause-request",
          "teardown-request", "get-parameter-request", "set-parameter-request", "announce-request",
          "record-request"})
        g_signal_connect(
            client, signal, G_CALLBACK(+[](GstRTSPClient* c, GstRTSPContext*, gpointer) {
                auto* g = static_cast<Guard*>(g_object_get_data(G_OBJECT(c), kGuardKey));
                if (g)
                    g->requested = true;
            }),
            nullptr);
    closeSoon(client, context, guint(requestTimeoutMs));
    return true;
}

}   // namespace kevra::gateway
