#include "WebrtcPeer.h"

#define GST_USE_UNSTABLE_API
#include <agent.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>

#include <sstream>

#include "AppsrcClient.h"
#include "CameraHub.h"
#include "GatewayLog.h"
#include "GstLaunch.h"
#include "common/Clock.h"

namespace kevra::gateway {

namespace {

// A parameter of an fmtp line ("a=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1").
std::string fmtpValue(const std::string& fmtp, const std::string& name)
{
    std::istringstream in(fmtp);
    std::string item;
    while (std::getline(in, item, ';')) {
        size_t start = item.find_first_not_of(' ');
        if (start == std::string::npos)
            continue;
        item = item.substr(start);
        if (item.compare(0, name.size() + 1, name + "=") == 0)
            return item.substr(name.size() + 1);
    }
    return "";
}

// The address field of an ICE candidate line ("candidate:1 1 UDP 2015363327 10.0.0.5 4567 typ
// host").
std::string candidateAddress(const std::string& candidate)
{
    std::istringstream in(candidate);
    std::string field;
    for (int i = 0; i < 5 && in >> field; ++i) {}
    return field;
}

}   // namespace

int WebrtcPeer::pickH264(const std::string& offer, std::string& fmtp)
{
    if (offer.size() > kMaxOfferBytes)
        return -1;
    GstSDPMessage* sdp = nullptr;
    gst_sdp_message_new(&sdp);
    int best = -1;
    int bestScore = -1;
    if (gst_sdp_message_parse_buffer(reinterpret_cast<const guint8*>(offer.data()),
                                     guint(offer.size()), sdp) == GST_SDP_OK) {
        for (guint m = 0; m < gst_sdp_message_medias_len(sdp) && best < 0; ++m) {
            const GstSDPMedia* media = gst_sdp_message_get_media(sdp, m);
            if (g_strcmp0(gst_sdp_media_get_media(media), "video") != 0 ||
                gst_sdp_media_get_port(media) == 0)
                continue;
            for (guint f = 0; f < gst_sdp_media_formats_len(media); ++f) {
                const char* format = gst_sdp_media_get_format(media, f);
                int pt = format ? std::atoi(format) : -1;
                if (pt < 96 || pt > 127)
                    continue;
                const GstCaps* caps = gst_sdp_media_get_caps_from_media(media, pt);
                if (!caps)
                    continue;
                const GstStructure* s = gst_caps_get_structure(caps, 0);
                if (g_strcmp0(gst_structure_get_string(s, "encoding-name"), "H264") != 0) {
                    gst_caps_unref(const_cast<GstCaps*>(caps));
                    continue;
                }
                std::string params;
                for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a) {
                    const GstSDPAttribute* attr = gst_sdp_media_get_attribute(media, a);
                    std::string prefix = std::to_string(pt) + " ";
                    if (g_strcmp0(attr->key, "fmtp") == 0 && attr->value &&
                        std::string(attr->value).compare(0, prefix.size(), prefix) == 0)
                        params = std::string(attr->value).substr(prefix.size());
                }
                gst_caps_unref(const_cast<GstCaps*>(caps));
                int score = 0;
                if (fmtpValue(params, "packetization-mode") == "1")
                    score += 4;
                std::string profile = fmtpValue(params, "profile-level-id");
                if (profile.size() == 6 && g_ascii_strncasecmp(profile.c_str(), "42e0", 4) == 0)
                    score += 2;
                else if (profile.size() == 6 &&
                         g_ascii_strncasecmp(profile.c_str(), "4200", 4) == 0)
                    score += 1;
                if (score > bestScore) {
                    bestScore = score;
                    best = pt;
                    fmtp = params;
                }
            }
        }
    }
    gst_sdp_message_free(sdp);
    return best;
}

