#include "OnvifFront.h"

#include <cstring>

#include "GatewayLog.h"

namespace kevra::gateway {

namespace {

uint64_t nowMs()
{
    return uint64_t(g_get_monotonic_time() / 1000);
}

}   // namespace

OnvifFront::OnvifFront(OnvifService& service, Config config)
    : service_(service), config_(std::move(config))
{
}

OnvifFront::~OnvifFront()
{
    if (timer_) {
        g_source_destroy(timer_);
        g_source_unref(timer_);
    }
    if (server_) {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }
    if (digest_)
        g_object_unref(digest_);
}

std::string OnvifFront::start(GMainContext* context)
{
    context_ = context;
    g_main_context_push_thread_default(context);
    server_ = soup_server_new("server-header", "KEVRA-gateway ", nullptr);
    soup_server_add_early_handler(server_, nullptr, &OnvifFront::onEarly, this, nullptr);
    soup_server_add_handler(server_, nullptr, &OnvifFront::onRequest, this, nullptr);
    digest_ = soup_auth_domain_digest_new("realm", kRealm, nullptr);
    soup_auth_domain_digest_set_auth_callback(
        digest_,
        +[](SoupAuthDomain* domain, SoupServerMessage*, const char* user, gpointer self) -> char* {
            auto* front = static_cast<OnvifFront*>(self);
            if (!user || front->config_.credentials.user != user)
                return nullptr;
            return soup_auth_domain_digest_encode_password(
                user, kRealm, front->config_.credentials.password.c_str());
        },
        this, nullptr);

    std::string why;
    GInetAddress* address = g_inet_address_new_from_string(config_.address.c_str());
    if (!address)
        why = "ONVIF: --listen " + config_.address + " is not an IP address";
    for (size_t i = 0; why.empty() && i < service_.cameras().size(); ++i) {
        int port = config_.basePort == 0 ? 0 : config_.basePort + int(i);
        if (port > 65535) {
            why = "ONVIF ports from " + std::to_string(config_.basePort) + " run past 65535 for " +
                  std::to_string(service_.cameras().size()) +
                  " cameras (give a lower --onvif-port)";
            break;
        }
        GError* error = nullptr;
        GSocket* socket = g_socket_new(g_inet_address_get_family(address), G_SOCKET_TYPE_STREAM,
                                       G_SOCKET_PROTOCOL_TCP, &error);
        GSocketAddress* local = g_inet_socket_address_new(address, guint16(port));
        bool ok = socket && g_socket_bind(socket, local, TRUE, &error) &&
                  g_socket_listen(socket, &error) &&
                  soup_server_listen_socket(server_, socket, SoupServerListenOptions(0), &error);
        g_object_unref(local);
        if (ok) {
            GSocketAddress* bound = g_socket_get_local_address(socket, nullptr);
            port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
            g_object_unref(bound);
            ports_.push_back(port);
            cameraOfPort_[port] = int(i);
        } else {
            why = "ONVIF port " + std::to_string(port) + " for camera " +
                  service_.cameras()[i].rtspPath + ": " +
                  (error ? error->message : "cannot listen");
        }
        if (error)
            g_error_free(error);
        if (socket)
            g_object_unref(socket);
    }
    if (address)
        g_object_unref(address);
    g_main_context_pop_thread_default(context);
    return why;
}

void OnvifFront::onEarly(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer)
{
    // Bounded before the body is read: a declared length within the limit, no chunked body.
    SoupMessageHeaders* headers = soup_server_message_get_request_headers(msg);
    SoupEncoding encoding = soup_message_headers_get_encoding(headers);
    if (encoding == SOUP_ENCODING_CHUNKED) {
        soup_server_message_set_status(msg, SOUP_STATUS_LENGTH_REQUIRED, nullptr);
        return;
    }
    if (encoding == SOUP_ENCODING_CONTENT_LENGTH &&
        soup_message_headers_get_content_length(headers) > goffset(kMaxBodyBytes)) {
        soup_server_message_set_status(msg, SOUP_STATUS_REQUEST_ENTITY_TOO_LARGE, nullptr);
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Connection",
                                     "close");
    }
}

void OnvifFront::onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                           gpointer self)
{
    static_cast<OnvifFront*>(self)->respond(msg, path);
}

void OnvifFront::respond(SoupServerMessage* msg, const char* path)
{
    if (std::strncmp(path, "/onvif/", 7) != 0) {
        soup_server_message_set_status(msg, SOUP_STATUS_NOT_FOUND, nullptr);
        return;
    }
    if (std::strcmp(soup_server_message_get_method(msg), "POST") != 0) {
        soup_server_message_set_status(msg, SOUP_STATUS_METHOD_NOT_ALLOWED, nullptr);
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Allow",
                                     "POST");
        return;
    }
    OnvifService::Context context;
    GSocketAddress* local = soup_server_message_get_local_address(msg);
    auto it = local
                  ? cameraOfPort_.find(g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local)))
                  : cameraOfPort_.end();
    if (it == cameraOfPort_.end()) {
        soup_server_message_set_status(msg, SOUP_STATUS_NOT_FOUND, nullptr);
        return;
    }
    context.camera = it->second;
    SoupMessageHeaders* headers = soup_server_message_get_request_headers(msg);
    const char* host = soup_message_headers_get_one(headers, "Host");
    context.host = host ? host : "";
    if (config_.requireAuth && soup_message_headers_get_one(headers, "Authorization")) {
        char* user = soup_auth_domain_accepts(digest_, msg);
        context.httpAuthenticated = user != nullptr;
        g_free(user);
    }
    context.nowMs = nowMs();
    context.unixNow = g_get_real_time() / 1000000;

    SoupMessageBody* body = soup_server_message_get_request_body(msg);
    GBytes* bytes = soup_message_body_flatten(body);
    gsize length = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &length));
    OnvifService::Reply reply = service_.handle(data ? data : "", length, context);
    g_bytes_unref(bytes);

    if (reply.challenge)
        soup_auth_domain_challenge(digest_, msg);
    soup_server_message_set_status(msg, guint(reply.status), nullptr);
    soup_server_message_set_response(msg, "application/soap+xml; charset=utf-8", SOUP_MEMORY_COPY,
                                     reply.body.data(), reply.body.size());
    GatewayLog::detail("ONVIF " + service_.cameras()[size_t(context.camera)].rtspPath + " " +
                       std::to_string(reply.status));
    schedule();
}

void OnvifFront::schedule()
{
    if (timer_) {
        g_source_destroy(timer_);
        g_source_unref(timer_);
        timer_ = nullptr;
    }
    uint64_t next = service_.nextDueMs();
    if (next == 0)
        return;
    uint64_t now = nowMs();
    timer_ = g_timeout_source_new(guint(next > now ? next - now : 0));
    g_source_set_callback(
        timer_,
        +[](gpointer self) -> gboolean {
            auto* front = static_cast<OnvifFront*>(self);
            front->service_.tick(nowMs());
            // schedule() replaces this source; keep it alive until we return.
            GSource* current = front->timer_;
            g_source_ref(current);
            front->schedule();
            g_source_unref(current);
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(timer_, context_);
}

}   // namespace kevra::gateway
