// The ONVIF Device service of a gateway camera: time, capabilities and services, identity,
// network, scopes. Stateless: each answer comes from the call and its setup. GLib main thread.
#pragma once
#include <string>

#include "OnvifCall.h"

namespace kevra::gateway {

class OnvifDevice {
public:
    static std::string getSystemDateAndTime(OnvifCall& c);
    static std::string getCapabilities(OnvifCall& c);
    static std::string getServices(OnvifCall& c);
    static std::string getDeviceServiceCapabilities(OnvifCall& c);
    static std::string getDeviceInformation(OnvifCall& c);
    static std::string getNetworkInterfaces(OnvifCall& c);
    static std::string getScopes(OnvifCall& c);
    static std::string getHostname(OnvifCall& c);
    static std::string getDns(OnvifCall& c);
    static std::string getNtp(OnvifCall& c);
};

}   // namespace kevra::gateway
