#include "RtspFront.h"

#include <sstream>
#include <string>
#include <vector>

#include "AppsrcClient.h"
#include "CameraHub.h"
#include "GatewayLog.h"
#include "RtspClientGuard.h"

// A media factory per camera: it builds a client's pipeline once the camera's codec is known.
struct KevraFactory {
    GstRTSPMediaFactory parent;
    std::shared_ptr<kevra::gateway::CameraHub>* hub;
    kevra::gateway::RtspFront* front;
};
struct KevraFactoryClass {
    GstRTSPMediaFactoryClass parent_class;
};

G_DEFINE_TYPE(KevraFactory, kevra_factory, GST_TYPE_RTSP_MEDIA_FACTORY)

namespace kevra::gateway {
namespace {

constexpr const char* kCodecKey = "kevra-codec";
constexpr const char* kClientKey = "kevra-client";
constexpr const char* kLabelKey = "kevra-label";
constexpr const char* kPathKey = "kevra-path";
constexpr const char* kAddressKey = "kevra-address";
constexpr const char* kChallengedKey = "kevra-challenged";   // asked for credentials, none came
constexpr const char* kRefusalsKey = "kevra-refusals";

// Clients a media server reconnects at once (hundreds of cameras after a restart) all wait in
// the kernel's accept queue rather than in TCP's one-second retry of a dropped connect. The
// kernel caps it at net.core.somaxconn.
constexpr int kListenBacklog = 1024;

// The methods an OPTIONS reply lists, without those for publishing a stream (ANNOUNCE, RECORD),
// which this server never accepts.
std::string withoutPublishing(const std::string& methods)
{
    std::istringstream in(methods);
    std::string method, out;
    while (std::getline(in, method, ',')) {
        method.erase(0, method.find_first_not_of(' '));
        if (method.empty() || method == "ANNOUNCE" || method == "RECORD")
            continue;
        out += (out.empty() ? "" : ", ") + method;
    }
    return out;
}

// The client's own pipeline. No transcoding, and no parser either: the frames come whole
// (one access unit per buffer) with their parameter sets in band before every key frame, and
// a parser would hold each frame back until the next one began.
std::string pipelineFor(OutCodec codec, uint64_t queueLimit)
{
    std::string src = "appsrc name=src is-live=true format=time do-timestamp=false block=false "
                      "max-bytes=" +
                      std::to_string(queueLimit * 2) + " ";
    if (codec == OutCodec::H264)
        return src + "caps=video/x-h264,stream-format=byte-stream,alignment=au ! "
                     "rtph264pay name=pay0 pt=96 config-interval=-1";
    return src + "caps=video/mpeg,mpegversion=4,systemstream=false ! "
                 "rtpmp4vpay name=pay0 pt=96 config-interval=-1";
}

std::string labelOf(GstRTSPClient* client)
{
    auto* label = static_cast<std::string*>(g_object_get_data(G_OBJECT(client), kLabelKey));
    auto* path = static_cast<std::string*>(g_object_get_data(G_OBJECT(client), kPathKey));
    std::string text = label ? *label : "client";
    if (path)
        text += ", " + *path;
    return text;
}

void freeString(gpointer p)
{
    delete static_cast<std::string*>(p);
}

struct EndJob {
    GstRTSPServer* server;
    GstRTSPMedia* media;
    bool slow;
    bool found = false;
};

GstRTSPFilterResult findMedia(GstRTSPSession*, GstRTSPSessionMedia* sm, gpointer data)
{
    auto* job = static_cast<EndJob*>(data);
    if (gst_rtsp_session_media_get_media(sm) == job->media)
        job->found = true;
    return GST_RTSP_FILTER_KEEP;
}

GstRTSPFilterResult findSession(GstRTSPClient*, GstRTSPSession* session, gpointer data)
{
    gst_rtsp_session_filter(session, findMedia, data);
    return GST_RTSP_FILTER_KEEP;
}

GstRTSPFilterResult pickClient(GstRTSPServer*, GstRTSPClient* client, gpointer data)
{
    auto* job = static_cast<EndJob*>(data);
    job->found = false;
    gst_rtsp_client_session_filter(client, findSession, data);
    return job->found ? GST_RTSP_FILTER_REF : GST_RTSP_FILTER_KEEP;
}

gboolean runEndJob(gpointer data)
{
    auto* job = static_cast<EndJob*>(data);
    GList* clients = gst_rtsp_server_client_filter(job->server, pickClient, job);
    for (GList* l = clients; l; l = l->next) {
        auto* client = GST_RTSP_CLIENT(l->data);
        GatewayLog::line(labelOf(client) + (job->slow ? ": dropped, it did not keep up"
                                                      : ": ended, the camera's codec changed"));
        gst_rtsp_client_close(client);
    }
    g_list_free_full(clients, g_object_unref);
    return G_SOURCE_REMOVE;
}

GstRTSPFilterResult pickAll(GstRTSPServer*, GstRTSPClient*, gpointer)
{
    return GST_RTSP_FILTER_REF;
}

// The refusal log, from the client's own reference (a client may outlive the front).
RefusalLog* refusalsOf(GstRTSPClient* client)
{
    auto* log = static_cast<std::shared_ptr<RefusalLog>*>(
        g_object_get_data(G_OBJECT(client), kRefusalsKey));
    return log ? log->get() : nullptr;
}

}   // namespace

// Every reply a client gets passes here (its thread) before it is sent.
void RtspFront::onSendMessage(GstRTSPClient* client, GstRTSPContext* ctx, GstRTSPMessage* message,
                              gpointer)
{
    if (!message || gst_rtsp_message_get_type(message) != GST_RTSP_MESSAGE_RESPONSE)
        return;
    GstRTSPStatusCode code = GST_RTSP_STS_OK;
    if (gst_rtsp_message_parse_response(message, &code, nullptr, nullptr) != GST_RTSP_OK)
        return;
    GObject* object = G_OBJECT(client);
    if (code == GST_RTSP_STS_OK && ctx && ctx->method == GST_RTSP_OPTIONS) {
        gchar* methods = nullptr;
        if (gst_rtsp_message_get_header(message, GST_RTSP_HDR_PUBLIC, &methods, 0) == GST_RTSP_OK) {
            const std::string kept = withoutPublishing(methods);
            gst_rtsp_message_remove_header(message, GST_RTSP_HDR_PUBLIC, -1);
            gst_rtsp_message_add_header(message, GST_RTSP_HDR_PUBLIC, kept.c_str());
        }
    }
    if (code < 300) {
        g_object_set_data(object, kChallengedKey, nullptr);
        return;
    }
    RefusalLog* refusals = refusalsOf(client);
    auto* address = static_cast<std::string*>(g_object_get_data(object, kAddressKey));
    if (!address || !refusals)
        return;
    if (code == GST_RTSP_STS_UNAUTHORIZED) {
        gchar* given = nullptr;
        const bool offered = ctx && ctx->request &&
                             gst_rtsp_message_get_header(ctx->request, GST_RTSP_HDR_AUTHORIZATION,
                                                         &given, 0) == GST_RTSP_OK;
        // A request without credentials gets the challenge every client expects first; it
        // is a refusal only if the client leaves without answering it.
        if (!offered) {
            g_object_set_data(object, kChallengedKey, GINT_TO_POINTER(1));
            return;
        }
        refusals->note(*address, 401,
                       labelOf(client) + ": refused, wrong user name or password (401)");
    } else if (code == GST_RTSP_STS_NOT_FOUND) {
        const std::string path =
            ctx && ctx->uri && ctx->uri->abspath ? ctx->uri->abspath : std::string("?");
        refusals->note(*address, 404,
                       labelOf(client) + ": refused, no camera at " + path + " (404)");
    }
}

}   // namespace kevra::gateway

