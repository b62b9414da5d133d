// The shared H.264 encode of one MPEG-4 Visual camera for browsers, which cannot decode MPEG-4:
// a hub client of the camera (appsrc -> libav's MPEG-4 decoder -> x264, tuned for latency ->
// appsink) that feeds a hub of its own, from which every browser viewer of the camera takes its
// frames with a kept key frame for late joiners. It runs only while it exists: the web side
// makes it for the first browser viewer of the camera and destroys it after the last.
// Made and destroyed on the main thread; the encoder's streaming thread feeds the output hub.
#pragma once
#include <gst/gst.h>

#include <memory>
#include <string>

namespace kevra::gateway {

class AppsrcClient;
class CameraHub;

class Transcoder {
public:
    Transcoder(std::shared_ptr<CameraHub> source, uint64_t queueLimitBytes);
    ~Transcoder();
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    // Builds and starts the encode and joins the camera's hub. "" or the reason it failed.
    std::string start();
    const std::shared_ptr<CameraHub>& hub() const { return out_; }

    int users = 0;   // browser viewers using it (main thread)

private:
    static GstFlowReturn onSample(GstElement* sink, gpointer self);

    std::shared_ptr<CameraHub> source_;
    std::shared_ptr<CameraHub> out_;
    const uint64_t queueLimitBytes_;
    GstElement* pipeline_ = nullptr;
    std::unique_ptr<AppsrcClient> client_;
};

}   // namespace kevra::gateway
