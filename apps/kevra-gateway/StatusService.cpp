#include "StatusService.h"

#include <chrono>
#include <cstdio>

#include "CameraHub.h"
#include "Escape.h"
#include "HttpPaths.h"
#include "HttpServer.h"
#include "RecorderLink.h"
#include "SnapshotService.h"
#include "StatusPage.h"
#include "common/Utf.h"
#include "profile/ProfileFile.h"

namespace kevra::gateway {

namespace {

const char* stateName(RecorderLink::Status::State s)
{
    switch (s) {
    case RecorderLink::Status::State::Up: return "up";
    case RecorderLink::Status::State::Down: return "down";
    default: return "connecting";
    }
}

std::string number(double v, int decimals)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// The keys of the page's texts, sent to the page as one JSON object.
constexpr const char* kPageKeys[] = {"GW_TITLE",         "GW_RECORDERS",  "GW_CAMERAS",
                                     "GW_STATE_UP",      "GW_STATE_DOWN", "GW_STATE_CONNECTING",
                                     "GW_SINCE",         "GW_LAST_ERROR", "GW_LOGINS",
                                     "GW_FAILURES",      "GW_RECONNECTS", "GW_CODEC",
                                     "GW_SIZE",          "GW_FPS",        "GW_BITRATE",
                                     "GW_VIEWERS",       "GW_COPY",       "GW_COPIED",
                                     "GW_CAM_STREAMING", "GW_CAM_IDLE",   "GW_CAM_DOWN",
                                     "GW_NO_ANSWER",     "GW_UPDATED",    "GW_NONE",
                                     "GW_ONVIF"};

}   // namespace

StatusService::StatusService(const std::vector<std::unique_ptr<RecorderLink>>& links, int rtspPort,
                             SnapshotService& snapshots, std::string languageDir)
    : links_(links), rtspPort_(rtspPort), snapshots_(snapshots),
      languageDir_(std::move(languageDir))
{
}

void StatusService::addRoutes(HttpServer& server)
{
    auto onlyGet = [](const std::shared_ptr<HttpExchange>& ex) {
        if (ex->method() == "GET" || ex->method() == "HEAD")
            return true;
        ex->respond(405, "text/plain; charset=utf-8", "only GET\n", {{"Allow", "GET, HEAD"}});
        return false;
    };
    server.route("/", [this, onlyGet](const std::shared_ptr<HttpExchange>& ex) {
        if (onlyGet(ex))
            ex->respond(200, "text/html; charset=utf-8",
                        page(prefersChinese(ex->header("Accept-Language"))),
                        {{"Cache-Control", "no-store"},
                         {"Content-Security-Policy",
                          "default-src 'self'; img-src 'self'; style-src 'unsafe-inline'; "
                          "script-src 'unsafe-inline'; connect-src 'self'"}});
    });
    server.route("/api/cameras", [this, onlyGet](const std::shared_ptr<HttpExchange>& ex) {
        if (onlyGet(ex))
            ex->respond(200, "application/json", camerasJson(hostOf(ex->header("Host"))),
                        {{"Cache-Control", "no-store"}});
    });
    server.route("/api/recorders", [this, onlyGet](const std::shared_ptr<HttpExchange>& ex) {
        if (onlyGet(ex))
            ex->respond(200, "application/json", recordersJson(), {{"Cache-Control", "no-store"}});
    });
    server.route("/metrics", [this, onlyGet](const std::shared_ptr<HttpExchange>& ex) {
        if (onlyGet(ex))
            ex->respond(200, "text/plain; version=0.0.4; charset=utf-8", metrics());
    });
    server.route("/snapshot/", [this, onlyGet](const std::shared_ptr<HttpExchange>& ex) {
        if (onlyGet(ex))
            snapshot(ex);
    });
}

void StatusService::snapshot(const std::shared_ptr<HttpExchange>& ex)
{
    std::string name;
    int n = 0;
    if (parseSnapshotPath(ex->path(), name, n)) {
        for (const auto& link : links_) {
            if (link->address().name != name)
                continue;
            auto cams = link->cameras();
            if (size_t(n) <= cams.size()) {
                snapshots_.request(cams[size_t(n) - 1].hub, ex);
                return;
            }
        }
    }
    ex->respond(404, "text/plain; charset=utf-8", "no such camera\n");
}

std::string StatusService::camerasJson(const std::string& host) const
{
    std::string h = host.empty() ? "127.0.0.1" : host;
    std::string out = "[";
    bool first = true;
    for (const auto& link : links_) {
        RecorderLink::Status rs = link->status();
        auto cams = link->cameras();
        for (size_t i = 0; i < cams.size(); ++i) {
            CameraHub::Stats s = cams[i].hub->stats();
            const char* state = rs.state != RecorderLink::Status::State::Up ? "recorder-down"
                                : s.streaming                               ? "streaming"
                                                                            : "idle";
            out += first ? "\n" : ",\n";
            first = false;
            out += "{\"recorder\":\"" + jsonEscape(link->address().name) +
                   "\",\"camera\":" + std::to_string(i + 1) + ",\"name\":\"" +
                   jsonEscape(cams[i].name) + "\",\"state\":\"" + state + "\",\"codec\":\"" +
                   (s.codec == OutCodec::None ? "" : codecName(s.codec)) +
                   "\",\"width\":" + std::to_string(s.width) +
                   ",\"height\":" + std::to_string(s.height) + ",\"fps\":" + number(s.fps, 1) +
                   ",\"bitrate\":" + number(s.bitsPerSecond, 0) +
                   ",\"viewers\":" + std::to_string(s.viewers) + ",\"rtsp\":\"rtsp://" +
                   jsonEscape(h) + ":" + std::to_string(rtspPort_) + jsonEscape(cams[i].path) +
                   "\",\"snapshot\":\"/snapshot" + jsonEscape(cams[i].path) + ".jpg\"";
            auto onvif = onvifPorts_.find(cams[i].path);
            out += ",\"onvif\":\"" +
                   (onvif == onvifPorts_.end()
                        ? std::string()
                        : "http://" + jsonEscape(h) + ":" + std::to_string(onvif->second) +
                              "/onvif/device_service") +
                   "\"}";
        }
    }
    return out + "\n]\n";
}

std::string StatusService::recordersJson() const
{
    std::string out = "[";
    bool first = true;
    for (const auto& link : links_) {
        RecorderLink::Status s = link->status();
        out += first ? "\n" : ",\n";
        first = false;
        // The recorder's address is shown; its user and password never are.
        out += "{\"recorder\":\"" + jsonEscape(link->address().name) + "\",\"address\":\"" +
               jsonEscape(link->address().host) + ":" + std::to_string(link->address().port) +
               "\",\"state\":\"" + stateName(s.state) +
               "\",\"since\":" + std::to_string(s.sinceUnixMs / 1000) + ",\"lastError\":\"" +
               jsonEscape(s.lastError) + "\",\"logins\":" + std::to_string(s.logins) +
               ",\"loginFailures\":" + std::to_string(s.loginFailures) +
               ",\"reconnects\":" + std::to_string(s.losses) +
               ",\"cameras\":" + std::to_string(link->cameras().size()) + "}";
    }
    return out + "\n]\n";
}

std::string StatusService::metrics() const
{
    struct Family {
        const char* name;
        const char* type;
        const char* help;
        std::string lines;
    };
    Family viewers{"kevra_gateway_camera_viewers", "gauge", "RTSP clients watching now", {}};
    Family frames{"kevra_gateway_camera_frames_total", "counter", "frames from the recorder", {}};
    Family bytes{
        "kevra_gateway_camera_bytes_total", "counter", "bytes of video from the recorder", {}};
    Family dropped{"kevra_gateway_camera_dropped_clients_total",
                   "counter",
                   "clients let go because they did not keep up",
                   {}};
    Family delay{"kevra_gateway_camera_delay_added_seconds",
                 "histogram",
                 "frame in from the recorder to its first RTP packet out",
                 {}};
    Family joins{"kevra_gateway_camera_first_frame_seconds",
                 "histogram",
                 "a joining client's wait for its first frame",
                 {}};
    Family up{"kevra_gateway_recorder_up", "gauge", "1 while logged in to the recorder", {}};
    Family logins{"kevra_gateway_recorder_logins_total", "counter", "successful logins", {}};
    Family failures{"kevra_gateway_recorder_login_failures_total", "counter", "failed logins", {}};
    Family losses{
        "kevra_gateway_recorder_reconnects_total", "counter", "connections lost after a login", {}};

    auto histogram = [](Family& f, const std::string& labels, const Histogram& h) {
        for (size_t i = 0; i < Histogram::kBounds.size(); ++i)
            f.lines += std::string(f.name) + "_bucket{" + labels + ",le=\"" +
                       number(Histogram::kBounds[i], 4) + "\"} " + std::to_string(h.bucket(i)) +
                       "\n";
        f.lines += std::string(f.name) + "_bucket{" + labels + ",le=\"+Inf\"} " +
                   std::to_string(h.count()) + "\n";
        f.lines += std::string(f.name) + "_sum{" + labels + "} " + number(h.sumSeconds(), 6) + "\n";
        f.lines +=
            std::string(f.name) + "_count{" + labels + "} " + std::to_string(h.count()) + "\n";
    };
    for (const auto& link : links_) {
        // Recorder names are letters, digits, '-' and '_': nothing to escape in a label.
        std::string r = "recorder=\"" + link->address().name + "\"";
        RecorderLink::Status s = link->status();
        up.lines += std::string(up.name) + "{" + r + "} " +
                    (s.state == RecorderLink::Status::State::Up ? "1" : "0") + "\n";
        logins.lines += std::string(logins.name) + "{" + r + "} " + std::to_string(s.logins) + "\n";
        failures.lines +=
            std::string(failures.name) + "{" + r + "} " + std::to_string(s.loginFailures) + "\n";
        losses.lines += std::string(losses.name) + "{" + r + "} " + std::to_string(s.losses) + "\n";
        auto cams = link->cameras();
        for (size_t i = 0; i < cams.size(); ++i) {
            std::string l = r + ",camera=\"" + std::to_string(i + 1) + "\"";
            CameraHub::Stats st = cams[i].hub->stats();
            viewers.lines +=
                std::string(viewers.name) + "{" + l + "} " + std::to_string(st.viewers) + "\n";
            frames.lines +=
                std::string(frames.name) + "{" + l + "} " + std::to_string(st.framesIn) + "\n";
            bytes.lines +=
                std::string(bytes.name) + "{" + l + "} " + std::to_string(st.bytesIn) + "\n";
            dropped.lines += std::string(dropped.name) + "{" + l + "} " +
                             std::to_string(st.droppedClients) + "\n";
            histogram(delay, l, cams[i].hub->delayAdded());
            histogram(joins, l, cams[i].hub->firstFrame());
        }
    }
    std::string out;
    for (Family* f :
         {&viewers, &frames, &bytes, &dropped, &delay, &joins, &up, &logins, &failures, &losses})
        out += std::string("# HELP ") + f->name + " " + f->help + "\n# TYPE " + f->name + " " +
               f->type + "\n" + f->lines;
    return out;
}

std::string StatusService::text(const char* key, bool chinese) const
{
    std::u16string path =
        fromUtf8(languageDir_ + (chinese ? "/language_chn.ini" : "/language_eng.ini"));
    std::u16string value = ProfileFile::ReadString(u"language", fromUtf8(key), u"", path);
    return value.empty() ? key : toUtf8(value);
}

std::string StatusService::page(bool chinese) const
{
    std::string texts = "{";
    for (const char* key : kPageKeys)
        texts += std::string(texts.size() > 1 ? "," : "") + "\"" + key + "\":\"" +
                 jsonEscape(text(key, chinese)) + "\"";
    texts += "}";
    std::string html = kStatusPage;
    auto put = [&html](const std::string& marker, const std::string& value) {
        for (size_t at = html.find(marker); at != std::string::npos;
             at = html.find(marker, at + value.size()))
            html.replace(at, marker.size(), value);
    };
    put("@LANG@", chinese ? "zh-CN" : "en");
    put("@TITLE@", markupEscape(text("GW_TITLE", chinese)));
    put("@TEXTS@", texts);
    return html;
}

}   // namespace kevra::gateway
