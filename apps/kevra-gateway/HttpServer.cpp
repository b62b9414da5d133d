#include "HttpServer.h"

#include <cstdio>

#include "GatewayLog.h"
#include "GatewayOptions.h"

namespace kevra::gateway {

// The part of an exchange the main context needs once the handler has let go: the message
// (own reference) and whether it was paused or has gone.
struct HttpExchange::Shared {
    // Recursive: libsoup may report a disconnection from inside a call apply() makes.
    std::recursive_mutex mutex;
    GMainContext* context = nullptr;
    SoupServerMessage* msg = nullptr;   // own reference until answered
    gulong disconnected = 0;
    bool inHandler = true;
    bool paused = false;
    bool answered = false;
    bool gone = false;
    int status = 0;
    std::string type, body;
    std::vector<std::pair<std::string, std::string>> headers;
    SoupAuthDomain* challenger = nullptr;   // own reference: an Open route's Digest challenge
    bool challenge = false;

    // Main context thread, mutex held by the caller.
    void apply()
    {
        if (!msg)
            return;
        if (!gone) {
            if (challenge && challenger && status == SOUP_STATUS_UNAUTHORIZED)
                soup_auth_domain_challenge(challenger, msg);
            soup_server_message_set_status(msg, guint(status), nullptr);
            SoupMessageHeaders* h = soup_server_message_get_response_headers(msg);
            for (const auto& [name, value] : headers)
                soup_message_headers_replace(h, name.c_str(), value.c_str());
            soup_message_headers_replace(h, "X-Content-Type-Options", "nosniff");
            // One request per connection: each one passes the header bound and the request
            // deadline before libsoup sees it.
            soup_message_headers_replace(h, "Connection", "close");
            soup_server_message_set_response(msg, type.empty() ? nullptr : type.c_str(),
                                             SOUP_MEMORY_COPY, body.data(), body.size());
            if (paused)
                soup_server_message_unpause(msg);
        }
        if (disconnected)
            g_signal_handler_disconnect(msg, disconnected);
        g_object_unref(msg);
        msg = nullptr;
        if (challenger)
            g_object_unref(challenger);
        challenger = nullptr;
    }
};

struct HttpServer::Connection {
    HttpServer* server;
    GSocketConnection* stream;   // weak: libsoup owns it
    std::string ip;
    std::string key;
    guint deadline = 0;
};

namespace {

// Reply in the main context later: used when the handler answered from another thread or
// after it returned.
gboolean applyLater(gpointer data)
{
    auto* shared = static_cast<std::shared_ptr<HttpExchange::Shared>*>(data);
    std::lock_guard<std::recursive_mutex> lock((*shared)->mutex);
    (*shared)->apply();
    return G_SOURCE_REMOVE;
}

void deleteShared(gpointer data)
{
    delete static_cast<std::shared_ptr<HttpExchange::Shared>*>(data);
}

std::string ipOf(GSocketAddress* address)
{
    if (!G_IS_INET_SOCKET_ADDRESS(address))
        return "?";
    GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address));
    char* text = g_inet_address_to_string(inet);
    std::string ip = text ? text : "?";
    g_free(text);
    return ip;
}

std::string keyOf(GSocketAddress* address)
{
    if (!G_IS_INET_SOCKET_ADDRESS(address))
        return "";
    return ipOf(address) + "|" +
           std::to_string(g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(address)));
}

// g_source_remove() looks in the default context only; the server's may be another.
void removeSource(GMainContext* context, guint id)
{
    if (GSource* source = g_main_context_find_source_by_id(context, id))
        g_source_destroy(source);
}

bool isLoopbackPeer(GSocketAddress* address)
{
    return G_IS_INET_SOCKET_ADDRESS(address) &&
           g_inet_address_get_is_loopback(
               g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address)));
}

}   // namespace

// ---------------------------------------------------------------------------------------------

HttpExchange::~HttpExchange()
{
    if (shared_)
        respond(500, "text/plain; charset=utf-8", "internal error: no answer\n");
}

std::string HttpExchange::query(const std::string& name) const
{
    auto it = query_.find(name);
    return it == query_.end() ? std::string() : it->second;
}

std::string HttpExchange::header(const std::string& name) const
{
    std::string lower;
    for (char c : name)
        lower += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    auto it = headers_.find(lower);
    return it == headers_.end() ? std::string() : it->second;
}

