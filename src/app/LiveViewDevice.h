// The recorder link and decoder operations the live view drives: open a channel, poll
// pictures, follow the stream's frame rate. Implemented over the device client; tests fake it.
// openChannel, stopChannel and setDisplayDepth on the user-interface thread, the rest on the
// frame-timer thread (only while the live view's timer runs).
#pragma once
#include <cstdint>

namespace kevra {

class LiveViewDevice {
public:
    virtual ~LiveViewDevice() = default;

    // Opens a channel; the channel shown so far is stopped first.
    virtual void openChannel(int channel, int stream) = 0;
    // Stops the channel shown (at the recorder too) and its decoding; nothing when none is.
    virtual void stopChannel() = 0;
    virtual void setDisplayDepth(int bitsPerPixel) = 0;
    // Returns a ready picture or nullptr; updates buffering, width and height.
    virtual const uint8_t* pictureQuery(int& buffering, int& width, int& height) = 0;
    virtual int convertedCount() const = 0;
    virtual void lowerConvertedCount() = 0;
    virtual int frameRate() const = 0;
    // The codec of a stream that cannot be decoded, or -1 (also when the device cannot tell).
    virtual int undecodableCodec() const { return -1; }
};

}   // namespace kevra
