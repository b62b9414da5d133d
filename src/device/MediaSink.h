// Where one channel's media goes: the device layer hands every MEDIA_DATA payload of a running
// stream to the sink given for that channel and knows nothing of what consumes it (a decoder, a
// file, a test's call log). Implemented by the consumer, which owns it; every call comes on the
// network worker thread. Bytes are valid only during the call. A sink must not wait on the thread
// that opens or stops channels and must not call back into the device client.
#pragma once
#include <cstdint>

namespace kevra {

class MediaSink {
public:
    virtual ~MediaSink() = default;

    // The recorder was asked to start the channel's stream; bytes may follow.
    virtual void onStreamStarted(int channel) = 0;
    // One piece of the running stream, in arrival order.
    virtual void onMediaBytes(int channel, const uint8_t* bytes, int length) = 0;
    // The stream ended without its owner asking (logout, new login, connection lost). Not called
    // for a channel its owner stopped: after stopChannel returns the sink hears nothing more.
    virtual void onStreamStopped(int channel) = 0;
};

}   // namespace kevra
