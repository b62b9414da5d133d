// One browser viewer of one camera over WebRTC: its own pipeline (appsrc -> H.264 RTP
// payloader -> webrtcbin), fed by an H.264 camera hub as one more hub client from the moment the
// connection is up (so the first thing it sends is the hub's kept key frame), and the
// offer/answer exchange without trickle: the answer is handed over once every local candidate
// is gathered, and carries them all, on the addresses given only.
// Created and destroyed on the main thread. webrtcbin answers on its own threads; the events
// given to the owner (answer ready, connection over) are called on those threads and must be
// passed on to the main context by the owner. The hub calls the hub client under its mutex.
#pragma once
#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kevra::gateway {

class AppsrcClient;
class CameraHub;

class WebrtcPeer {
public:
    static constexpr size_t kMaxOfferBytes = 64 * 1024;

    struct Events {
        // The answer SDP ("" and the reason when the exchange failed). Called once.
        std::function<void(const std::string& sdp, const std::string& why)> answered;
        // The connection failed or was closed by the browser, or the hub let the viewer go.
        std::function<void(const std::string& why)> ended;
    };

    // `addresses`: the local addresses ICE may use (empty: every address of the machine).
    WebrtcPeer(std::shared_ptr<CameraHub> hub, std::vector<std::string> addresses,
               uint64_t queueLimitBytes, Events events);
    ~WebrtcPeer();
    WebrtcPeer(const WebrtcPeer&) = delete;
    WebrtcPeer& operator=(const WebrtcPeer&) = delete;

    // Starts the exchange with the browser's offer. False with the reason when the offer is
    // unusable (not SDP, no H.264 video to receive) or the pipeline cannot be built; the
    // answer comes through Events::answered otherwise.
    bool start(const std::string& offer, std::string& why);
    // How long nothing came from the browser: RTCP once connected (a browser sends it every
    // second or more often while it receives), the start before that. A browser that went away
    // without a word is found by this.
    uint64_t silentMs(uint64_t nowMs) const;

    // The payload type of the offer's best H.264 format for live video (packetization mode 1,
    // constrained baseline preferred), and its fmtp parameters; -1 when it has none. Public for
    // tests.
    static int pickH264(const std::string& offer, std::string& fmtp);
    // `sdp` with each candidate line of `candidates` (by m-line) added where it is not there
    // yet, and an end-of-candidates mark after them. Public for tests.
    static std::string
    withCandidates(const std::string& sdp,
                   const std::vector<std::pair<unsigned, std::string>>& candidates);

private:
    static void onRemoteSet(GstPromise* promise, gpointer self);
    static void onAnswerCreated(GstPromise* promise, gpointer self);
    static void onIceCandidate(GstElement*, guint mline, gchar* candidate, gpointer self);
    static void onGatheringState(GObject*, GParamSpec*, gpointer self);
    static void onConnectionState(GObject*, GParamSpec*, gpointer self);
    void fail(const std::string& why);
    void limitAddresses();
    void watchRtcp();

    std::shared_ptr<CameraHub> hub_;
    const std::vector<std::string> addresses_;
    const uint64_t queueLimitBytes_;
    Events events_;
    GstElement* pipeline_ = nullptr;
    GstElement* webrtc_ = nullptr;   // own reference
    std::unique_ptr<AppsrcClient> client_;
    std::atomic<uint64_t> heardMs_{0};
    GstPad* rtcpPad_ = nullptr;   // own reference, with a probe while set
    gulong rtcpProbe_ = 0;

    std::mutex mutex_;   // guards what webrtcbin's threads share below
    std::vector<std::pair<unsigned, std::string>> candidates_;
    bool answered_ = false;
    bool ended_ = false;
};

}   // namespace kevra::gateway
