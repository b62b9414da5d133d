// The ONVIF PTZ and Imaging (focus) services of the gateway's cameras: owns one PtzMotion per
// camera and turns continuous and relative moves into the recorder's step commands at a steady
// pace through each camera's PtzSink (tick()). The recorder's iris has no ONVIF move. GLib main
// thread only (the transport's handlers and timer).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "OnvifCall.h"
#include "PtzMotion.h"

namespace kevra::gateway {

class OnvifPtz {
public:
    // setup outlives this and holds one PtzSink entry per camera.
    explicit OnvifPtz(const OnvifSetup& setup);

    // The PTZ configuration as a profile and the PTZ service describe it.
    static std::string configXml(const char* element);

    static std::string getPtzServiceCapabilities(OnvifCall& c);
    static std::string getNodes(OnvifCall& c);
    static std::string getNode(OnvifCall& c);
    static std::string getConfigurations(OnvifCall& c);
    static std::string getConfiguration(OnvifCall& c);
    static std::string getConfigurationOptions(OnvifCall& c);
    static std::string getPresets(OnvifCall& c);
    std::string continuousMove(OnvifCall& c);
    std::string relativeMove(OnvifCall& c);
    std::string stop(OnvifCall& c);
    std::string getStatus(OnvifCall& c);

    static std::string getImagingServiceCapabilities(OnvifCall& c);
    static std::string getImagingSettings(OnvifCall& c);
    static std::string getImagingOptions(OnvifCall& c);
    static std::string getMoveOptions(OnvifCall& c);
    std::string focusMove(OnvifCall& c);
    std::string focusStop(OnvifCall& c);
    std::string getImagingStatus(OnvifCall& c);

    // Sends the steps due now; nextDueMs() says when to call again (0: nothing moves).
    void tick(uint64_t nowMs);
    uint64_t nextDueMs() const;

private:
    static std::string nodeXml(const char* element);
    static bool videoSource(OnvifCall& c);   // the request's VideoSourceToken is ours, else a fault
    void sendSteps(size_t camera, uint64_t nowMs);
    PtzMotion& motion(const OnvifCall& c);   // the call's camera's
    // Sends the steps of the move just set on the call's camera that are due now, and answers.
    std::string started(const OnvifCall& c, const char* response);

    const OnvifSetup& setup_;
    std::vector<PtzMotion> motions_;   // one per camera
};

}   // namespace kevra::gateway
