#include "Gateway.h"

#include <glib-unix.h>
#include <gst/gst.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "CameraHub.h"
#include "ConnectionLimits.h"
#include "DiscoveryResponder.h"
#include "GatewayLog.h"
#include "HttpServer.h"
#include "OnvifFront.h"
#include "OnvifService.h"
#include "RecorderLink.h"
#include "RtspFront.h"
#include "Secrets.h"
#include "SnapshotService.h"
#include "StatusService.h"

namespace kevra::gateway {

namespace {

constexpr int kFirstListWaitMs = 12000;

// A publisher for --list: nothing is served.
class NoPublisher : public CameraPublisher {
public:
    void publish(const std::shared_ptr<CameraHub>&) override {}
    void unpublish(const std::string&) override {}
};

std::string urlHost(const std::string& listen)
{
    if (listen == "0.0.0.0" || listen == "::")
        return g_get_host_name();
    if (listen.find(':') != std::string::npos)
        return "[" + listen + "]";
    return listen;
}

// With ONVIF, each line ends in the camera's ONVIF device address.
void printUrls(const std::vector<std::unique_ptr<RecorderLink>>& links, const std::string& host,
               int port, const std::vector<int>& onvifPorts)
{
    size_t k = 0;
    for (const auto& link : links) {
        auto cams = link->cameras();
        if (cams.empty())
            std::printf("# recorder %s (%s:%d): no cameras known yet\n",
                        link->address().name.c_str(), link->address().host.c_str(),
                        link->address().port);
        for (const auto& cam : cams) {
            std::string onvif = k < onvifPorts.size()
                                    ? "\thttp://" + host + ":" + std::to_string(onvifPorts[k]) +
                                          "/onvif/device_service"
                                    : "";
            ++k;
            std::printf("rtsp://%s:%d%s\t%s%s\n", host.c_str(), port, cam.path.c_str(),
                        cam.name.c_str(), onvif.c_str());
        }
    }
    std::fflush(stdout);
}

// The folder of the running executable (the language files are beside it).
std::string executableDir()
{
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return ".";
    std::string path(buffer.data(), size_t(n));
    return path.substr(0, path.rfind('/'));
}

}   // namespace

int runGateway(const GatewayOptions& options)
{
    GatewayLog::setVerbose(options.verbose);
    Secrets secrets;
    if (!options.secretsFile.empty()) {
        std::string why = secrets.load(options.secretsFile);
        if (!why.empty()) {
            std::fprintf(stderr, "kevra-gateway: %s\n", why.c_str());
            return 2;
        }
    }
    bool auth = secrets.hasRtsp && !options.noAuth;
    if (!options.listOnly && !auth && !options.noAuth && !isLoopbackAddress(options.listen)) {
        std::fprintf(stderr,
                     "kevra-gateway: listening on %s lets other machines watch: give RTSP "
                     "credentials ([rtsp] user and password in the --secrets file) or turn "
                     "them off with --no-auth\n",
                     options.listen.c_str());
        return 2;
    }

    gst_init(nullptr, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    NoPublisher none;
    // Every connection gives its count back when its stream is finalized, which the RTSP
    // server may do after this function has returned: the limits live as long as the process.
    // (Held by a static pointer, so leak checkers see it reachable.)
    // runGateway runs once per process.
    static ConnectionLimits* const processLimits =
        new ConnectionLimits(options.maxClients, options.maxClientsPerAddress);
    ConnectionLimits& limits = *processLimits;
    std::unique_ptr<RtspFront> front;
    std::unique_ptr<HttpServer> http;
    GMainContext* context = g_main_context_default();
    if (!options.listOnly) {
        RtspFront::Config config;
        config.address = options.listen;
        config.port = options.rtspPort;
        config.requireAuth = auth;
        config.credentials = secrets.rtsp;
        config.clientQueueBytes = uint64_t(options.clientQueueKb) * 1024;
        config.stats = options.stats;
        config.limits = &limits;
        config.requestTimeoutMs = options.requestTimeoutSeconds * 1000;
        config.maxHeaderBytes = options.maxHeaderKb * 1024;
        config.maxBodyBytes = options.maxBodyKb * 1024;
        front = std::make_unique<RtspFront>(config);
        std::string why = front->start(context);
        if (!why.empty()) {
            std::fprintf(stderr, "kevra-gateway: %s\n", why.c_str());
            return 1;
        }
        GatewayLog::line("listening on rtsp://" + urlHost(options.listen) + ":" +
                         std::to_string(front->boundPort()) +
                         (auth ? " (digest authentication)" : " (no authentication)"));
        if (options.httpPort >= 0) {
            HttpServer::Config hc;
            hc.address = options.listen;
            hc.port = options.httpPort;
            hc.requireAuth = auth;
            hc.credentials = secrets.rtsp;
            hc.requestTimeoutMs = options.requestTimeoutSeconds * 1000;
            hc.maxHeaderBytes = options.maxHeaderKb * 1024;
            hc.maxBodyBytes = options.maxBodyKb * 1024;
            http = std::make_unique<HttpServer>(hc, limits);
            why = http->start(context);
            if (!why.empty()) {
                std::fprintf(stderr, "kevra-gateway: %s\n", why.c_str());
                return 1;
            }
            GatewayLog::line(
                "listening on http://" + urlHost(options.listen) + ":" +
                std::to_string(http->boundPort()) +
                (auth ? " (digest authentication beyond this machine)" : " (no authentication)"));
        }
    }

    std::vector<std::unique_ptr<RecorderLink>> links;
    for (const RecorderAddress& r : options.recorders) {
        CameraPublisher& publisher = front ? static_cast<CameraPublisher&>(*front) : none;
        links.push_back(std::make_unique<RecorderLink>(
            r, secrets.recorder(r.name), uint64_t(options.idleCloseSeconds) * 1000, publisher));
        links.back()->start();
    }
    for (auto& link : links)
        link->waitFirstList(kFirstListWaitMs);

    // ONVIF: one device per camera of the list as printed now.
    std::unique_ptr<OnvifService> onvif;
    std::unique_ptr<OnvifFront> onvifFront;
    std::unique_ptr<DiscoveryResponder> discovery;
    std::vector<std::shared_ptr<CameraHub>> hubs;
    if (!options.listOnly && !options.noOnvif) {
        OnvifService::Config config;
        for (auto& link : links)
            for (const auto& cam : link->cameras()) {
                OnvifCamera c;
                c.recorder = link->address().name;
                c.number = cam.hub->channel() + 1;
                c.channel = cam.hub->channel();
                c.name = cam.name;
                c.rtspPath = cam.path;
                c.deriveIdentity();
                config.cameras.push_back(c);
                config.ptz.push_back(link.get());
                hubs.push_back(cam.hub);
            }
        config.listenHost = urlHost(options.listen);
        config.rtspPort = front->boundPort();
        config.requireAuth = auth;
        config.credentials = secrets.rtsp;
        config.facts = [&hubs](int camera) { return hubs[size_t(camera)]->facts(); };
        config.httpPort = http ? http->boundPort() : 0;   // snapshots
        auto cameras = config.cameras;
        onvif = std::make_unique<OnvifService>(std::move(config));
        OnvifFront::Config frontConfig;
        frontConfig.http.address = options.listen;
        frontConfig.http.requireAuth = auth;
        frontConfig.http.credentials = secrets.rtsp;
        frontConfig.http.requestTimeoutMs = options.requestTimeoutSeconds * 1000;
        frontConfig.http.maxHeaderBytes = options.maxHeaderKb * 1024;
        frontConfig.http.maxBodyBytes = options.maxBodyKb * 1024;
        frontConfig.basePort = options.onvifPort;
        onvifFront = std::make_unique<OnvifFront>(*onvif, frontConfig, limits);
        std::string why = cameras.empty() ? "" : onvifFront->start(context);
        if (!why.empty()) {
            std::fprintf(stderr, "kevra-gateway: %s\n", why.c_str());
            for (auto& link : links)
                link->stop();
            return 1;
        }
        for (size_t i = 0; i < cameras.size(); ++i)
            cameras[i].port = onvifFront->ports()[i];
        onvif->setPorts(onvifFront->ports());
        if (!cameras.empty()) {
            GatewayLog::line(
                "ONVIF devices on " +
                (options.onvifPort == 0 ? std::string("free ports (listed with the URLs)")
                                        : "ports " + std::to_string(cameras.front().port) + "-" +
                                              std::to_string(cameras.back().port)) +
                (auth ? " (WS-UsernameToken or HTTP Digest beyond this machine)" : ""));
            discovery = std::make_unique<DiscoveryResponder>(cameras, options.listen,
                                                             options.discoveryPort);
            why = discovery->start(context);
            if (why.empty())
                GatewayLog::line("WS-Discovery on UDP port " +
                                 std::to_string(discovery->boundPort()));
            else
                GatewayLog::line("no WS-Discovery: " + why);
        }
    }
    printUrls(links, urlHost(options.listen), front ? front->boundPort() : options.rtspPort,
              onvifFront ? onvifFront->ports() : std::vector<int>{});
    std::unique_ptr<SnapshotService> snapshots;
    std::unique_ptr<StatusService> pages;
    if (http) {
        snapshots = std::make_unique<SnapshotService>();
        pages =
            std::make_unique<StatusService>(links, front->boundPort(), *snapshots, executableDir());
        pages->addRoutes(*http);
        if (onvifFront) {
            std::map<std::string, int> ports;
            for (size_t i = 0; i < onvif->cameras().size(); ++i)
                ports[onvif->cameras()[i].rtspPath] = onvifFront->ports()[i];
            pages->setOnvifPorts(std::move(ports));
        }
        std::printf("http://%s:%d/\tstatus page (also /api/cameras, /api/recorders, /metrics, "
                    "/snapshot/NAME/N.jpg)\n",
                    urlHost(options.listen).c_str(), http->boundPort());
        std::fflush(stdout);
    }

    int status = 0;
    if (!options.listOnly) {
        GMainLoop* loop = g_main_loop_new(context, FALSE);
        auto quit = +[](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_CONTINUE;
        };
        guint term = g_unix_signal_add(SIGTERM, quit, loop);
        guint interrupt = g_unix_signal_add(SIGINT, quit, loop);
        g_main_loop_run(loop);
        GatewayLog::line("stopping");
        g_source_remove(term);
        g_source_remove(interrupt);
        if (discovery)
            discovery->stop();   // Bye
        front->closeAllClients();
        // Let the closed clients' sessions and pipelines wind down.
        while (g_main_context_iteration(context, FALSE)) {}
        g_main_loop_unref(loop);
    } else {
        for (auto& link : links)
            if (link->cameras().empty())
                status = 1;
    }
    discovery.reset();
    onvifFront.reset();
    onvif.reset();
    http.reset();   // no handler runs after this
    snapshots.reset();
    pages.reset();
    for (auto& link : links)
        link->stop();
    links.clear();
    if (front && options.stats) {
        std::string s = front->stats().summary();
        GatewayLog::line("delay added (frame in -> first RTP packet out): " +
                         (s.empty() ? std::string("no frames") : s));
    }
    front.reset();
    return status;
}

}   // namespace kevra::gateway
