// What the device link reports to its owner: login, camera list, channel opens and connection
// loss (media goes to each channel's MediaSink instead). Implemented by the device client and by
// its user; called on the network worker thread. Data blocks passed in are valid only during the
// call.
#pragma once
#include <cstdint>

namespace kevra {

class DeviceEvents {
public:
    virtual ~DeviceEvents() = default;
    virtual void onLogin(int code, int channelCount) = 0;
    virtual void onList(int code, const uint8_t* block, int length, int count) = 0;
    virtual void onChannel(int channel, int code) = 0;
    virtual void onConnectionLost() = 0;
};

} // namespace kevra
