// Where a recorder link announces the cameras it found: the RTSP side mounts or unmounts their
// paths. Called on the link's control thread; implementations lock what they touch.
#pragma once
#include <memory>
#include <string>

namespace kevra::gateway {

class CameraHub;

class CameraPublisher {
public:
    virtual ~CameraPublisher() = default;
    virtual void publish(const std::shared_ptr<CameraHub>& hub) = 0;
    virtual void unpublish(const std::string& path) = 0;
};

}   // namespace kevra::gateway
