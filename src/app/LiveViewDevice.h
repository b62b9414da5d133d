// The recorder link and decoder operations one camera stream drives (StreamController): open a
// channel, poll pictures, follow the stream's frame rate. Implemented over the device client;
// tests fake it. openChannel and stopChannel on the user-interface thread, the picture calls on
// the frame-timer thread (only while the playback's timer polls the stream), setPixelFormat and
// lastMediaMs() on any thread.
#pragma once
#include "common/Clock.h"
#include "video/DecoderWorker.h"
#include "video/Picture.h"

#include <cstdint>
#include <string>

namespace kevra {

class LiveViewDevice {
public:
    // A stream whose media keeps coming without one picture this long after its open cannot be
    // shown (a format the decoder does not take, or one it fails on every time): about three
    // key-frame intervals of a live camera.
    static constexpr uint64_t kNoPictureMs = 6000;

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
    // Why the stream cannot be decoded, in plain words (codec, profile, pixel format); empty
    // while it can be, or when the device cannot tell.
    virtual std::string undecodableReason() const { return {}; }
    // Clock time of the channel's open and of the last media byte since (0: not known, or no
    // byte yet).
    virtual uint64_t openedMs() const { return 0; }
    virtual uint64_t lastMediaMs() const { return 0; }
    // Low-latency decoding (any thread; see DecoderWorker::setLowLatency).
    virtual void setLowLatency(bool) {}
    // The decoder's running totals and open codec (-1: none or not known), for the stream
    // figures. Any thread.
    virtual DecoderWorker::Counters counters() const { return {}; }
    virtual int codec() const { return -1; }

    // True when this stream's video cannot be shown: the decoder says so, or media came for
    // kNoPictureMs since the open and not one picture (anyPicture) was drawn.
    bool cannotShow(bool anyPicture) const
    {
        if (undecodableCodec() >= 0)
            return true;
        const uint64_t opened = openedMs();
        return !anyPicture && opened != 0 && lastMediaMs() != 0 &&
               Clock::nowMs() - opened >= kNoPictureMs;
    }
    // Milliseconds since the last media byte (or since the open when none came); 0 when the
    // device cannot tell.
    uint64_t silentMs() const
    {
        const uint64_t opened = openedMs();
        if (opened == 0)
            return 0;
        const uint64_t last = lastMediaMs() > opened ? lastMediaMs() : opened;
        const uint64_t now = Clock::nowMs();
        return now > last ? now - last : 0;
    }
    // The log line for a stream that cannot be shown: the decoder's reason, or that media came
    // without a picture.
    std::string cannotShowText(int channel) const
    {
        std::string why = undecodableReason();
        if (why.empty())
            why = "media came for " + std::to_string(kNoPictureMs / 1000) + " s without a picture";
        return "camera " + std::to_string(channel + 1) + ": its video cannot be shown: " + why;
    }
};

}   // namespace kevra
