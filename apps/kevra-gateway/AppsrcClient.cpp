#include "AppsrcClient.h"

#include <gst/app/gstappsrc.h>

#include "CameraHub.h"
#include "DelayStats.h"

namespace kevra::gateway {

namespace {

void releaseFrame(gpointer data)
{
    delete static_cast<OutFramePtr*>(data);
}

}   // namespace

AppsrcClient::AppsrcClient(std::shared_ptr<CameraHub> hub, OutCodec codec, GstElement* appsrc,
                           GstRTSPMedia* media, uint64_t queueLimitBytes, DelayStats* stats,
                           std::function<void(GstRTSPMedia*, bool)> onEnd)
    : hub_(std::move(hub)), codec_(codec), appsrc_(GST_ELEMENT(gst_object_ref(appsrc))),
      media_(media), queueLimitBytes_(queueLimitBytes), stats_(stats), onEnd_(std::move(onEnd))
{
}

AppsrcClient::~AppsrcClient()
{
    detach();
    g_signal_handlers_disconnect_by_data(appsrc_, this);
    if (payloaderPad_) {
        gst_pad_remove_probe(payloaderPad_, probe_);
        gst_object_unref(payloaderPad_);
    }
    gst_object_unref(appsrc_);
}

void AppsrcClient::watchPayloader(GstElement* payloader)
{
    if (payloaderPad_ || !payloader)
        return;
    payloaderPad_ = gst_element_get_static_pad(payloader, "src");
    if (payloaderPad_)
        probe_ = gst_pad_add_probe(
            payloaderPad_,
            GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST), onPacket,
            this, nullptr);
}

GstPadProbeReturn AppsrcClient::onPacket(GstPad*, GstPadProbeInfo* info, gpointer self)
{
    GstBuffer* buffer = nullptr;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        if (list && gst_buffer_list_length(list) > 0)
            buffer = gst_buffer_list_get(list, 0);
    } else {
        buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    }
    if (buffer && GST_BUFFER_PTS_IS_VALID(buffer))
        static_cast<AppsrcClient*>(self)->packetOut(GST_BUFFER_PTS(buffer));
    return GST_PAD_PROBE_OK;
}

void AppsrcClient::attach()
{
    if (attached_.exchange(true) || ended_)
        return;
    attachNs_ = OutFrame::steadyNowNs();
    hub_->attach(this);
}

void AppsrcClient::detach()
{
    if (attached_)
        hub_->detach(this);
}

bool AppsrcClient::deliver(const OutFramePtr& frame, int64_t ptsUs)
{
    if (frame->codec != codec_)
        return false;
    if (gst_app_src_get_current_level_bytes(GST_APP_SRC(appsrc_)) > queueLimitBytes_)
        return false;
    auto* keep = new OutFramePtr(frame);
    GstBuffer* buffer = gst_buffer_new_wrapped_full(
        GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(frame->bytes.data()), frame->bytes.size(), 0,
        frame->bytes.size(), keep, releaseFrame);
    uint64_t pts = uint64_t(ptsUs) * 1000;
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = uint64_t(frame->durationUs) * 1000;
    if (!frame->key)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    if (frame->arrivalNs >= attachNs_) {
        std::lock_guard<std::mutex> lock(ringMutex_);
        ringPts_[ringNext_] = pts;
        ringArrival_[ringNext_] = frame->arrivalNs;
        ringNext_ = (ringNext_ + 1) % kArrivalRing;
    }
    GstFlowReturn r = gst_app_src_push_buffer(GST_APP_SRC(appsrc_), buffer);
    // A flushing source (the client is going) is not a slow one.
    return r == GST_FLOW_OK || r == GST_FLOW_FLUSHING;
}

void AppsrcClient::end(bool slow)
{
    if (ended_.exchange(true))
        return;
    onEnd_(media_, slow);
}

void AppsrcClient::packetOut(uint64_t ptsNs)
{
    uint64_t now = OutFrame::steadyNowNs();
    std::lock_guard<std::mutex> lock(ringMutex_);
    if (ptsNs == lastOutPts_)
        return;   // only the first packet of each frame counts
    if (lastOutPts_ == UINT64_MAX && attachNs_ != 0)
        hub_->firstFrame().observe(now - attachNs_);
    lastOutPts_ = ptsNs;
    for (int i = 0; i < kArrivalRing; ++i) {
        if (ringPts_[i] == ptsNs && ringArrival_[i] != 0) {
            hub_->delayAdded().observe(now - ringArrival_[i]);
            if (stats_)
                stats_->add(now - ringArrival_[i]);
            ringArrival_[i] = 0;
            return;
        }
    }
}

}   // namespace kevra::gateway