using kevra::gateway::AppsrcClient;
using kevra::gateway::GatewayLog;
using kevra::gateway::OutCodec;

static GstElement* kevra_factory_create_element(GstRTSPMediaFactory* factory, const GstRTSPUrl*)
{
    auto* self = reinterpret_cast<KevraFactory*>(factory);
    auto& hub = **self->hub;
    kevra::gateway::RtspFront::Building building(*self->front);
    OutCodec codec = OutCodec::None;
    if (!hub.waitReady(self->front->config().readyTimeoutMs, codec) || codec == OutCodec::None) {
        GatewayLog::line("camera " + hub.path() + ": no picture from the recorder within " +
                         std::to_string(self->front->config().readyTimeoutMs / 1000) +
                         " s; the client is refused (503)");
        return nullptr;
    }
    std::string launch = kevra::gateway::pipelineFor(codec, self->front->config().clientQueueBytes);
    GError* error = nullptr;
    GstElement* element =
        gst_parse_launch_full(launch.c_str(), nullptr, GST_PARSE_FLAG_PLACE_IN_BIN, &error);
    if (!element || error) {
        GatewayLog::line("camera " + hub.path() + ": cannot build the stream (" +
                         (error ? error->message : "unknown error") +
                         "); are the GStreamer good and bad plug-ins installed?");
        if (error)
            g_error_free(error);
        if (element)
            gst_object_unref(element);
        return nullptr;
    }
    g_object_set_data(G_OBJECT(element), kevra::gateway::kCodecKey, GINT_TO_POINTER(int(codec)));
    return element;
}