std::string
WebrtcPeer::withCandidates(const std::string& text,
                           const std::vector<std::pair<unsigned, std::string>>& candidates)
{
    GstSDPMessage* sdp = nullptr;
    gst_sdp_message_new(&sdp);
    if (gst_sdp_message_parse_buffer(reinterpret_cast<const guint8*>(text.data()),
                                     guint(text.size()), sdp) != GST_SDP_OK) {
        gst_sdp_message_free(sdp);
        return text;
    }
    for (guint m = 0; m < gst_sdp_message_medias_len(sdp); ++m) {
        auto* media = const_cast<GstSDPMedia*>(gst_sdp_message_get_media(sdp, m));
        bool ended = false;
        for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a)
            if (g_strcmp0(gst_sdp_media_get_attribute(media, a)->key, "end-of-candidates") == 0)
                ended = true;
        for (const auto& [mline, candidate] : candidates) {
            if (mline != m || candidate.compare(0, 10, "candidate:") != 0)
                continue;
            std::string value = candidate.substr(10);
            bool present = false;
            for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a) {
                const GstSDPAttribute* attr = gst_sdp_media_get_attribute(media, a);
                if (g_strcmp0(attr->key, "candidate") == 0 && attr->value && value == attr->value)
                    present = true;
            }
            if (!present)
                gst_sdp_media_add_attribute(media, "candidate", value.c_str());
        }
        if (!ended)
            gst_sdp_media_add_attribute(media, "end-of-candidates", nullptr);
    }
    gchar* out = gst_sdp_message_as_text(sdp);
    std::string result = out ? out : text;
    g_free(out);
    gst_sdp_message_free(sdp);
    return result;
}

WebrtcPeer::WebrtcPeer(std::shared_ptr<CameraHub> hub, std::vector<std::string> addresses,
                       uint64_t queueLimitBytes, Events events)
    : hub_(std::move(hub)), addresses_(std::move(addresses)), queueLimitBytes_(queueLimitBytes),
      events_(std::move(events))
{
}

WebrtcPeer::~WebrtcPeer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    if (client_)
        client_->detach();
    if (rtcpPad_) {
        gst_pad_remove_probe(rtcpPad_, rtcpProbe_);
        gst_object_unref(rtcpPad_);
    }
    if (pipeline_) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        g_signal_handlers_disconnect_by_data(webrtc_, this);
        gst_object_unref(webrtc_);
        gst_object_unref(pipeline_);
    }
    client_.reset();
}

uint64_t WebrtcPeer::silentMs(uint64_t nowMs) const
{
    uint64_t heard = heardMs_;
    return nowMs > heard ? nowMs - heard : 0;
}