std::string HttpExchange::baseUrl() const
{
    // The Host header names this server as the client reached it; anything unusual in it is
    // replaced by the plain address so it cannot inject markup or a foreign link.
    bool plain = !host_.empty() && host_.size() <= 255;
    for (char c : host_)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == ':' || c == '[' || c == ']'))
            plain = false;
    return "http://" + (plain ? host_ : "127.0.0.1:" + std::to_string(localPort_));
}

bool HttpExchange::gone() const
{
    std::lock_guard<std::recursive_mutex> lock(shared_->mutex);
    return shared_->gone;
}

void HttpExchange::respond(int status, const std::string& contentType, std::string body,
                           std::vector<std::pair<std::string, std::string>> headers, bool challenge)
{
    std::shared_ptr<Shared> shared = shared_;
    std::lock_guard<std::recursive_mutex> lock(shared->mutex);
    if (shared->answered)
        return;
    shared->answered = true;
    shared->status = status;
    shared->type = contentType;
    shared->body = std::move(body);
    shared->headers = std::move(headers);
    shared->challenge = challenge;
    // On the main context (in the handler, or later from there) the answer goes out at once:
    // g_main_context_invoke() would run applyLater() here, under the lock already held.
    if (g_main_context_is_owner(shared->context)) {
        shared->apply();
        return;
    }
    if (shared->paused || !shared->inHandler) {
        g_main_context_invoke_full(shared->context, G_PRIORITY_DEFAULT, applyLater,
                                   new std::shared_ptr<Shared>(shared), deleteShared);
    }
    // Otherwise the handler is still running on the main context: it applies the answer
    // when it returns.
}

// ---------------------------------------------------------------------------------------------

HttpServer::HttpServer(Config config, ConnectionLimits& limits)
    : config_(std::move(config)), limits_(limits)
{
}

HttpServer::~HttpServer()
{
    if (digest_)
        g_object_unref(digest_);
    gate_.reset();
    for (auto& [key, c] : connections_) {
        if (c->deadline)
            removeSource(context_, c->deadline);
        g_object_weak_unref(G_OBJECT(c->stream), onStreamGone, c);
    }
    if (server_) {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }
    for (auto& [key, c] : connections_)
        delete c;
}

void HttpServer::route(const std::string& path, HttpHandler handler, Access access)
{
    routes_.push_back({path, std::move(handler), access});
}

const HttpServer::Route* HttpServer::find(const std::string& path) const
{
    const Route* best = nullptr;
    for (const Route& r : routes_) {
        bool prefix = r.path.size() > 1 && r.path.back() == '/';
        bool match = prefix ? path.compare(0, r.path.size(), r.path) == 0 : path == r.path;
        if (match && (!best || r.path.size() > best->path.size()))
            best = &r;
    }
    return best;
}

std::string HttpServer::start(GMainContext* context)
{
    context_ = context;
    g_main_context_push_thread_default(context_);
    server_ = soup_server_new("server-header", "kevra-gateway", nullptr);
    soup_server_add_handler(server_, nullptr, onRequest, this, nullptr);
    g_signal_connect(server_, "request-started", G_CALLBACK(onRequestStarted), this);
    g_signal_connect(server_, "request-read", G_CALLBACK(onRequestRead), this);
    g_signal_connect(server_, "request-finished", G_CALLBACK(onRequestDone), this);
    g_signal_connect(server_, "request-aborted", G_CALLBACK(onRequestDone), this);
    if (config_.requireAuth) {
        SoupAuthDomain* domain =
            soup_auth_domain_digest_new("realm", config_.realm.c_str(), nullptr);
        soup_auth_domain_set_filter(domain, onAuthFilter, this, nullptr);
        soup_auth_domain_digest_set_auth_callback(domain, onDigestLookup, this, nullptr);
        soup_auth_domain_add_path(domain, "/");
        soup_server_add_auth_domain(server_, domain);
        digest_ = domain;   // kept for the Open routes' own checks
    }

    RequestGate::Config gate;
    gate.address = config_.address;
    gate.port = config_.port;
    gate.maxHeaderBytes = config_.maxHeaderBytes;
    gate.requestTimeoutMs = config_.requestTimeoutMs;
    gate.refusal = "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
                   "Content-Type: text/plain\r\nContent-Length: 33\r\n\r\n"
                   "request line or headers too long\n";
    gate.label = "HTTP";
    gate_ = std::make_unique<RequestGate>(
        gate, limits_,
        [this](GSocketConnection* stream, const std::string& ip) { handOver(stream, ip); });
    std::string why = gate_->start(context_);
    if (why.empty())
        boundPort_ = gate_->boundPort();
    g_main_context_pop_thread_default(context_);
    return why;
}

