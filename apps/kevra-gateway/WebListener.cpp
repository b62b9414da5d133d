#include "WebListener.h"

namespace kevra::gateway {

namespace {

constexpr const char* kRealm = "kevra-gateway";

bool fromThisMachine(SoupServerMessage* msg)
{
    GSocketAddress* remote = soup_server_message_get_remote_address(msg);
    if (!remote || !G_IS_INET_SOCKET_ADDRESS(remote))
        return false;
    return g_inet_address_get_is_loopback(
               g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(remote))) != FALSE;
}

}   // namespace

WebListener::WebListener(bool requireAuth, Credentials credentials)
    : requireAuth_(requireAuth), credentials_(std::move(credentials))
{
}

WebListener::~WebListener()
{
    if (server_) {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }
    if (auth_)
        g_object_unref(auth_);
}

std::string WebListener::start(const std::string& address, int port)
{
    server_ = soup_server_new("server-header", "kevra-gateway", nullptr);
    if (requireAuth_) {
        // Digest: a browser asks for it by itself and the password never crosses the network.
        auth_ = soup_auth_domain_digest_new("realm", kRealm, nullptr);
        soup_auth_domain_add_path(auth_, "/");
        soup_auth_domain_set_filter(
            auth_,
            [](SoupAuthDomain*, SoupServerMessage* msg, gpointer) -> gboolean {
                return !fromThisMachine(msg);
            },
            nullptr, nullptr);
        soup_auth_domain_digest_set_auth_callback(
            auth_,
            [](SoupAuthDomain*, SoupServerMessage*, const char* user, gpointer self) -> char* {
                auto* me = static_cast<WebListener*>(self);
                if (!user || me->credentials_.user != user)
                    return nullptr;
                return soup_auth_domain_digest_encode_password(user, kRealm,
                                                               me->credentials_.password.c_str());
            },
            this, nullptr);
        soup_server_add_auth_domain(server_, auth_);
    }
    GSocketAddress* where = g_inet_socket_address_new_from_string(
        address == "localhost" ? "127.0.0.1" : address.c_str(), guint(port));
    if (!where)
        return "cannot listen for HTTP on '" + address + "': not a numeric address";
    GError* error = nullptr;
    gboolean ok = soup_server_listen(server_, where, SoupServerListenOptions(0), &error);
    g_object_unref(where);
    if (!ok) {
        std::string why = "cannot listen for HTTP on " + address + ":" + std::to_string(port) +
                          ": " + (error ? error->message : "unknown error") +
                          " (choose another --http-port, or --no-http)";
        if (error)
            g_error_free(error);
        return why;
    }
    GSList* uris = soup_server_get_uris(server_);
    if (uris)
        port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    return "";
}

}   // namespace kevra::gateway