static void kevra_factory_configure(GstRTSPMediaFactory* factory, GstRTSPMedia* media)
{
    GST_RTSP_MEDIA_FACTORY_CLASS(kevra_factory_parent_class)->configure(factory, media);
    auto* self = reinterpret_cast<KevraFactory*>(factory);
    kevra::gateway::RtspFront::Building building(*self->front);
    GstElement* bin = gst_rtsp_media_get_element(media);
    if (!bin)
        return;
    auto codec =
        OutCodec(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(bin), kevra::gateway::kCodecKey)));
    GstElement* src = gst_bin_get_by_name(GST_BIN(bin), "src");
    GstElement* pay = gst_bin_get_by_name(GST_BIN(bin), "pay0");
    if (src) {
        kevra::gateway::RtspFront* front = self->front;
        auto* client =
            new AppsrcClient(*self->hub, codec, src, media, front->config().clientQueueBytes,
                             front->config().stats ? &front->stats() : nullptr,
                             [front](GstRTSPMedia* m, bool slow) { front->endClientOf(m, slow); });
        client->watchPayloader(pay);
        g_object_set_data_full(G_OBJECT(media), kevra::gateway::kClientKey, client,
                               [](gpointer p) { delete static_cast<AppsrcClient*>(p); });
        g_signal_connect(src, "need-data", G_CALLBACK(+[](GstElement*, guint, gpointer c) {
                             static_cast<AppsrcClient*>(c)->attach();
                         }),
                         client);
        g_signal_connect(media, "unprepared", G_CALLBACK(+[](GstRTSPMedia*, gpointer c) {
                             static_cast<AppsrcClient*>(c)->detach();
                         }),
                         client);
        gst_object_unref(src);
    }
    if (pay)
        gst_object_unref(pay);
    gst_object_unref(bin);
}

static void kevra_factory_finalize(GObject* object)
{
    auto* self = reinterpret_cast<KevraFactory*>(object);
    delete self->hub;
    G_OBJECT_CLASS(kevra_factory_parent_class)->finalize(object);
}

static void kevra_factory_class_init(KevraFactoryClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = kevra_factory_finalize;
    GST_RTSP_MEDIA_FACTORY_CLASS(klass)->create_element = kevra_factory_create_element;
    GST_RTSP_MEDIA_FACTORY_CLASS(klass)->configure = kevra_factory_configure;
}

static void kevra_factory_init(KevraFactory* self)
{
    self->hub = nullptr;
    self->front = nullptr;
}

