#include "RequestGate.h"

#include <algorithm>

#include "ConnectionLimits.h"
#include "GatewayLog.h"

namespace kevra::gateway {

struct RequestGate::Waiting {
    RequestGate* gate;
    GSocketConnection* stream;   // own reference
    std::string ip;
    GSource* watch = nullptr;   // readable, or the pause before looking again
    GSource* deadline = nullptr;
    size_t seen = 0;                           // bytes in at the last look
    guint pause = RequestGate::kPeekFirstMs;   // before the next look
};

namespace {

struct Counted {
    ConnectionLimits* limits;
    std::string ip;
};

// The connection's count is given back when its stream is finally gone, whoever held it last.
void countUntilGone(GSocketConnection* stream, ConnectionLimits& limits, const std::string& ip)
{
    g_object_weak_ref(
        G_OBJECT(stream),
        +[](gpointer p, GObject*) {
            auto* c = static_cast<Counted*>(p);
            c->limits->release(c->ip);
            delete c;
        },
        new Counted{&limits, ip});
}

}   // namespace

RequestGate::RequestGate(Config config, ConnectionLimits& limits, HandOver handOver)
    : config_(std::move(config)), limits_(limits), handOver_(std::move(handOver))
{
}

RequestGate::~RequestGate()
{
    if (service_) {
        g_socket_service_stop(service_);
        g_socket_listener_close(G_SOCKET_LISTENER(service_));
        g_object_unref(service_);
    }
    while (!waiting_.empty())
        finish(waiting_.begin()->first, false);
}

std::string RequestGate::start(GMainContext* context)
{
    context_ = context;
    g_main_context_push_thread_default(context_);
    service_ = g_socket_service_new();
    g_signal_connect(service_, "incoming", G_CALLBACK(onIncoming), this);
    std::string where = config_.address + ":" + std::to_string(config_.port);
    GInetAddress* inet = g_inet_address_new_from_string(config_.address.c_str());
    std::string why;
    if (!inet) {   // a host name: its first address, as the RTSP server would take it
        GResolver* resolver = g_resolver_get_default();
        GError* error = nullptr;
        GList* found =
            g_resolver_lookup_by_name(resolver, config_.address.c_str(), nullptr, &error);
        if (found)
            inet = G_INET_ADDRESS(g_object_ref(found->data));
        else
            why = "cannot listen for " + config_.label + " on " + where + ": " +
                  (error ? error->message : "unknown address");
        if (error)
            g_error_free(error);
        g_resolver_free_addresses(found);
        g_object_unref(resolver);
    }
    if (!inet) {
    } else {
        GSocketAddress* address = g_inet_socket_address_new(inet, guint16(config_.port));
        GSocketAddress* effective = nullptr;
        GError* error = nullptr;
        g_socket_listener_set_backlog(G_SOCKET_LISTENER(service_), config_.backlog);
        if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service_), address,
                                           G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr,
                                           &effective, &error)) {
            why = "cannot listen for " + config_.label + " on " + where + ": " +
                  (error ? error->message : "unknown error");
            if (error)
                g_error_free(error);
        } else {
            boundPort_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(effective));
            g_object_unref(effective);
            g_socket_service_start(service_);
        }
        g_object_unref(address);
        g_object_unref(inet);
    }
    g_main_context_pop_thread_default(context_);
    return why;
}

gboolean RequestGate::onIncoming(GSocketService*, GSocketConnection* stream, GObject*,
                                 gpointer data)
{
    auto* self = static_cast<RequestGate*>(data);
    GSocketAddress* remote = g_socket_connection_get_remote_address(stream, nullptr);
    std::string ip = "?";
    if (remote && G_IS_INET_SOCKET_ADDRESS(remote)) {
        char* text = g_inet_address_to_string(
            g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(remote)));
        ip = text;
        g_free(text);
    }
    if (remote)
        g_object_unref(remote);
    if (!self->limits_.admit(ip)) {
        GatewayLog::detail(self->config_.label + " client " + ip +
                           " refused: too many connections");
        g_io_stream_close(G_IO_STREAM(stream), nullptr, nullptr);
        return TRUE;
    }
    countUntilGone(stream, self->limits_, ip);
    auto* w = new Waiting{self, G_SOCKET_CONNECTION(g_object_ref(stream)), ip};
    self->waiting_[w] = true;
    GSource* deadline = g_timeout_source_new(guint(self->config_.requestTimeoutMs));
    g_source_set_callback(deadline, onDeadline, w, nullptr);
    g_source_attach(deadline, self->context_);
    w->deadline = deadline;
    self->watch(w);
    return TRUE;
}

