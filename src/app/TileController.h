// One stream of the multi-camera view: a channel, its LiveViewDevice (its own DecoderWorker
// and media sink, input queue and frame list bounded as in the one-camera view), the one-camera
// view's buffering rule and the state its tile shows. open(), stop() and onOpenResult() run on
// the user-interface thread; poll() and pictureShown() on the frame-timer thread, and only while
// the state is Buffering, Playing or CodecError. The state is an atomic.
#pragma once
#include "app/LiveViewDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kevra {

class TileController {
public:
    enum class State { Opening, Buffering, Playing, OpenError, CodecError, Stopped };
    // Polls without a picture before a playing tile says it is buffering (the grid polls
    // twice per frame: about four frames).
    static constexpr int kGraceTicks = 8;

    TileController(int channel, std::unique_ptr<LiveViewDevice> device);
    ~TileController();   // stop()
    TileController(const TileController&) = delete;
    TileController& operator=(const TileController&) = delete;

    // Asks the recorder for the channel (pictures in the given bits per pixel): Opening.
    void open(int bitsPerPixel);
    // The recorder's answer: 0 gives Buffering, anything else stops the channel (OpenError).
    // Answers outside Opening are ignored.
    void onOpenResult(int result);
    // Stops the channel at the recorder and its decoding: Stopped.
    void stop();

    // Frame-timer thread: true with a ready picture; keeps the state in line with the stream
    // (buffering, playing, cannot be decoded). Returns true in changed when the state changed.
    bool poll(Picture& picture, bool& changed);
    // After a polled picture was drawn: gives it back.
    void pictureShown(const Picture& picture);
    // True while poll() may run.
    bool polling() const;

    int channel() const { return channel_; }
    State state() const { return state_.load(); }
    int frameRate() const { return device_->frameRate(); }
    LiveViewDevice& device() { return *device_; }
    // Language key of a state's tile text.
    static const char16_t* stateKey(State s);

private:
    const int channel_;
    std::unique_ptr<LiveViewDevice> device_;
    std::atomic<State> state_{State::Stopped};
    int buffering_ = 1;         // frame-timer thread
    int missed_ = 0;            // frame-timer thread: polls without a picture while playing
    bool anyPicture_ = false;   // frame-timer thread: a picture came since the open
};

}   // namespace kevra