void HttpServer::handOver(GSocketConnection* stream, const std::string& ip)
{
    GSocketAddress* remote = g_socket_connection_get_remote_address(stream, nullptr);
    GSocketAddress* local = g_socket_connection_get_local_address(stream, nullptr);
    if (remote && local) {
        auto* c = new Connection{this, stream, ip, keyOf(remote)};
        connections_[c->key] = c;
        g_object_weak_ref(G_OBJECT(stream), onStreamGone, c);
        // The request's headers are in; the rest (a body) must follow within the same time.
        armDeadline(c);
        GError* error = nullptr;
        if (!soup_server_accept_iostream(server_, G_IO_STREAM(stream), local, remote, &error)) {
            if (error)
                g_error_free(error);
            closeConnection(c);
        }
    }
    if (remote)
        g_object_unref(remote);
    if (local)
        g_object_unref(local);
}

void HttpServer::onStreamGone(gpointer connection, GObject*)
{
    auto* c = static_cast<Connection*>(connection);
    c->server->forget(c);
}

void HttpServer::forget(Connection* c)
{
    if (c->deadline)
        removeSource(context_, c->deadline);
    auto it = connections_.find(c->key);
    if (it != connections_.end() && it->second == c)
        connections_.erase(it);
    delete c;
}

void HttpServer::armDeadline(Connection* c)
{
    if (c->deadline)
        removeSource(context_, c->deadline);
    GSource* source = g_timeout_source_new(guint(config_.requestTimeoutMs));
    g_source_set_callback(
        source,
        +[](gpointer p) -> gboolean {
            auto* conn = static_cast<Connection*>(p);
            conn->deadline = 0;
            GatewayLog::detail("HTTP client " + conn->ip + ": closed, no complete request in time");
            conn->server->closeConnection(conn);
            return G_SOURCE_REMOVE;
        },
        c, nullptr);
    c->deadline = g_source_attach(source, context_);
    g_source_unref(source);
}

void HttpServer::refuse(Connection* c, const std::string& status, const std::string& text)
{
    std::string answer = "HTTP/1.1 " + status + "\r\nConnection: close\r\n" +
                         "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                         std::to_string(text.size() + 1) + "\r\n\r\n" + text + "\n";
    GSocket* socket = g_socket_connection_get_socket(c->stream);
    g_socket_send(socket, answer.data(), answer.size(), nullptr, nullptr);
    closeConnection(c);
}

void HttpServer::closeConnection(Connection* c)
{
    // libsoup sees the end of the stream and lets the connection go; forget() follows.
    GSocket* socket = g_socket_connection_get_socket(c->stream);
    g_socket_shutdown(socket, TRUE, TRUE, nullptr);
}

HttpServer::Connection* HttpServer::connectionOf(SoupServerMessage* msg)
{
    GSocketAddress* remote = soup_server_message_get_remote_address(msg);
    auto it = connections_.find(remote ? keyOf(remote) : "");
    return it == connections_.end() ? nullptr : it->second;
}

void HttpServer::onRequestStarted(SoupServer*, SoupServerMessage* msg, gpointer data)
{
    auto* self = static_cast<HttpServer*>(data);
    // Bodies are bounded as they arrive: by their declared length once the headers are in,
    // and by what came so far for chunked ones.
    g_signal_connect(msg, "got-headers", G_CALLBACK(+[](SoupServerMessage* m, gpointer s) {
                         auto* server = static_cast<HttpServer*>(s);
                         SoupMessageHeaders* h = soup_server_message_get_request_headers(m);
                         goffset length = soup_message_headers_get_content_length(h);
                         if (length > server->config_.maxBodyBytes)
                             if (Connection* c = server->connectionOf(m))
                                 server->refuse(c, "413 Content Too Large",
                                                "request body too large");
                     }),
                     self);
    g_signal_connect(msg, "got-chunk", G_CALLBACK(+[](SoupServerMessage* m, GBytes*, gpointer s) {
                         auto* server = static_cast<HttpServer*>(s);
                         SoupMessageBody* body = soup_server_message_get_request_body(m);
                         if (body->length > server->config_.maxBodyBytes)
                             if (Connection* c = server->connectionOf(m))
                                 server->refuse(c, "413 Content Too Large",
                                                "request body too large");
                     }),
                     self);
}

void HttpServer::onRequestRead(SoupServer*, SoupServerMessage* msg, gpointer data)
{
    auto* self = static_cast<HttpServer*>(data);
    if (Connection* c = self->connectionOf(msg)) {
        if (c->deadline)
            removeSource(self->context_, c->deadline);
        c->deadline = 0;
    }
}