void RequestGate::watch(Waiting* w)
{
    w->watch = g_socket_create_source(g_socket_connection_get_socket(w->stream),
                                      GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), nullptr);
    g_source_set_callback(w->watch, G_SOURCE_FUNC(onReadable), w, nullptr);
    g_source_attach(w->watch, context_);
}

gboolean RequestGate::onDeadline(gpointer data)
{
    auto* w = static_cast<Waiting*>(data);
    g_source_unref(w->deadline);   // the context keeps it until this returns
    w->deadline = nullptr;
    GatewayLog::detail(w->gate->config_.label + " client " + w->ip +
                       ": closed, no complete request in time");
    w->gate->finish(w, false);
    return G_SOURCE_REMOVE;
}

gboolean RequestGate::onReadable(GSocket* socket, GIOCondition, gpointer data)
{
    auto* w = static_cast<Waiting*>(data);
    RequestGate* self = w->gate;
    g_source_unref(w->watch);   // the context keeps it until this returns
    w->watch = nullptr;
    const size_t bound = size_t(self->config_.maxHeaderBytes);
    std::string peek(bound + 4, '\0');
    GInputVector vector{peek.data(), peek.size()};
    int flags = G_SOCKET_MSG_PEEK;
    gssize n = g_socket_receive_message(socket, nullptr, &vector, 1, nullptr, nullptr, &flags,
                                        nullptr, nullptr);
    if (n <= 0) {   // closed, or an error
        self->finish(w, false);
        return G_SOURCE_REMOVE;
    }
    peek.resize(size_t(n));
    size_t end = peek.find("\r\n\r\n");
    if (end == std::string::npos)
        end = peek.find("\n\n");
    if (end != std::string::npos && end <= bound) {
        self->finish(w, true);
        return G_SOURCE_REMOVE;
    }
    if (peek.size() > bound) {
        g_socket_send(socket, self->config_.refusal.data(), self->config_.refusal.size(), nullptr,
                      nullptr);
        GatewayLog::detail(self->config_.label + " client " + w->ip + ": request headers over " +
                           std::to_string(bound) + " bytes, closed");
        self->finish(w, false);
        return G_SOURCE_REMOVE;
    }
    // Not all in yet. The bytes stay in the socket, which stays readable: look again a little
    // later rather than spin on it.
    w->pause = peek.size() > w->seen ? kPeekFirstMs : std::min(w->pause * 2, kPeekMaxMs);
    w->seen = peek.size();
    w->watch = g_timeout_source_new(w->pause);
    g_source_set_callback(
        w->watch,
        +[](gpointer p) -> gboolean {
            auto* waiting = static_cast<Waiting*>(p);
            g_source_unref(waiting->watch);
            waiting->watch = nullptr;
            waiting->gate->watch(waiting);
            return G_SOURCE_REMOVE;
        },
        w, nullptr);
    g_source_attach(w->watch, self->context_);
    return G_SOURCE_REMOVE;
}

void RequestGate::finish(Waiting* w, bool handOver)
{
    waiting_.erase(w);
    if (w->deadline) {
        g_source_destroy(w->deadline);
        g_source_unref(w->deadline);
    }
    if (w->watch) {
        g_source_destroy(w->watch);
        g_source_unref(w->watch);
    }
    if (handOver)
        handOver_(w->stream, w->ip);
    else
        g_io_stream_close(G_IO_STREAM(w->stream), nullptr, nullptr);
    g_object_unref(w->stream);
    delete w;
}

}   // namespace kevra::gateway
