// One HTTP listening port of the gateway on libsoup 3, on the GLib main context the RTSP server
// runs on. It owns the limits every HTTP port shares: connections admitted through the shared
// ConnectionLimits and held at a RequestGate until their request's headers are in (bounded:
// 431, then closed), a deadline to complete the request from the connection's opening, bounded
// bodies (413, then closed), one request per connection,
// and the rule of who may see: loopback peers without credentials, others only with HTTP Digest
// credentials unless authentication is off. Modules register handlers for paths; a handler may
// answer at once or later from any thread.
// Threads: start(), route() and every libsoup callback run on the owner's main context thread
// (route() before that context's loop runs or from it); HttpExchange::respond() may be called
// from any thread.
#pragma once
#include <libsoup/soup.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RequestGate.h"
#include "Secrets.h"

namespace kevra::gateway {

class ConnectionLimits;

// One request waiting for its answer. Shared by the server and the handler; the answer is sent
// once, by the first respond() call (later ones do nothing). If every holder lets it go without
// an answer, the client gets 500.
class HttpExchange {
public:
    ~HttpExchange();
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    const std::string& method() const { return method_; }
    const std::string& path() const { return path_; }   // decoded, without the query
    // The query parameter `name`, or "" (values are URL-decoded by libsoup).
    std::string query(const std::string& name) const;
    // The request header `name`, or "".
    std::string header(const std::string& name) const;
    const std::string& body() const { return body_; }
    const std::string& peer() const { return peer_; }   // the client's IP address
    bool loopback() const { return loopback_; }
    // "http://HOST:PORT" as the client addressed this server (its Host header, checked), for
    // links in answers.
    std::string baseUrl() const;

    // The HTTP Digest credentials the request carried, checked, on an Open route of a server
    // that has credentials (Protected routes are checked before their handler runs).
    enum class Digest { None, Valid, Wrong };
    Digest digest() const { return digest_; }

    // Any thread, once. `headers` are added to the answer; `challenge` adds the server's
    // Digest challenge to a 401 of an Open route.
    void respond(int status, const std::string& contentType, std::string body,
                 std::vector<std::pair<std::string, std::string>> headers = {},
                 bool challenge = false);
    // True once the client went away; a slow handler may give up.
    bool gone() const;

    struct Shared;   // the server's side (HttpServer.cpp)

private:
    friend class HttpServer;
    HttpExchange() = default;

    std::string method_, path_, body_, peer_, host_;
    bool loopback_ = false;
    Digest digest_ = Digest::None;
    int localPort_ = 0;
    std::map<std::string, std::string> query_;
    std::map<std::string, std::string> headers_;   // names lower-case
    std::shared_ptr<Shared> shared_;
};

using HttpHandler = std::function<void(const std::shared_ptr<HttpExchange>&)>;

class HttpServer {
public:
    struct Config {
        std::string address = "127.0.0.1";
        int port = 8080;            // 0: any free port
        bool requireAuth = false;   // credentials needed from other than loopback addresses
        Credentials credentials;    // Digest user and password
        std::string realm = "kevra-gateway";
        int requestTimeoutMs = 10000;
        int maxHeaderBytes = 16 * 1024;   // request line and headers
        int maxBodyBytes = 64 * 1024;
    };
    // Whether a route's requests pass the Digest check; Open is for modules that authenticate
    // in their own protocol (they still get peer() and loopback()).
    enum class Access { Protected, Open };

    // `limits` is shared with the gateway's other ports and must outlive the server.
    HttpServer(Config config, ConnectionLimits& limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // A handler for `path` exactly, or for every path below it when `path` ends in '/' ("/"
    // itself is exact). The
    // longest match wins; nothing matches: 404.
    void route(const std::string& path, HttpHandler handler, Access access = Access::Protected);

    // Binds and attaches to `context`. "" or the one-line reason it failed.
    std::string start(GMainContext* context);
    int boundPort() const { return boundPort_; }
    const Config& config() const { return config_; }

private:
    struct Route {
        std::string path;
        HttpHandler handler;
        Access access;
    };
    struct Connection;

    const Route* find(const std::string& path) const;
    void handOver(GSocketConnection* stream, const std::string& ip);
    static void onRequest(SoupServer* server, SoupServerMessage* msg, const char* path,
                          GHashTable* query, gpointer self);
    static void onRequestStarted(SoupServer* server, SoupServerMessage* msg, gpointer self);
    static void onRequestRead(SoupServer* server, SoupServerMessage* msg, gpointer self);
    static void onRequestDone(SoupServer* server, SoupServerMessage* msg, gpointer self);
    static gboolean onAuthFilter(SoupAuthDomain* domain, SoupServerMessage* msg, gpointer self);
    static char* onDigestLookup(SoupAuthDomain* domain, SoupServerMessage* msg,
                                const char* username, gpointer self);
    Connection* connectionOf(SoupServerMessage* msg);
    void armDeadline(Connection* c);
    void closeConnection(Connection* c);
    // Sends a fixed answer with `status` ("431 ...") on the socket itself and closes.
    void refuse(Connection* c, const std::string& status, const std::string& text);
    void forget(Connection* c);
    static void onStreamGone(gpointer connection, GObject* stream);

    Config config_;
    ConnectionLimits& limits_;
    std::vector<Route> routes_;
    SoupServer* server_ = nullptr;
    SoupAuthDomain* digest_ = nullptr;    // own reference; with credentials only
    std::unique_ptr<RequestGate> gate_;   // accepts, counts and holds connections until their
                                          // headers are in
    GMainContext* context_ = nullptr;
    int boundPort_ = 0;
    std::map<std::string, Connection*> connections_;   // by "ip:port" of the peer
};

}   // namespace kevra::gateway
