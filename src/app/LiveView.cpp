#include "app/LiveView.h"

#include "app/ViewerLog.h"

#include <new>

namespace kevra {

LiveView::LiveView(LiveViewHost& host, PictureSurface& surface, LiveViewDevice& device)
    : host_(host), surface_(surface), device_(device)
{
}

LiveView::~LiveView()
{
    cancelTimer();
}

uint64_t LiveView::packRect(const Rect& r)
{
    auto part = [](int v) { return uint64_t(uint16_t(int16_t(v))); };
    return part(r.left) | part(r.top) << 16 | part(r.right) << 32 | part(r.bottom) << 48;
}

Rect LiveView::unpackRect(uint64_t v)
{
    auto part = [&](int shift) { return int(int16_t(uint16_t(v >> shift))); };
    return Rect{part(0), part(16), part(32), part(48)};
}

void LiveView::initialise()
{
    int depth = surface_.create(352, 288);
    if (depth > 0)
        pixelDepth_ = depth;
    device_.setPixelFormat(pixelFormatForDepth(pixelDepth_));
}

void LiveView::setRectangles(const Rect& normal, const Rect& fullScreen)
{
    normalRect_ = packRect(normal);
    fullRect_ = packRect(fullScreen);
}

void LiveView::setVideoShown(bool shown)
{
    videoShown_ = shown;
}

void LiveView::setLayoutDirty()
{
    layoutDirty_ = true;
}

bool LiveView::toggleFullScreen()
{
    if (channel_.load() == -1)
        return false;
    bool now = !fullScreen_.load();
    fullScreen_ = now;
    // The picture laid out for the other mode is not drawn again at its old place; the next
    // tick lays it out afresh.
    pictureTurned_ = false;
    host_.fillVideoAreaBlack();
    host_.moveVideoArea(unpackRect(now ? fullRect_.load() : normalRect_.load()));
    layoutDirty_ = true;   // after the flag, so a tick that sees dirty sees the new mode
    return true;
}

void LiveView::leaveFullScreen()
{
    const bool was = fullScreen_.exchange(false);
    pictureTurned_ = false;
    if (was)
        host_.fillVideoAreaBlack();
    host_.moveVideoArea(unpackRect(normalRect_.load()));
    layoutDirty_ = true;
}

int LiveView::periodFor(int rate)
{
    // 1000 / rate, truncated; rates above 1000 still tick every millisecond.
    if (rate <= 0)
        return 40;
    int period = 1000 / rate;
    return period > 0 ? period : 1;
}

void LiveView::startTimer()
{
    cancelTimer();
    timerId_ = timer_.start(periodFor(frameRate_.load()), [this] { tick(); });
}

void LiveView::cancelTimer()
{
    int id = timerId_.exchange(0);
    if (id > 0)
        timer_.cancel(id);   // waits for a running tick
}

void LiveView::openCamera(uintptr_t item, int channel)
{
    if (item != 0 && item == openItem_) {
        host_.showVideoMode();
        return;
    }
    stop();
    leaveFullScreen();
    turnBuffer_.reset();
    channel_ = channel;
    device_.openChannel(channel, 1);
    host_.showVideoMode();
    frameRate_ = 25;
    openItem_ = item;
    host_.setItemImage(item, kImageOpenCamera);
    host_.postStatus(u"OPENING_V");
}

void LiveView::onOpenResult(int channel, int result)
{
    // A late answer for a camera that was stopped or left meanwhile starts nothing.
    if (openItem_ == 0 || channel != channel_.load())
        return;
    ViewerLog::channelOpened(channel, result);
    if (result != 0) {
        cancelTimer();
        device_.stopChannel();
        host_.fillVideoAreaBlack();
        host_.postStatus(u"OPEN_ERR");
        return;
    }
    cancelTimer();   // at most one frame timer
    // A reopened channel keeps counting from the last picture it drew.
    if (!stall_.playing())
        stall_.start();
    buffering_ = 1;
    codecShown_ = false;
    anyPicture_ = false;
    host_.postStatus(u"BUFFERING");
    startTimer();
}

void LiveView::stop()
{
    if (openItem_ == 0)
        return;
    ViewerLog::channelStopped(channel_.load());
    cancelTimer();
    stall_.stop();
    device_.stopChannel();
    host_.fillVideoAreaBlack();
    host_.setItemImage(openItem_, kImageIdleCamera);
    openItem_ = 0;
    host_.postStatus(u"STOP");
    lastWidth_ = 0;
    lastHeight_ = 0;
    leaveFullScreen();
    turnBuffer_.reset();
    pictureTurned_ = false;
    channel_ = -1;
}

void LiveView::onConnectionLost()
{
    ViewerLog::event("connection to the recorder lost");
    stop();
    host_.connectionLost();
}

void LiveView::suspend()
{
    if (openItem_ == 0)
        return;
    cancelTimer();
    device_.stopChannel();
}

bool LiveView::reopen(uintptr_t item)
{
    if (openItem_ == 0 || channel_.load() == -1)
        return false;
    cancelTimer();   // the decoder restarts: no tick may poll it meanwhile
    if (item != 0 && item != openItem_) {
        openItem_ = item;
        host_.setItemImage(item, kImageOpenCamera);
    }
    device_.openChannel(channel_.load(), 1);
    host_.postStatus(u"OPENING_V");
    return true;
}

void LiveView::layOut(int width, int height, PictureLayout::PixelAspect aspect)
{
    const bool full = fullScreen_.load();
    const Rect area = unpackRect(full ? fullRect_.load() : normalRect_.load());
    const int R = area.width(), Q = area.height();
    lastWidth_ = width;
    lastHeight_ = height;
    lastAspect_ = aspect;

    bool turned = false;
    turnBuffer_.reset();
    if (PictureLayout::wantsTurn(full, R, Q, width, height, aspect) &&
        PictureLayout::turnBufferAllowed(width, height)) {
        turnBuffer_.reset(new (std::nothrow) uint8_t[size_t(width) * size_t(height) * 4]);
        turned = turnBuffer_ != nullptr;
    }
    placement_ = PictureLayout::place(turned, width, height, R, Q, aspect);
    pictureTurned_ = turned;

    if (!full)
        host_.fillVideoAreaBlack();
    destination_ = host_.videoAreaToScreen(Rect{placement_.drawX, placement_.drawY,
                                                placement_.drawX + placement_.drawWidth,
                                                placement_.drawY + placement_.drawHeight});
    int depth = surface_.create(placement_.surfaceWidth, placement_.surfaceHeight);
    if (depth > 0 && depth != pixelDepth_.load()) {
        pixelDepth_ = depth;
        device_.setPixelFormat(pixelFormatForDepth(depth));
    }
}

void LiveView::tick()
{
    Picture picture;
    const bool taken = device_.takePicture(picture);
    const int buffering = taken ? 0 : device_.buffering(buffering_.load());
    const int width = taken ? picture.width : 0;
    const int height = taken ? picture.height : 0;
    // A stream no decoder can show says so instead of buffering for ever; a decodable stream
    // afterwards (a new key frame) brings the buffering text back.
    if (taken && width > 0 && height > 0)
        anyPicture_ = true;
    const bool undecodable = device_.cannotShow(anyPicture_.load());
    if (undecodable != codecShown_.load()) {
        codecShown_ = undecodable;
        if (undecodable)
            ViewerLog::event(device_.cannotShowText(channel_.load()));
        host_.postStatus(undecodable ? u"CODEC_ERR" : (buffering == 1 ? u"BUFFERING" : u"PLAYING"));
        buffering_ = buffering;
    }
    if (buffering != buffering_.load()) {
        host_.postStatus(buffering == 1 ? u"BUFFERING" : u"PLAYING");
        buffering_ = buffering;
    }
    if (taken && width > 0 && height > 0) {
        stall_.picture();
        // A picture converted before the surface's depth changed is not drawn on it.
        if (videoShown_.load() && picture.format == pixelFormatForDepth(pixelDepth_.load())) {
            bool dirty = layoutDirty_.exchange(false);
            const PictureLayout::PixelAspect aspect{picture.sampleAspectNum,
                                                    picture.sampleAspectDen};
            if (dirty || width != lastWidth_ || height != lastHeight_ ||
                aspect.num != lastAspect_.num || aspect.den != lastAspect_.den)
                layOut(width, height, aspect);
            const uint8_t* shown = picture.pixels;
            bool bottomUp = picture.bottomUp;
            if (turnBuffer_) {
                PictureLayout::turn(picture.pixels, width, height, picture.bitsPerPixel(),
                                    turnBuffer_.get());
                shown = turnBuffer_.get();
                bottomUp = false;
            }
            surface_.present(shown, destination_, bottomUp);
        }
    }
    if (taken)
        device_.giveBack(picture);
    int rate = device_.frameRate();
    if (rate > 0 && rate != frameRate_.load()) {
        frameRate_ = rate;
        // Same timer, new period counted from now: the user-interface thread alone writes the
        // timer id, so a stop() racing with this restart can never leave a timer behind.
        // (Ticks driven by hand, outside the timer, have no timer to restart.)
        timer_.restartRunning(periodFor(rate));
    }
}

}   // namespace kevra
