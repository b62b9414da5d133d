// Live-view controller: opens the chosen camera, runs the frame timer that polls the decoder,
// lays the picture out (fit, quarter turn in full screen) and presents it; keeps the status
// line truthful. Owned by the main window. Every operation runs on the user-interface thread
// except tick(), which runs on the frame-timer thread. Fields written by tick() are only
// touched by the user-interface thread after the timer has been cancelled; flags and
// rectangles that the user-interface thread changes while the timer runs are atomics.
#pragma once
#include "app/LiveViewDevice.h"
#include "app/LiveViewHost.h"
#include "app/PictureLayout.h"
#include "app/PictureSurface.h"
#include "app/Rect.h"
#include "app/StallDetector.h"
#include "common/PeriodicTimer.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kevra {

class LiveView {
public:
    static constexpr int kImageOpenCamera = 1;
    static constexpr int kImageIdleCamera = 2;

    LiveView(LiveViewHost& host, PictureSurface& surface, LiveViewDevice& device);
    ~LiveView();   // cancels the frame timer
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    // Creates the display surface at 352 x 288 and gives its pixel depth to the decoder.
    void initialise();
    // A camera was chosen in the tree (item handle and its channel number).
    void openCamera(uintptr_t item, int channel);
    // Stops the open camera: timer cancelled (no tick runs after this returns), channel and
    // decoding stopped, video area cleared to black, "STOP".
    void stop();
    // Recorder's answer to the request to open a channel (0 = opened). Answers for a channel
    // other than the one chosen last are ignored; a refused open stops the channel again.
    void onOpenResult(int channel, int result);
    // The recorder connection was lost.
    void onConnectionLost();
    // The session was lost and is being recovered: the timer and the channel stop, but the
    // camera, the last picture and the mode stay (the picture is then marked as stalled).
    void suspend();
    // Opens the chosen channel again (after a suspend, with the tree item of the new camera
    // list, or 0 to keep the item; after its media connection closed). False when no camera
    // is chosen.
    bool reopen(uintptr_t item);
    // Whole seconds without a new picture while playing, once that reaches 3 s; else 0. Any
    // thread.
    int stalledSeconds() const { return stall_.stalledSeconds(); }
    // The stream reached is one whose video cannot be shown (the status line says so).
    bool cannotShowStream() const { return codecShown_.load(); }
    // Frame timer callback (frame-timer thread).
    void tick();

    // Main window layout and modes (user-interface thread).
    void setRectangles(const Rect& normal, const Rect& fullScreen);
    void setVideoShown(bool shown);
    void setLayoutDirty();
    // Flips full screen and moves the video area; ignored while no channel is chosen.
    // Returns true when it toggled.
    bool toggleFullScreen();

    // Frame timer period for a frame rate: 1000 / rate ms, truncated (at least 1 ms).
    static int periodFor(int rate);

    int channel() const { return channel_.load(); }
    uintptr_t openItem() const { return openItem_; }
    bool fullScreen() const { return fullScreen_.load(); }
    int frameRate() const { return frameRate_.load(); }
    int timerId() const { return timerId_.load(); }
    int buffering() const { return buffering_.load(); }
    int pixelDepth() const { return pixelDepth_.load(); }
    // Last layout (valid while no tick runs, e.g. in tests after stop or between ticks).
    const PictureLayout::Placement& placement() const { return placement_; }
    Rect destination() const { return destination_; }
    bool hasTurnBuffer() const { return turnBuffer_ != nullptr; }
    // True while the picture is shown turned (a turning buffer is in use); any thread.
    bool pictureTurned() const { return pictureTurned_.load(); }

private:
    void startTimer();
    void cancelTimer();
    void leaveFullScreen();
    void layOut(int width, int height, PictureLayout::PixelAspect aspect);
    static uint64_t packRect(const Rect& r);
    static Rect unpackRect(uint64_t v);

    LiveViewHost& host_;
    PictureSurface& surface_;
    LiveViewDevice& device_;
    PeriodicTimer timer_;
    StallDetector stall_;   // started by the open result, told of pictures by tick()

    // User-interface thread.
    uintptr_t openItem_ = 0;
    // Shared with the frame-timer thread.
    std::atomic<int> channel_{-1};
    std::atomic<int> frameRate_{25};
    std::atomic<int> timerId_{0};   // written only by the user-interface thread
    std::atomic<int> buffering_{1};
    std::atomic<bool> codecShown_{false};   // the status line says the stream cannot be decoded
    std::atomic<bool> anyPicture_{false};   // a picture came since the channel opened
    std::atomic<bool> fullScreen_{false};
    std::atomic<bool> layoutDirty_{true};
    std::atomic<bool> videoShown_{false};
    std::atomic<uint64_t> normalRect_{0};
    std::atomic<uint64_t> fullRect_{0};
    std::atomic<int> pixelDepth_{32};
    std::atomic<bool> pictureTurned_{false};
    // Frame-timer thread while the timer runs; user-interface thread only after cancelling.
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    PictureLayout::PixelAspect lastAspect_{0, 0};
    PictureLayout::Placement placement_;
    Rect destination_;
    std::unique_ptr<uint8_t[]> turnBuffer_;
};

}   // namespace kevra
