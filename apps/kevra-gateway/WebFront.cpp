#include "WebFront.h"

#include <cstring>
#include <thread>

#include "CameraHub.h"
#include "Escape.h"
#include "GatewayLog.h"
#include "Transcoder.h"
#include "WebPages.h"
#include "WebrtcPeer.h"
#include "common/Clock.h"

namespace kevra::gateway {

struct WebFront::Viewer {
    std::unique_ptr<WebrtcPeer> peer;
    std::string path;
    std::string who;
    bool transcoded = false;
    std::shared_ptr<HttpExchange> pending;   // the WHEP request waiting for the answer
    guint timeout = 0;
};

namespace {

const std::vector<std::pair<std::string, std::string>> kNoStore{{"Cache-Control", "no-store"}};

void reply(const std::shared_ptr<HttpExchange>& ex, int status, const std::string& type,
           std::string body, std::vector<std::pair<std::string, std::string>> headers = kNoStore)
{
    ex->respond(status, type, std::move(body), std::move(headers));
}

void replyText(const std::shared_ptr<HttpExchange>& ex, int status, const std::string& text)
{
    reply(ex, status, "text/plain; charset=utf-8", text + "\n");
}

std::string who(const std::shared_ptr<HttpExchange>& ex)
{
    return "browser " + ex->peer();
}

// A timer on `context` that calls `call` on `self` every `ms` until its source goes; its id.
template <void (WebFront::*call)()>
guint every(guint ms, WebFront* self, GMainContext* context)
{
    GSource* source = g_timeout_source_new(ms);
    g_source_set_callback(
        source,
        [](gpointer p) -> gboolean {
            (static_cast<WebFront*>(p)->*call)();
            return G_SOURCE_CONTINUE;
        },
        self, nullptr);
    guint id = g_source_attach(source, context);
    g_source_unref(source);
    return id;
}

}   // namespace

WebFront::WebFront(Config config, Directory directory, GMainContext* context)
    : config_(std::move(config)), directory_(std::move(directory)), context_(context),
      alive_(std::make_shared<bool>(true))
{
    watchdog_ = every<&WebFront::endSilentViewers>(1000, this, context_);
}

void WebFront::endSilentViewers()
{
    const uint64_t now = Clock::nowMs();
    std::vector<int> silent;
    for (const auto& [id, v] : peers_)
        if (v->peer && !v->pending && v->peer->silentMs(now) > uint64_t(config_.silentLimitMs))
            silent.push_back(id);
    for (int id : silent)
        endViewer(id, "the browser went away");
}

WebFront::~WebFront()
{
    for (guint id : {watchdog_, moveTimer_})
        if (GSource* s = id ? g_main_context_find_source_by_id(context_, id) : nullptr)
            g_source_destroy(s);
    alive_.reset();
    for (auto& [id, v] : peers_) {
        if (v->timeout)
            g_source_remove(v->timeout);
        if (v->pending)
            replyText(v->pending, 503, "the gateway is stopping");
    }
    peers_.clear();
    transcoders_.clear();
}

void WebFront::post(std::function<void()> fn)
{
    postTo(context_, alive_, std::move(fn));
}

void WebFront::postTo(GMainContext* context, std::weak_ptr<bool> alive, std::function<void()> fn)
{
    struct Job {
        std::weak_ptr<bool> alive;
        std::function<void()> fn;
    };
    auto* job = new Job{std::move(alive), std::move(fn)};
    g_main_context_invoke_full(
        context, G_PRIORITY_DEFAULT,
        [](gpointer p) -> gboolean {
            auto* j = static_cast<Job*>(p);
            if (j->alive.lock())
                j->fn();
            return G_SOURCE_REMOVE;
        },
        job, [](gpointer p) { delete static_cast<Job*>(p); });
}

bool WebFront::ptzAction(const std::string& action, PtzMotion::Axis& axis, int& direction)
{
    static const struct {
        const char* name;
        PtzMotion::Axis axis;
        int direction;
    } kActions[] = {
        {"up", PtzMotion::Tilt, 1},         {"down", PtzMotion::Tilt, -1},
        {"left", PtzMotion::Pan, -1},       {"right", PtzMotion::Pan, 1},
        {"zoom-in", PtzMotion::Zoom, 1},    {"zoom-out", PtzMotion::Zoom, -1},
        {"focus-far", PtzMotion::Focus, 1}, {"focus-near", PtzMotion::Focus, -1},
        {"iris-open", PtzMotion::Iris, 1},  {"iris-close", PtzMotion::Iris, -1},
    };
    for (const auto& a : kActions) {
        if (action == a.name) {
            axis = a.axis;
            direction = a.direction;
            return true;
        }
    }
    return false;
}

void WebFront::paceMoves()
{
    const uint64_t now = Clock::nowMs();
    for (auto it = moves_.begin(); it != moves_.end();) {
        for (int code : it->second.motion.due(now))
            it->second.send(code);
        if (it->second.motion.nextDueMs() == 0)
            it = moves_.erase(it);
        else
            ++it;
    }
    if (moves_.empty() && moveTimer_) {
        if (GSource* s = g_main_context_find_source_by_id(context_, moveTimer_))
            g_source_destroy(s);
        moveTimer_ = 0;
    } else if (!moves_.empty() && !moveTimer_) {
        // A short tick: steps go out within a few milliseconds of their time.
        moveTimer_ = every<&WebFront::paceMoves>(5, this, context_);
    }
}

std::string WebFront::cameraPath(const std::string& path, const std::string& prefix)
{
    if (path.compare(0, prefix.size(), prefix) != 0)
        return "";
    std::string rest = path.substr(prefix.size());   // "/NAME/N"
    if (rest.size() < 4 || rest.size() > 80 || rest[0] != '/')
        return "";
    size_t slash = rest.find('/', 1);
    if (slash == std::string::npos || slash == 1 || slash + 1 >= rest.size())
        return "";
    for (size_t i = 1; i < rest.size(); ++i) {
        char c = rest[i];
        bool nameChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (i < slash ? !nameChar : (i > slash && !(c >= '0' && c <= '9')))
            return "";
    }
    if (rest.size() - slash - 1 > 3 || rest[slash + 1] == '0')
        return "";
    return rest;
}

bool WebFront::findCamera(const Exchange& ex, const std::string& prefix, Camera& out) const
{
    std::string path = cameraPath(ex->path(), prefix);
    if (!path.empty()) {
        for (Camera& cam : directory_()) {
            if (cam.path == path) {
                out = std::move(cam);
                return true;
            }
        }
    }
    replyText(ex, 404, "no such camera");
    return false;
}

void WebFront::addRoutes(HttpServer& http)
{
    using Handler = void (WebFront::*)(const Exchange&);
    const std::pair<const char*, Handler> routes[] = {
        {"/whep/", &WebFront::onWhep},    {"/view/", &WebFront::onPage},
        {"/grid", &WebFront::onPage},     {"/live.js", &WebFront::onPage},
        {"/api/live", &WebFront::onLive}, {"/api/live/", &WebFront::onLive},
        {"/api/ptz/", &WebFront::onPtz},
    };
    for (const auto& [path, handler] : routes)
        http.route(path, [this, h = handler](const Exchange& ex) { (this->*h)(ex); });
}

void WebFront::onPage(const Exchange& ex)
{
    if (ex->method() != "GET") {
        replyText(ex, 405, "GET only");
        return;
    }
    const std::string& path = ex->path();
    std::string language = WebPages::languageFor(ex->header("accept-language"));
    if (path == "/live.js") {
        reply(ex, 200, "text/javascript; charset=utf-8", WebPages::script());
        return;
    }
    if (path == "/grid") {
        reply(ex, 200, "text/html; charset=utf-8", WebPages::grid(config_.languageDir, language));
        return;
    }
    Camera found;
    if (!findCamera(ex, "/view", found))
        return;
    reply(ex, 200, "text/html; charset=utf-8",
          WebPages::view(config_.languageDir, language, found.path, found.name));
}

void WebFront::onLive(const Exchange& ex)
{
    const std::string& path = ex->path();
    std::string one = path == "/api/live" ? "" : cameraPath(path, "/api/live");
    if (path != "/api/live" && one.empty()) {
        replyText(ex, 404, "no such camera");
        return;
    }
    std::string body = "[";
    bool first = true;
    for (const Camera& cam : directory_()) {
        if (!one.empty() && cam.path != one)
            continue;
        body += std::string(first ? "" : ",") + "{\"path\":" + jsonString(cam.path) +
                ",\"name\":" + jsonString(cam.name) + ",\"recorder\":" + jsonString(cam.recorder) +
                ",\"recorderUp\":" + (cam.recorderUp ? "true" : "false") + ",\"codec\":\"" +
                codecName(cam.hub->codec()) + "\"}";
        first = false;
    }
    body += "]";
    if (!one.empty() && first) {
        replyText(ex, 404, "no such camera");
        return;
    }
    reply(ex, 200, "application/json", body);
}

void WebFront::onPtz(const Exchange& ex)
{
    if (ex->method() != "POST") {
        replyText(ex, 405, "POST only");
        return;
    }
    Camera cam;
    if (!findCamera(ex, "/api/ptz", cam))
        return;
    if (ex->body().size() > 1024) {
        replyText(ex, 400, "action=NAME&state=start|stop");
        return;
    }
    GHashTable* fields = soup_form_decode(ex->body().c_str());
    const char* action = static_cast<const char*>(g_hash_table_lookup(fields, "action"));
    const char* state = static_cast<const char*>(g_hash_table_lookup(fields, "state"));
    PtzMotion::Axis axis = PtzMotion::Pan;
    int direction = 0;
    bool known = ptzAction(action ? action : "", axis, direction);
    std::string s = state ? state : "";
    g_hash_table_destroy(fields);
    if ((!known && s != "stop") || (s != "start" && s != "stop")) {
        replyText(ex, 400, "action=NAME&state=start|stop");
        return;
    }
    if (s == "stop") {
        moves_.erase(cam.path);
    } else if (!cam.recorderUp) {
        replyText(ex, 503, "the recorder is not connected");
        return;
    } else {
        Move& m = moves_[cam.path];
        m.send = cam.ptz;
        m.motion.hold(axis, direction, PtzMotion::kDefaultTimeoutMs, Clock::nowMs());
    }
    paceMoves();
    reply(ex, 204, "text/plain", "");
}

void WebFront::onWhep(const Exchange& ex)
{
    const std::string& method = ex->method();
    const std::string& path = ex->path();
    if (method == "DELETE") {
        // Location: /whep/NAME/N/ID
        size_t slash = path.rfind('/');
        std::string idText = slash == std::string::npos ? "" : path.substr(slash + 1);
        int id = idText.size() > 0 && idText.size() < 9 &&
                         idText.find_first_not_of("0123456789") == std::string::npos
                     ? std::atoi(idText.c_str())
                     : 0;
        auto it = peers_.find(id);
        if (it == peers_.end() || "/whep" + it->second->path + "/" + idText != path) {
            replyText(ex, 404, "no such viewer");
            return;
        }
        endViewer(id, "closed by the page");
        reply(ex, 200, "text/plain", "");
        return;
    }
    if (method == "OPTIONS") {
        reply(ex, 204, "text/plain", "", {{"Accept-Post", "application/sdp"}});
        return;
    }
    if (method == "PATCH") {
        replyText(ex, 405, "no trickle ICE: the answer carries every candidate");
        return;
    }
    if (method != "POST") {
        replyText(ex, 405, "POST an SDP offer");
        return;
    }
    Camera cam;
    if (!findCamera(ex, "/whep", cam))
        return;
    std::string type = ex->header("content-type");
    type = type.substr(0, type.find(';'));
    if (g_ascii_strcasecmp(type.c_str(), "application/sdp") != 0) {
        replyText(ex, 415, "the offer goes as application/sdp");
        return;
    }
    if (ex->body().empty() || ex->body().size() > WebrtcPeer::kMaxOfferBytes) {
        replyText(ex, 400, "an SDP offer of at most 64 KB");
        return;
    }
    if (int(peers_.size()) >= config_.maxViewers) {
        replyText(ex, 503, "too many browser viewers");
        return;
    }
    const int id = nextId_++;
    auto viewer = std::make_unique<Viewer>();
    viewer->path = cam.path;
    viewer->who = who(ex) + ", " + cam.path;
    viewer->pending = ex;
    std::string offer = ex->body();
    auto* raw = viewer.get();
    peers_[id] = std::move(viewer);
    raw->timeout = g_timeout_add_full(
        G_PRIORITY_DEFAULT, guint(config_.answerTimeoutMs + config_.readyTimeoutMs),
        [](gpointer d) -> gboolean {
            auto* p = static_cast<std::pair<WebFront*, int>*>(d);
            auto it = p->first->peers_.find(p->second);
            if (it != p->first->peers_.end()) {
                it->second->timeout = 0;
                p->first->answered(p->second, "", "no answer in time");
            }
            return G_SOURCE_REMOVE;
        },
        new std::pair<WebFront*, int>(this, id),
        [](gpointer d) { delete static_cast<std::pair<WebFront*, int>*>(d); });

    // The camera's codec is known once its first key frame came: wait for it off this thread.
    // The thread may outlast this front: it reaches it only through the main context.
    std::thread([this, context = context_, alive = std::weak_ptr<bool>(alive_), id, cam, offer,
                 timeoutMs = config_.readyTimeoutMs] {
        OutCodec codec = OutCodec::None;
        bool ready = cam.hub->waitReady(timeoutMs, codec);
        postTo(context, alive, [this, id, cam, offer, ready, codec] {
            auto it = peers_.find(id);
            if (it == peers_.end() || it->second->peer)
                return;
            if (!ready || codec == OutCodec::None) {
                answered(id, "", "no picture from the recorder");
                return;
            }
            std::string why;
            std::shared_ptr<CameraHub> hub = cam.hub;
            if (codec == OutCodec::Mpeg4) {
                hub = h264HubFor(cam, why);
                if (!hub) {
                    answered(id, "", why);
                    return;
                }
                it->second->transcoded = true;
            }
            WebrtcPeer::Events events;
            events.answered = [this, id](const std::string& sdp, const std::string& w) {
                post([this, id, sdp, w] { answered(id, sdp, w); });
            };
            events.ended = [this, id](const std::string& w) {
                post([this, id, w] { endViewer(id, w); });
            };
            it->second->peer = std::make_unique<WebrtcPeer>(hub, config_.iceAddresses,
                                                            config_.queueLimitBytes, events);
            if (!it->second->peer->start(offer, why))
                answered(id, "", why);
        });
    }).detach();
}

std::shared_ptr<CameraHub> WebFront::h264HubFor(const Camera& cam, std::string& why)
{
    auto it = transcoders_.find(cam.path);
    if (it == transcoders_.end()) {
        auto t = std::make_unique<Transcoder>(cam.hub, config_.queueLimitBytes);
        why = t->start();
        if (!why.empty()) {
            GatewayLog::line("camera " + cam.path + ": " + why);
            return nullptr;
        }
        it = transcoders_.emplace(cam.path, std::move(t)).first;
    }
    ++it->second->users;
    return it->second->hub();
}

void WebFront::releaseTranscoder(const std::string& path)
{
    auto it = transcoders_.find(path);
    if (it == transcoders_.end() || --it->second->users > 0)
        return;
    transcoders_.erase(it);
    GatewayLog::line("camera " + path + ": H.264 encode for browsers stopped (no browser left)");
}

void WebFront::answered(int id, const std::string& sdp, const std::string& why)
{
    auto it = peers_.find(id);
    if (it == peers_.end() || !it->second->pending)
        return;
    Viewer& v = *it->second;
    std::shared_ptr<HttpExchange> ex = std::move(v.pending);
    v.pending = nullptr;
    if (v.timeout) {
        g_source_remove(v.timeout);
        v.timeout = 0;
    }
    if (sdp.empty()) {
        GatewayLog::line(v.who + ": refused (" + why + ")");
        replyText(ex, why.find("offer") != std::string::npos ? 406 : 503, why);
        endViewer(id, "");
        return;
    }
    std::string location = "/whep" + v.path + "/" + std::to_string(id);
    reply(ex, 201, "application/sdp", sdp, {{"Location", location}, {"Cache-Control", "no-store"}});
    GatewayLog::line(v.who + ": browser viewer " + std::to_string(id) + " connecting" +
                     (v.transcoded ? " (MPEG-4 encoded to H.264)" : ""));
}

void WebFront::endViewer(int id, const std::string& why)
{
    auto it = peers_.find(id);
    if (it == peers_.end())
        return;
    std::unique_ptr<Viewer> v = std::move(it->second);
    peers_.erase(it);
    if (v->pending)
        replyText(v->pending, 503, why.empty() ? "ended" : why);
    if (v->timeout)
        g_source_remove(v->timeout);
    if (!why.empty())
        GatewayLog::line(v->who + ": browser viewer " + std::to_string(id) + " left (" + why + ")");
    v->peer.reset();
    if (v->transcoded)
        releaseTranscoder(v->path);
}

}   // namespace kevra::gateway
