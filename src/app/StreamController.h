// One open camera stream, the one path every shown picture takes: the camera's LiveViewDevice
// (its own DecoderWorker and media sink), the state its view shows, the buffering rule and the
// stall detector. The single view and every tile present streams of this one type; Playback
// owns them, one per camera, and its frame timer polls them.
//
// Threads: open(), onOpenResult(), suspend() and stop() run on the user-interface thread while
// the frame timer is paused; poll(), pictureDrawn() and pictureSkipped() on the frame-timer
// thread, and only while polling() is true. The state, the low-latency flag and the stall
// detector are atomics; the counters of the buffering rule belong to the frame-timer thread;
// the stream figures guard themselves (StreamStats).
#pragma once
#include "app/CameraId.h"
#include "app/LiveViewDevice.h"
#include "app/StallDetector.h"
#include "app/StreamStats.h"

#include <atomic>
#include <memory>

namespace kevra {

class StreamController {
public:
    enum class State { Opening, Buffering, Playing, OpenError, CodecError, Stopped };
    // Frames without a picture before a playing stream says it is buffering: the decoder's
    // frame list runs dry between two pictures of a live stream most of the time.
    static constexpr int kGraceFrames = 4;

    StreamController(CameraId camera, std::unique_ptr<LiveViewDevice> device);
    ~StreamController();   // stop()
    StreamController(const StreamController&) = delete;
    StreamController& operator=(const StreamController&) = delete;

    // Asks the recorder for the channel, pictures in the given layout: Opening. Also reopens a
    // suspended or silent stream; the stall count then goes on from the last picture.
    void open(PixelFormat format);
    // The recorder's stream number the next open asks for (1 unless told otherwise; what it
    // means is the recorder's). User-interface thread, while the frame timer is paused.
    void setStreamNumber(int number) { streamNumber_ = number; }
    int streamNumber() const { return streamNumber_; }
    // Moves a running stream to another stream number of the same camera: the recorder stops
    // the one and starts the other. Until the new stream's first picture the view keeps the
    // last picture and its state reads Playing (no black, no "Buffering"). False when the
    // number is the one running, or nothing runs (the next open uses it). User-interface
    // thread, while the frame timer is paused.
    bool switchStream(int number, PixelFormat format);
    // True while a switched stream waits for its first picture (any thread).
    bool holding() const { return holding_.load(); }
    // The recorder's answer: 0 gives Buffering and starts the stall count (unless it runs
    // since an earlier open); anything else stops the channel (OpenError). Answers outside
    // Opening are ignored. Returns true when the state changed.
    bool onOpenResult(int result);
    // The session is lost: the channel stops (Stopped) but the stall count goes on, so the
    // view can say how long no picture came until the stream is opened again.
    void suspend();
    // Stops the channel at the recorder and its decoding: Stopped, no stall count.
    void stop();
    // Any thread: pictures converted from now on use this layout.
    void setPixelFormat(PixelFormat format) { device_->setPixelFormat(format); }

    // ---- Frame-timer thread ----
    // True with a ready picture (width and height above 0); keeps the state in line with the
    // stream. changed: the state changed.
    bool poll(Picture& picture, bool& changed);
    // After a polled picture was drawn, at drawnUs (Clock::nowUs): records its stage times in
    // the stream figures and gives it back.
    void pictureDrawn(const Picture& picture, uint64_t drawnUs);
    // A polled picture nobody sees (a hidden stream, the tree shown): gives it back undrawn.
    void pictureSkipped(const Picture& picture);
    // Polls of the frame timer per frame of the stream (the buffering rule's grace counts
    // polls).
    void setPollsPerFrame(int polls) { pollsPerFrame_ = polls > 0 ? polls : 1; }

    // Any thread.
    bool polling() const;
    State state() const { return holding_.load() ? State::Playing : state_.load(); }
    CameraId camera() const { return camera_; }
    int frameRate() const { return device_->frameRate(); }
    // Whole seconds without a new picture once that reaches 3 s, while the stream plays, is
    // suspended or reopens; 0 otherwise (also while its video cannot be shown).
    int stalledSeconds() const;
    // Low latency (hook for the latency mode): the state follows the pictures alone, without
    // the decoder's rule that waits for a second of frames after the stream ran dry, and the
    // frame timer polls more often (Playback::setLowLatency).
    // The decoder catches up in this mode too (DecoderWorker::setLowLatency).
    void setLowLatency(bool on)
    {
        lowLatency_ = on;
        device_->setLowLatency(on);
    }
    bool lowLatency() const { return lowLatency_.load(); }
    LiveViewDevice& device() { return *device_; }
    // The stream's figures over the last seconds (any thread); reset by open().
    StreamStats::Figures figures() const;

    // Language key of a state: in a tile, or in the single view's status row.
    static const char16_t* tileKey(State s);
    static const char16_t* singleKey(State s);

private:
    // The stream ends here: its figures into the log (when pictures were drawn), then forgotten.
    void closeStats();

    const CameraId camera_;
    std::unique_ptr<LiveViewDevice> device_;
    std::atomic<State> state_{State::Stopped};
    std::atomic<bool> lowLatency_{false};
    std::atomic<bool> holding_{false};
    int streamNumber_ = 1;
    StallDetector stall_;
    StreamStats stats_;
    // Frame-timer thread (reset by open() while no poll runs).
    int buffering_ = 1;
    int missed_ = 0;            // polls without a picture while playing
    bool anyPicture_ = false;   // a picture came since the open
    int pollsPerFrame_ = 2;
};

}   // namespace kevra
