// What the device link reports to its owner: login, camera list, channel opens, a media
// connection the recorder closed, and connection loss (media goes to each channel's MediaSink
// instead). Implemented by the device client and by its user; called on the network worker
// thread. Data blocks passed in are valid only during the call.
#pragma once
#include <cstdint>

namespace kevra {

class DeviceEvents {
public:
    virtual ~DeviceEvents() = default;
    // systemError: for a connect that failed (CONNECT_FAILED), its errno (ETIMEDOUT when nobody
    // answered in time); 0 otherwise.
    virtual void onLogin(int code, int channelCount, int systemError) = 0;
    virtual void onList(int code, const uint8_t* block, int length, int count) = 0;
    virtual void onChannel(int channel, int code) = 0;
    virtual void onConnectionLost() = 0;
    // The recorder closed one channel's media connection (or it failed) while the session
    // stayed up: that channel delivers nothing until it is opened again.
    virtual void onChannelClosed(int channel) {}
};

}   // namespace kevra
