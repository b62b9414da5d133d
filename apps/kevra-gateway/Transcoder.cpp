#include "Transcoder.h"

#include <gst/app/gstappsink.h>

#include <chrono>

#include "AppsrcClient.h"
#include "CameraHub.h"
#include "GatewayLog.h"
#include "GstLaunch.h"
#include "remux/AccessUnit.h"

namespace kevra::gateway {

Transcoder::Transcoder(std::shared_ptr<CameraHub> source, uint64_t queueLimitBytes)
    : source_(std::move(source)),
      out_(std::make_shared<CameraHub>(source_->path() + " (H.264 for browsers)",
                                       source_->channel(), 0)),
      queueLimitBytes_(queueLimitBytes)
{
}

Transcoder::~Transcoder()
{
    if (client_)
        client_->detach();
    if (pipeline_) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
    client_.reset();
}

std::string Transcoder::start()
{
    // One encoder thread and no look-ahead: the picture leaves the encoder as it comes in.
    std::string launch =
        "appsrc name=src is-live=true format=time do-timestamp=false block=false max-bytes=" +
        std::to_string(queueLimitBytes_ * 2) +
        " caps=video/mpeg,mpegversion=4,systemstream=false ! avdec_mpeg4 max-threads=1 ! "
        "videoconvert ! x264enc tune=zerolatency speed-preset=ultrafast threads=1 "
        "key-int-max=50 bitrate=2048 option-string=repeat-headers=1 ! "
        "video/x-h264,profile=constrained-baseline,stream-format=byte-stream,alignment=au ! "
        "appsink name=sink sync=false max-buffers=8 emit-signals=true";
    std::string error;
    pipeline_ = launchPipeline(launch, error);
    if (!pipeline_)
        return "cannot build the H.264 encode (" + error +
               "); are gstreamer1.0-libav and gstreamer1.0-plugins-ugly installed?";
    // Nothing reads the bus: errors are logged, every message is dropped where it is posted.
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer data) -> GstBusSyncReply {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                GatewayLog::line(
                    "camera " + static_cast<Transcoder*>(data)->source_->path() +
                    ": H.264 encode stopped: " + (error ? error->message : "stream error"));
                if (error)
                    g_error_free(error);
            }
            return GST_BUS_DROP;
        },
        this, nullptr);
    gst_object_unref(bus);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline_), "src");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
    g_signal_connect(sink, "new-sample", G_CALLBACK(onSample), this);
    gst_object_unref(sink);
    client_ = std::make_unique<AppsrcClient>(source_, OutCodec::Mpeg4, src, nullptr,
                                             queueLimitBytes_, nullptr, [](GstRTSPMedia*, bool) {});
    gst_object_unref(src);
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return "cannot start the H.264 encode";
    client_->attach();
    GatewayLog::line("camera " + source_->path() + ": H.264 encode for browsers started");
    return "";
}

GstFlowReturn Transcoder::onSample(GstElement* sink, gpointer data)
{
    auto* self = static_cast<Transcoder*>(data);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_OK;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        AccessUnit unit;
        unit.codec = UnitCodec::H264;
        unit.key = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
        if (GstCaps* caps = gst_sample_get_caps(sample)) {
            const GstStructure* s = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(s, "width", &unit.width);
            gst_structure_get_int(s, "height", &unit.height);
        }
        unit.timeUs = GST_BUFFER_PTS_IS_VALID(buffer) ? int64_t(GST_BUFFER_PTS(buffer) / 1000) : 0;
        unit.durationUs = GST_BUFFER_DURATION_IS_VALID(buffer)
                              ? int64_t(GST_BUFFER_DURATION(buffer) / 1000)
                              : 40000;
        unit.data = map.data;
        unit.size = int(map.size);
        uint64_t now = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count());
        self->out_->pushFrame(unit, now);
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

}   // namespace kevra::gateway