void WebrtcPeer::watchRtcp()
{
    if (rtcpPad_)
        return;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(webrtc_));
    GValue item = G_VALUE_INIT;
    GstElement* rtpbin = nullptr;
    while (!rtpbin && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* f = gst_element_get_factory(e);
        if (f && g_strcmp0(GST_OBJECT_NAME(f), "rtpbin") == 0)
            rtpbin = GST_ELEMENT(gst_object_ref(e));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    if (!rtpbin)
        return;
    rtcpPad_ = gst_element_get_static_pad(rtpbin, "recv_rtcp_sink_0");
    gst_object_unref(rtpbin);
    if (rtcpPad_)
        rtcpProbe_ = gst_pad_add_probe(
            rtcpPad_, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
            [](GstPad*, GstPadProbeInfo*, gpointer self) {
                static_cast<WebrtcPeer*>(self)->heardMs_ = Clock::nowMs();
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
}

bool WebrtcPeer::start(const std::string& offer, std::string& why)
{
    heardMs_ = Clock::nowMs();
    std::string fmtp;
    int pt = pickH264(offer, fmtp);
    if (pt < 0) {
        why = "the offer has no H.264 video this gateway can send";
        return false;
    }
    std::string caps = "application/x-rtp,media=video,encoding-name=H264,clock-rate=90000,"
                       "payload=" +
                       std::to_string(pt) + ",packetization-mode=(string)1";
    // The profile and level stay the stream's own (the payloader puts them in its caps): the
    // browser decodes any profile under the format it offered.
    // No parser: the hub's frames come whole with their parameter sets before every key frame.
    std::string launch =
        "appsrc name=src is-live=true format=time do-timestamp=false block=false max-bytes=" +
        std::to_string(queueLimitBytes_ * 2) +
        " caps=video/x-h264,stream-format=byte-stream,alignment=au ! "
        "rtph264pay name=pay config-interval=-1 aggregate-mode=zero-latency mtu=1200 pt=" +
        std::to_string(pt) + " ! " + caps + " ! webrtcbin name=webrtc bundle-policy=max-bundle";
    std::string error;
    pipeline_ = launchPipeline(launch, error);
    if (!pipeline_) {
        why = "cannot build the WebRTC pipeline (" + error +
              "); are the GStreamer bad plug-ins and gstreamer1.0-nice installed?";
        return false;
    }
    // Nothing reads the bus: errors end the viewer, every message is dropped where it is posted.
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer data) -> GstBusSyncReply {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                auto* self = static_cast<WebrtcPeer*>(data);
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                std::string why = error ? error->message : "stream error";
                if (error)
                    g_error_free(error);
                std::lock_guard<std::mutex> lock(self->mutex_);
                if (!self->ended_) {
                    self->ended_ = true;
                    self->events_.ended(why);
                }
            }
            return GST_BUS_DROP;
        },
        this, nullptr);
    gst_object_unref(bus);
    webrtc_ = gst_bin_get_by_name(GST_BIN(pipeline_), "webrtc");
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline_), "src");
    client_ = std::make_unique<AppsrcClient>(hub_, OutCodec::H264, src, nullptr, queueLimitBytes_,
                                             nullptr, [this](GstRTSPMedia*, bool slow) {
                                                 events_.ended(slow ? "it did not keep up"
                                                                    : "the camera changed");
                                             });
    gst_object_unref(src);
    limitAddresses();
    g_signal_connect(webrtc_, "on-ice-candidate", G_CALLBACK(onIceCandidate), this);
    g_signal_connect(webrtc_, "notify::ice-gathering-state", G_CALLBACK(onGatheringState), this);
    g_signal_connect(webrtc_, "notify::connection-state", G_CALLBACK(onConnectionState), this);
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        why = "cannot start the WebRTC pipeline";
        return false;
    }
    GstWebRTCRTPTransceiver* transceiver = nullptr;
    g_signal_emit_by_name(webrtc_, "get-transceiver", 0, &transceiver);
    if (transceiver) {
        g_object_set(transceiver, "direction", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY,
                     nullptr);
        gst_object_unref(transceiver);
    }

    GstSDPMessage* sdp = nullptr;
    gst_sdp_message_new(&sdp);
    gst_sdp_message_parse_buffer(reinterpret_cast<const guint8*>(offer.data()), guint(offer.size()),
                                 sdp);
    GstWebRTCSessionDescription* remote =
        gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_OFFER, sdp);
    GstPromise* promise = gst_promise_new_with_change_func(onRemoteSet, this, nullptr);
    g_signal_emit_by_name(webrtc_, "set-remote-description", remote, promise);
    gst_webrtc_session_description_free(remote);
    return true;
}

void WebrtcPeer::limitAddresses()
{
    if (addresses_.empty())
        return;
    GstObject* ice = nullptr;
    g_object_get(webrtc_, "ice-agent", &ice, nullptr);
    if (!ice)
        return;
    NiceAgent* agent = nullptr;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(ice), "agent"))
        g_object_get(ice, "agent", &agent, nullptr);
    if (agent) {
        for (const std::string& a : addresses_) {
            NiceAddress* address = nice_address_new();
            if (nice_address_set_from_string(address, a.c_str()))
                nice_agent_add_local_address(agent, address);
            nice_address_free(address);
        }
        g_object_unref(agent);
    }
    gst_object_unref(ice);
}

void WebrtcPeer::fail(const std::string& why)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (answered_ || ended_)
            return;
        answered_ = true;
    }
    events_.answered("", why);
}

