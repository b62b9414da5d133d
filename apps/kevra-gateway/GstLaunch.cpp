#include "GstLaunch.h"

namespace kevra::gateway {

GstElement* launchPipeline(const std::string& launch, std::string& error)
{
    GError* failure = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &failure);
    if (pipeline && !failure)
        return pipeline;
    error = failure ? failure->message : "unknown error";
    if (failure)
        g_error_free(failure);
    if (pipeline)
        gst_object_unref(pipeline);
    return nullptr;
}

}   // namespace kevra::gateway
