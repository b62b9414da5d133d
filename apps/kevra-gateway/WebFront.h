// The gateway's live pages and their media: WHEP signalling (POST /whep/NAME/N with the
// browser's SDP offer -> 201 with the answer and a Location to DELETE), the view and grid pages
// with their script, the cameras' live state for the pages, and PTZ moves from the page (a held
// button or key sends "start" again every few hundred milliseconds; the move is paced by
// PtzMotion, as ONVIF moves are, and ends at "stop" or its time-out when the page goes away). It keeps one WebrtcPeer per browser viewer and
// one shared MPEG-4 -> H.264 encode per MPEG-4 camera while any browser watches it.
// Routes are added to the gateway's HTTP server on the main thread's GLib main context (who may
// watch is the server's rule, as for the status page); every handler,
// every peer and transcoder is made and destroyed there. Peers' events come from webrtcbin's
// threads and are passed to the main context before they touch anything here.
#pragma once
#include <glib.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HttpServer.h"
#include "PtzMotion.h"

namespace kevra::gateway {

class CameraHub;
class Transcoder;
class WebrtcPeer;

class WebFront {
public:
    struct Camera {
        std::string path;       // "/NAME/N"
        std::string name;       // as the recorder lists it
        std::string recorder;   // NAME
        bool recorderUp = false;
        std::shared_ptr<CameraHub> hub;
        std::function<void(int code)> ptz;   // one PTZ step; any thread
    };
    struct Config {
        // Addresses ICE may use (the gateway's --listen address; empty: every address).
        std::vector<std::string> iceAddresses;
        uint64_t queueLimitBytes = 4u << 20;
        int maxViewers = 64;          // browser viewers in all
        int answerTimeoutMs = 8000;   // a WHEP request waits this long for the answer
        int readyTimeoutMs = 8000;    // and this long for the camera's first key frame
        int silentLimitMs = 6000;     // a viewer whose browser says nothing this long is ended
        std::string languageDir;      // folder of language_eng.ini / language_chn.ini
    };
    using Directory = std::function<std::vector<Camera>()>;

    WebFront(Config config, Directory directory, GMainContext* context);
    ~WebFront();   // ends every viewer and move
    WebFront(const WebFront&) = delete;
    WebFront& operator=(const WebFront&) = delete;

    // Adds the routes (/whep/, /view/, /grid, /live.js, /api/live, /api/ptz/) to `http`.
    void addRoutes(HttpServer& http);
    int viewerCount() const { return int(peers_.size()); }

    // PTZ action names of the page. Public for tests.
    // The axis and direction of a page's PTZ action; false for an unknown one.
    static bool ptzAction(const std::string& action, PtzMotion::Axis& axis, int& direction);
    // "/NAME/N" from a request path after `prefix`, "" when it is not one. Public for tests.
    static std::string cameraPath(const std::string& path, const std::string& prefix);

private:
    struct Viewer;
    struct Pending;
    using Exchange = std::shared_ptr<HttpExchange>;
    void onWhep(const Exchange& ex);
    void onPage(const Exchange& ex);
    void onLive(const Exchange& ex);
    void onPtz(const Exchange& ex);
    // The camera the request's path names after `prefix`; false after answering 404.
    bool findCamera(const Exchange& ex, const std::string& prefix, Camera& out) const;
    void answered(int id, const std::string& sdp, const std::string& why);
    void endViewer(int id, const std::string& why);
    std::shared_ptr<CameraHub> h264HubFor(const Camera& cam, std::string& why);
    void releaseTranscoder(const std::string& path);
    void endSilentViewers();
    // Runs `fn` on the main context if this front still exists then (any thread).
    void post(std::function<void()> fn);
    static void postTo(GMainContext* context, std::weak_ptr<bool> alive, std::function<void()> fn);

    const Config config_;
    Directory directory_;
    GMainContext* const context_;
    std::shared_ptr<bool> alive_;
    // A camera's move from the page: its pace, and where its steps go.
    struct Move {
        PtzMotion motion;
        std::function<void(int code)> send;
    };
    void paceMoves();
    std::map<std::string, Move> moves_;   // by camera path
    guint moveTimer_ = 0;                 // while moves_ is not empty
    int nextId_ = 1;
    std::map<int, std::unique_ptr<Viewer>> peers_;
    std::map<std::string, std::unique_ptr<Transcoder>> transcoders_;
    guint watchdog_ = 0;
};

}   // namespace kevra::gateway