void HttpServer::onRequestDone(SoupServer*, SoupServerMessage* msg, gpointer data)
{
    auto* self = static_cast<HttpServer*>(data);
    if (Connection* c = self->connectionOf(msg)) {
        self->armDeadline(c);
    }
}

gboolean HttpServer::onAuthFilter(SoupAuthDomain*, SoupServerMessage* msg, gpointer data)
{
    auto* self = static_cast<HttpServer*>(data);
    if (isLoopbackPeer(soup_server_message_get_remote_address(msg)))
        return FALSE;
    const Route* r = self->find(g_uri_get_path(soup_server_message_get_uri(msg)));
    return !(r && r->access == Access::Open);
}

char* HttpServer::onDigestLookup(SoupAuthDomain* domain, SoupServerMessage*, const char* username,
                                 gpointer data)
{
    auto* self = static_cast<HttpServer*>(data);
    if (!username || self->config_.credentials.user != username)
        return nullptr;
    return soup_auth_domain_digest_encode_password(username, soup_auth_domain_get_realm(domain),
                                                   self->config_.credentials.password.c_str());
}

void HttpServer::onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable* query,
                           gpointer data)
{
    auto* self = static_cast<HttpServer*>(data);
    auto shared = std::make_shared<HttpExchange::Shared>();
    shared->context = self->context_;
    shared->msg = SOUP_SERVER_MESSAGE(g_object_ref(msg));
    shared->disconnected = g_signal_connect_data(
        msg, "disconnected", G_CALLBACK(+[](SoupServerMessage*, gpointer p) {
            auto* s = static_cast<std::shared_ptr<HttpExchange::Shared>*>(p);
            std::lock_guard<std::recursive_mutex> lock((*s)->mutex);
            (*s)->gone = true;
        }),
        new std::shared_ptr<HttpExchange::Shared>(shared),
        +[](gpointer p, GClosure*) { deleteShared(p); }, GConnectFlags(0));

    auto exchange = std::shared_ptr<HttpExchange>(new HttpExchange());
    exchange->shared_ = shared;
    exchange->method_ = soup_server_message_get_method(msg);
    exchange->path_ = path ? path : "/";
    GSocketAddress* remote = soup_server_message_get_remote_address(msg);
    exchange->peer_ = remote ? ipOf(remote) : "?";
    exchange->loopback_ = remote && isLoopbackPeer(remote);
    GSocketAddress* local = soup_server_message_get_local_address(msg);
    exchange->localPort_ = G_IS_INET_SOCKET_ADDRESS(local)
                               ? g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local))
                               : self->boundPort_;
    if (query) {
        GHashTableIter it;
        gpointer k, v;
        g_hash_table_iter_init(&it, query);
        while (g_hash_table_iter_next(&it, &k, &v))
            exchange->query_[static_cast<const char*>(k)] = v ? static_cast<const char*>(v) : "";
    }
    SoupMessageHeaders* h = soup_server_message_get_request_headers(msg);
    SoupMessageHeadersIter hi;
    soup_message_headers_iter_init(&hi, h);
    const char *name, *value;
    while (soup_message_headers_iter_next(&hi, &name, &value)) {
        std::string lower;
        for (const char* p = name; *p; ++p)
            lower += char(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p);
        exchange->headers_[lower] = value;
    }
    exchange->host_ = exchange->header("host");
    SoupMessageBody* body = soup_server_message_get_request_body(msg);
    if (body && body->length > 0) {
        GBytes* bytes = soup_message_body_flatten(body);
        gsize size = 0;
        const char* p = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        exchange->body_.assign(p, size);
        g_bytes_unref(bytes);
    }

    const Route* r = self->find(exchange->path_);
    if (r && r->access == Access::Open && self->digest_) {
        // The auth domain leaves Open routes alone: their handler gets the check's outcome
        // and may ask for a challenge.
        shared->challenger = SOUP_AUTH_DOMAIN(g_object_ref(self->digest_));
        if (!exchange->header("authorization").empty()) {
            char* user = soup_auth_domain_accepts(self->digest_, msg);
            exchange->digest_ = user ? HttpExchange::Digest::Valid : HttpExchange::Digest::Wrong;
            g_free(user);
        }
    }
    if (!r) {
        exchange->respond(404, "text/plain; charset=utf-8", "not found\n");
    } else {
        r->handler(exchange);
    }
    std::lock_guard<std::recursive_mutex> lock(shared->mutex);
    shared->inHandler = false;
    if (shared->answered) {
        shared->apply();
    } else {
        shared->paused = true;
        soup_server_message_pause(msg);
    }
}

}   // namespace kevra::gateway