namespace kevra::gateway {

RtspFront::RtspFront(Config config) : config_(std::move(config))
{
    server_ = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server_, config_.address.c_str());
    gst_rtsp_server_set_service(server_, std::to_string(config_.port).c_str());
    gst_rtsp_server_set_backlog(server_, kListenBacklog);
    // Each client is served on a thread of its own, so one waiting for a camera's first key
    // frame holds up nobody else.
    GstRTSPThreadPool* pool = gst_rtsp_server_get_thread_pool(server_);
    gst_rtsp_thread_pool_set_max_threads(pool, 64);
    g_object_unref(pool);
    gst_rtsp_server_set_content_length_limit(server_, guint(config_.maxBodyBytes));
    mounts_ = gst_rtsp_server_get_mount_points(server_);
    if (config_.requireAuth) {
        GstRTSPAuth* auth = gst_rtsp_auth_new();
        gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
        GstRTSPToken* token =
            gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
        gst_rtsp_auth_add_digest(auth, config_.credentials.user.c_str(),
                                 config_.credentials.password.c_str(), token);
        gst_rtsp_token_unref(token);
        gst_rtsp_server_set_auth(server_, auth);
        g_object_unref(auth);
    }
    g_signal_connect(server_, "client-connected", G_CALLBACK(onClientConnected), this);
}

RtspFront::~RtspFront()
{
    gate_.reset();
    // A client thread may still be building a media (waiting for a first key frame).
    for (int i = 0; building_ > 0 && i < config_.readyTimeoutMs / 10 + 100; ++i)
        g_usleep(10000);
    if (source_) {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    g_object_unref(mounts_);
    g_object_unref(server_);
}

std::string RtspFront::start(GMainContext* context)
{
    context_ = context;
    if (config_.limits) {
        RequestGate::Config gate;
        gate.address = config_.address;
        gate.port = config_.port;
        gate.maxHeaderBytes = config_.maxHeaderBytes;
        gate.requestTimeoutMs = config_.requestTimeoutMs;
        gate.refusal = "RTSP/1.0 400 Bad Request\r\nConnection: close\r\n\r\n";
        gate.label = "RTSP";
        gate.backlog = kListenBacklog;
        gate_ = std::make_unique<RequestGate>(
            gate, *config_.limits,
            [this](GSocketConnection* stream, const std::string& ip) { handOver(stream, ip); });
        return gate_->start(context_);
    }
    GError* error = nullptr;
    source_ = gst_rtsp_server_create_source(server_, nullptr, &error);
    if (!source_) {
        std::string why = error ? error->message : "unknown error";
        if (error)
            g_error_free(error);
        return "cannot listen on " + config_.address + ":" + std::to_string(config_.port) + ": " +
               why;
    }
    g_source_attach(source_, context_);
    return "";
}

int RtspFront::boundPort() const
{
    return gate_ ? gate_->boundPort() : gst_rtsp_server_get_bound_port(server_);
}

void RtspFront::handOver(GSocketConnection* stream, const std::string& ip)
{
    GSocket* socket = g_socket_connection_get_socket(stream);
    GSocketAddress* remote = g_socket_connection_get_remote_address(stream, nullptr);
    int port = remote && G_IS_INET_SOCKET_ADDRESS(remote)
                   ? g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(remote))
                   : 0;
    if (remote)
        g_object_unref(remote);
    // The server announces the client (onClientConnected) before this returns; the stream is
    // kept with the client there, since closing it would close the socket under the server.
    handing_ = stream;
    gst_rtsp_server_transfer_connection(server_, G_SOCKET(g_object_ref(socket)), ip.c_str(), port,
                                        nullptr);
    handing_ = nullptr;
}

void RtspFront::closeAllClients()
{
    GList* clients = gst_rtsp_server_client_filter(server_, pickAll, nullptr);
    for (GList* l = clients; l; l = l->next)
        gst_rtsp_client_close(GST_RTSP_CLIENT(l->data));
    g_list_free_full(clients, g_object_unref);
}

