// The ONVIF Media service of a gateway camera: its two fixed profiles (both the one stream the
// gateway publishes), video source and encoder configurations, stream and snapshot addresses.
// Stateless: each answer comes from the call and its setup. GLib main thread.
#pragma once
#include <string>

#include "OnvifCall.h"

namespace kevra::gateway {

class OnvifMedia {
public:
    static std::string getMediaServiceCapabilities(OnvifCall& c);
    static std::string getProfiles(OnvifCall& c);
    static std::string getProfile(OnvifCall& c);
    static std::string getVideoSources(OnvifCall& c);
    static std::string getVideoSourceConfigurations(OnvifCall& c);
    static std::string getVideoSourceConfiguration(OnvifCall& c);
    static std::string getVideoEncoderConfigurations(OnvifCall& c);
    static std::string getVideoEncoderConfiguration(OnvifCall& c);
    static std::string getVideoEncoderConfigurationOptions(OnvifCall& c);
    static std::string getStreamUri(OnvifCall& c);
    static std::string getSnapshotUri(OnvifCall& c);

private:
    static std::string profileXml(const OnvifCall& c, const std::string& token,
                                  const char* element);
    static std::string encoderXml(const OnvifCall& c, const std::string& token,
                                  const char* element);
    static std::string sourceConfigXml(const OnvifCall& c, const char* element);
};

}   // namespace kevra::gateway
