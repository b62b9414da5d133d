// The recorder link and decoder operations the live view drives: open a channel, poll
// pictures, follow the stream's frame rate. Implemented over the device client; tests fake it.
// openChannel, stopChannel and setPixelFormat on the user-interface thread, the rest on the
// frame-timer thread (only while the live view's timer runs).
#pragma once
#include "video/Picture.h"

#include <cstdint>

namespace kevra {

class LiveViewDevice {
public:
    virtual ~LiveViewDevice() = default;

    // Opens a channel; the channel shown so far is stopped first.
    virtual void openChannel(int channel, int stream) = 0;
    // Stops the channel shown (at the recorder too) and its decoding; nothing when none is.
    virtual void stopChannel() = 0;
    // The pixel layout pictures are wanted in.
    virtual void setPixelFormat(PixelFormat format) = 0;
    // A ready picture, valid until given back; false when none is ready.
    virtual bool takePicture(Picture& picture) = 0;
    virtual void giveBack(const Picture& picture) = 0;
    // When no picture was ready: 1 buffering, 0 not, or previous when unchanged.
    virtual int buffering(int previous) = 0;
    virtual int frameRate() const = 0;
    // The codec of a stream that cannot be decoded, or -1 (also when the device cannot tell).
    virtual int undecodableCodec() const { return -1; }
};

}   // namespace kevra