void RtspFront::publish(const std::shared_ptr<CameraHub>& hub)
{
    auto* factory = static_cast<KevraFactory*>(g_object_new(kevra_factory_get_type(), nullptr));
    factory->hub = new std::shared_ptr<CameraHub>(hub);
    factory->front = this;
    auto* base = GST_RTSP_MEDIA_FACTORY(factory);
    gst_rtsp_media_factory_set_shared(base, FALSE);
    gst_rtsp_media_factory_set_suspend_mode(base, GST_RTSP_SUSPEND_MODE_NONE);
    if (config_.requireAuth)
        gst_rtsp_media_factory_add_role(base, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                        G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                        G_TYPE_BOOLEAN, TRUE, nullptr);
    gst_rtsp_mount_points_add_factory(mounts_, hub->path().c_str(), base);
}

void RtspFront::unpublish(const std::string& path)
{
    gst_rtsp_mount_points_remove_factory(mounts_, path.c_str());
}

void RtspFront::endClientOf(GstRTSPMedia* media, bool slow)
{
    auto* job = new EndJob{server_, media, slow};
    g_main_context_invoke_full(context_, G_PRIORITY_DEFAULT, runEndJob, job,
                               [](gpointer p) { delete static_cast<EndJob*>(p); });
}

void RtspFront::onClientConnected(GstRTSPServer*, GstRTSPClient* client, gpointer data)
{
    auto* self = static_cast<RtspFront*>(data);
    int number = ++self->clientNumbers_;
    GstRTSPConnection* connection = gst_rtsp_client_get_connection(client);
    const char* ip = connection ? gst_rtsp_connection_get_ip(connection) : nullptr;
    auto* label =
        new std::string("client " + std::to_string(number) + " (" + (ip ? ip : "?") + ")");
    g_object_set_data_full(G_OBJECT(client), kLabelKey, label, freeString);
    g_object_set_data_full(G_OBJECT(client), kAddressKey, new std::string(ip ? ip : "?"),
                           freeString);
    if (self->handing_)
        g_object_set_data_full(G_OBJECT(client), "kevra-stream", g_object_ref(self->handing_),
                               g_object_unref);
    // Connections through the gate are counted there.
    if (!guardRtspClient(client, ip ? ip : "?", self->context_,
                         self->gate_ ? nullptr : self->config_.limits,
                         self->config_.requestTimeoutMs)) {
        GatewayLog::detail(*label + " refused: too many connections");
        return;
    }
    GatewayLog::line(*label + " connected");
    g_object_set_data_full(G_OBJECT(client), kRefusalsKey,
                           new std::shared_ptr<RefusalLog>(self->refusals_),
                           [](gpointer p) { delete static_cast<std::shared_ptr<RefusalLog>*>(p); });
    g_signal_connect(client, "send-message", G_CALLBACK(onSendMessage), nullptr);
    g_signal_connect(
        client, "closed", G_CALLBACK(+[](GstRTSPClient* c, gpointer) {
            auto* address = static_cast<std::string*>(g_object_get_data(G_OBJECT(c), kAddressKey));
            RefusalLog* refusals = refusalsOf(c);
            if (g_object_get_data(G_OBJECT(c), kChallengedKey) && address && refusals)
                refusals->note(*address, 401,
                               labelOf(c) + ": refused, no user name and password given (401)");
            GatewayLog::line(labelOf(c) + " left");
        }),
        nullptr);
    g_signal_connect(
        client, "play-request", G_CALLBACK(+[](GstRTSPClient* c, GstRTSPContext* ctx, gpointer) {
            if (!ctx || !ctx->uri || !ctx->uri->abspath)
                return;
            std::string path = ctx->uri->abspath;
            if (!g_object_get_data(G_OBJECT(c), kPathKey))
                GatewayLog::detail(labelOf(c) + " plays " + path);
            g_object_set_data_full(G_OBJECT(c), kPathKey, new std::string(path), freeString);
        }),
        nullptr);
}

}   // namespace kevra::gateway
