// One camera's media connection: claims the channel with the session identifier, then strips
// the headers of MEDIA_DATA messages and hands their payload to the session's media sink while the
// stream runs. Owned by the DeviceSession's channel table; only the network worker uses it.
#pragma once
#include "device/MessageConnection.h"

namespace kevra {

class DeviceSession;

class MediaChannel : public MessageConnection {
public:
    static constexpr int kStreamingBuffer = 10240;

    MediaChannel(DeviceSession& session, int index);
    ~MediaChannel() override;

    // Closes only this channel's link.
    void close() override;
    void onPayload(int command, const uint8_t* bytes, int length) override;

    int index() const { return identity(); }
    bool streaming() const { return streaming_; }
    void setStreaming(bool on) { streaming_ = on; }
    int streamNumber() const { return stream_; }
    void setStreamNumber(int stream) { stream_ = stream; }

private:
    DeviceSession& session_;
    int32_t stream_ = 0;
    bool streaming_ = false;
};

}   // namespace kevra
