// The single view: presents one stream's pictures in the video area, fitted with the stream's
// pixel aspect, turned a quarter on a portrait screen in full screen. It holds no stream: the
// playback's frame timer hands it pictures. Owned by Playback.
//
// Threads: present() runs on the frame-timer thread; the rest on the user-interface thread.
// Flags and rectangles the user-interface thread changes while the timer runs are atomics; the
// layout fields (last size, placement, turning buffer) belong to the frame-timer thread and are
// touched by reset() only while the timer is paused.
#pragma once
#include "app/PictureLayout.h"
#include "app/PictureSurface.h"
#include "app/Rect.h"
#include "app/SingleViewHost.h"
#include "video/Picture.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kevra {

class SingleView {
public:
    SingleView(SingleViewHost& host, PictureSurface& surface) : host_(host), surface_(surface) {}
    SingleView(const SingleView&) = delete;
    SingleView& operator=(const SingleView&) = delete;

    // Creates the display surface at 352 x 288; returns the bits per pixel pictures must have.
    int initialise();
    // Another stream (or none) takes the view: the area turns black, full screen ends and the
    // next picture is laid out afresh. Only while the frame timer is paused.
    void reset();
    // Frame-timer thread: lays the picture out when its size, its aspect or the area changed
    // and presents it. False when nothing was drawn (video area hidden, or a picture converted
    // for another depth than the surface's).
    bool present(const Picture& picture);

    // Window layout and modes (user-interface thread).
    void setRectangles(const Rect& normal, const Rect& fullScreen);
    void setVideoShown(bool shown) { videoShown_ = shown; }
    void setLayoutDirty() { layoutDirty_ = true; }
    void toggleFullScreen();
    void leaveFullScreen();

    bool fullScreen() const { return fullScreen_.load(); }
    // Bits per pixel of the surface (any thread).
    int pixelDepth() const { return pixelDepth_.load(); }
    // True while the picture is shown turned (a turning buffer is in use); any thread.
    bool pictureTurned() const { return pictureTurned_.load(); }
    // Last layout (valid while no present runs, e.g. in tests between ticks).
    const PictureLayout::Placement& placement() const { return placement_; }
    Rect destination() const { return destination_; }
    bool hasTurnBuffer() const { return turnBuffer_ != nullptr; }

private:
    void layOut(int width, int height, PictureLayout::PixelAspect aspect);
    static uint64_t packRect(const Rect& r);
    static Rect unpackRect(uint64_t v);

    SingleViewHost& host_;
    PictureSurface& surface_;
    // Shared with the frame-timer thread.
    std::atomic<bool> fullScreen_{false};
    std::atomic<bool> layoutDirty_{true};
    std::atomic<bool> videoShown_{false};
    std::atomic<uint64_t> normalRect_{0};
    std::atomic<uint64_t> fullRect_{0};
    std::atomic<int> pixelDepth_{32};
    std::atomic<bool> pictureTurned_{false};
    // Frame-timer thread while the timer runs.
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    PictureLayout::PixelAspect lastAspect_{0, 0};
    PictureLayout::Placement placement_;
    Rect destination_;
    std::unique_ptr<uint8_t[]> turnBuffer_;
};

}   // namespace kevra