void WebrtcPeer::onRemoteSet(GstPromise* promise, gpointer data)
{
    auto* self = static_cast<WebrtcPeer*>(data);
    GstPromiseResult result = gst_promise_wait(promise);
    gst_promise_unref(promise);
    if (result != GST_PROMISE_RESULT_REPLIED) {
        self->fail("the offer was not taken");
        return;
    }
    GstPromise* next = gst_promise_new_with_change_func(onAnswerCreated, self, nullptr);
    g_signal_emit_by_name(self->webrtc_, "create-answer", nullptr, next);
}

void WebrtcPeer::onAnswerCreated(GstPromise* promise, gpointer data)
{
    auto* self = static_cast<WebrtcPeer*>(data);
    GstWebRTCSessionDescription* answer = nullptr;
    if (gst_promise_wait(promise) == GST_PROMISE_RESULT_REPLIED) {
        const GstStructure* reply = gst_promise_get_reply(promise);
        if (reply && gst_structure_has_field(reply, "answer"))
            gst_structure_get(reply, "answer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &answer,
                              nullptr);
    }
    gst_promise_unref(promise);
    if (!answer) {
        self->fail("no answer to the offer (no H.264 video in common)");
        return;
    }
    g_signal_emit_by_name(self->webrtc_, "set-local-description", answer, nullptr);
    gst_webrtc_session_description_free(answer);
}

void WebrtcPeer::onIceCandidate(GstElement*, guint mline, gchar* candidate, gpointer data)
{
    auto* self = static_cast<WebrtcPeer*>(data);
    if (!candidate)
        return;
    std::string text = candidate;
    if (!self->addresses_.empty()) {
        std::string address = candidateAddress(text);
        bool allowed = false;
        for (const std::string& a : self->addresses_)
            allowed = allowed || a == address;
        if (!allowed)
            return;
    }
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->candidates_.emplace_back(mline, std::move(text));
}

void WebrtcPeer::onGatheringState(GObject*, GParamSpec*, gpointer data)
{
    auto* self = static_cast<WebrtcPeer*>(data);
    GstWebRTCICEGatheringState state;
    g_object_get(self->webrtc_, "ice-gathering-state", &state, nullptr);
    if (state != GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE)
        return;
    GstWebRTCSessionDescription* local = nullptr;
    g_object_get(self->webrtc_, "local-description", &local, nullptr);
    std::string sdp;
    if (local) {
        gchar* text = gst_sdp_message_as_text(local->sdp);
        sdp = text ? text : "";
        g_free(text);
        gst_webrtc_session_description_free(local);
    }
    std::vector<std::pair<unsigned, std::string>> candidates;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (self->answered_ || self->ended_)
            return;
        self->answered_ = true;
        candidates = self->candidates_;
    }
    if (sdp.empty() || candidates.empty()) {
        self->events_.answered("", sdp.empty() ? "no local description"
                                               : "no ICE candidate on the gateway's addresses");
        return;
    }
    self->events_.answered(withCandidates(sdp, candidates), "");
}

void WebrtcPeer::onConnectionState(GObject*, GParamSpec*, gpointer data)
{
    auto* self = static_cast<WebrtcPeer*>(data);
    GstWebRTCPeerConnectionState state;
    g_object_get(self->webrtc_, "connection-state", &state, nullptr);
    GatewayLog::detail("camera " + self->hub_->path() + ": browser connection state " +
                       std::to_string(int(state)));
    if (state == GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED) {
        self->heardMs_ = Clock::nowMs();
        self->watchRtcp();
        // The hub's kept key frame goes out first, once the browser can take it.
        self->client_->attach();
        return;
    }
    if (state != GST_WEBRTC_PEER_CONNECTION_STATE_FAILED &&
        state != GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED)
        return;
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->ended_)
        return;
    self->ended_ = true;
    self->events_.ended(state == GST_WEBRTC_PEER_CONNECTION_STATE_FAILED ? "connection failed"
                                                                         : "connection closed");
}

}   // namespace kevra::gateway
