#include "OnvifFront.h"

#include "GatewayLog.h"

namespace kevra::gateway {

namespace {

uint64_t nowMs()
{
    return uint64_t(g_get_monotonic_time() / 1000);
}

}   // namespace

OnvifFront::OnvifFront(OnvifService& service, Config config, ConnectionLimits& limits)
    : service_(service), config_(std::move(config)), limits_(limits)
{
    config_.http.realm = "kevra-gateway";
}

OnvifFront::~OnvifFront()
{
    if (timer_) {
        g_source_destroy(timer_);
        g_source_unref(timer_);
    }
    servers_.clear();
}

std::string OnvifFront::start(GMainContext* context)
{
    context_ = context;
    const size_t count = service_.cameras().size();
    if (config_.basePort != 0 && config_.basePort + count - 1 > 65535)
        return "ONVIF ports from " + std::to_string(config_.basePort) + " run past 65535 for " +
               std::to_string(count) + " cameras (give a lower --onvif-port)";
    for (size_t i = 0; i < count; ++i) {
        HttpServer::Config c = config_.http;
        c.port = config_.basePort == 0 ? 0 : config_.basePort + int(i);
        auto server = std::make_unique<HttpServer>(c, limits_);
        // Open: the ONVIF side checks credentials itself (WS-UsernameToken or HTTP Digest),
        // as clients must ask the time before they can make a token.
        server->route(
            "/onvif/", [this, i](const std::shared_ptr<HttpExchange>& e) { respond(int(i), e); },
            HttpServer::Access::Open);
        std::string why = server->start(context);
        if (!why.empty())
            return "ONVIF device of camera " + service_.cameras()[i].rtspPath + ": " + why;
        ports_.push_back(server->boundPort());
        servers_.push_back(std::move(server));
    }
    return "";
}

void OnvifFront::respond(int camera, const std::shared_ptr<HttpExchange>& exchange)
{
    if (exchange->method() != "POST") {
        exchange->respond(405, "text/plain; charset=utf-8", "SOAP requests are POSTed\n",
                          {{"Allow", "POST"}});
        return;
    }
    OnvifService::Context context;
    context.camera = camera;
    context.host = exchange->header("Host");
    context.loopback = exchange->loopback();
    context.httpAuth =
        exchange->digest() == HttpExchange::Digest::Valid   ? OnvifService::HttpAuth::Valid
        : exchange->digest() == HttpExchange::Digest::Wrong ? OnvifService::HttpAuth::Wrong
                                                            : OnvifService::HttpAuth::None;
    context.nowMs = nowMs();
    context.unixNow = g_get_real_time() / 1000000;
    const std::string& body = exchange->body();
    OnvifService::Reply reply = service_.handle(body.data(), body.size(), context);
    exchange->respond(reply.status, "application/soap+xml; charset=utf-8", std::move(reply.body),
                      {}, reply.challenge);
    GatewayLog::detail("ONVIF " + service_.cameras()[size_t(camera)].rtspPath + " " +
                       exchange->peer() + " " + std::to_string(reply.status));
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
