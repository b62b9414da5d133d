#include "app/SingleView.h"

#include <new>

namespace kevra {

uint64_t SingleView::packRect(const Rect& r)
{
    auto part = [](int v) { return uint64_t(uint16_t(int16_t(v))); };
    return part(r.left) | part(r.top) << 16 | part(r.right) << 32 | part(r.bottom) << 48;
}

Rect SingleView::unpackRect(uint64_t v)
{
    auto part = [&](int shift) { return int(int16_t(uint16_t(v >> shift))); };
    return Rect{part(0), part(16), part(32), part(48)};
}

int SingleView::initialise()
{
    const int depth = surface_.create(352, 288);
    if (depth > 0)
        pixelDepth_ = depth;
    return pixelDepth_.load();
}

void SingleView::setRectangles(const Rect& normal, const Rect& fullScreen)
{
    normalRect_ = packRect(normal);
    fullRect_ = packRect(fullScreen);
}

void SingleView::toggleFullScreen()
{
    const bool now = !fullScreen_.load();
    fullScreen_ = now;
    // The picture laid out for the other mode is not drawn again at its old place; the next
    // picture is laid out afresh.
    pictureTurned_ = false;
    host_.fillVideoAreaBlack();
    host_.moveVideoArea(unpackRect(now ? fullRect_.load() : normalRect_.load()), now);
    layoutDirty_ = true;   // after the flag, so a present that sees dirty sees the new mode
}

void SingleView::leaveFullScreen()
{
    const bool was = fullScreen_.exchange(false);
    pictureTurned_ = false;
    if (was)
        host_.fillVideoAreaBlack();
    host_.moveVideoArea(unpackRect(normalRect_.load()), false);
    layoutDirty_ = true;
}

void SingleView::reset()
{
    host_.fillVideoAreaBlack();
    leaveFullScreen();
    lastWidth_ = 0;
    lastHeight_ = 0;
    turnBuffer_.reset();
    pictureTurned_ = false;
}

void SingleView::layOut(int width, int height, PictureLayout::PixelAspect aspect)
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
    const int depth = surface_.create(placement_.surfaceWidth, placement_.surfaceHeight);
    if (depth > 0)
        pixelDepth_ = depth;
}

bool SingleView::present(const Picture& picture)
{
    const int width = picture.width, height = picture.height;
    // A picture converted before the surface's depth changed is not drawn on it.
    if (!videoShown_.load() || width <= 0 || height <= 0 ||
        picture.format != pixelFormatForDepth(pixelDepth_.load()))
        return false;
    const bool dirty = layoutDirty_.exchange(false);
    const PictureLayout::PixelAspect aspect{picture.sampleAspectNum, picture.sampleAspectDen};
    if (dirty || width != lastWidth_ || height != lastHeight_ || aspect.num != lastAspect_.num ||
        aspect.den != lastAspect_.den)
        layOut(width, height, aspect);
    if (picture.format != pixelFormatForDepth(pixelDepth_.load()))
        return false;   // the new surface wants another depth: this picture does not fit it
    const uint8_t* shown = picture.pixels;
    bool bottomUp = picture.bottomUp;
    if (turnBuffer_) {
        PictureLayout::turn(picture.pixels, width, height, picture.bitsPerPixel(),
                            turnBuffer_.get());
        shown = turnBuffer_.get();
        bottomUp = false;   // the turned copy is written top row first
    }
    return surface_.present(shown, destination_, bottomUp) == 0;
}

}   // namespace kevra
