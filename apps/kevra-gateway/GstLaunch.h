// Builds a GStreamer pipeline from a launch description for the gateway's own pipelines (the
// WebRTC viewers' and the MPEG-4 transcoder's). Any thread.
#pragma once
#include <gst/gst.h>

#include <string>

namespace kevra::gateway {

// The pipeline, or null with `error` saying why (a half-built one is released).
GstElement* launchPipeline(const std::string& launch, std::string& error);

}   // namespace kevra::gateway
