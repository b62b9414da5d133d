#include "app/PictureLayout.h"

#include <cstring>

namespace kevra {

namespace {

// The picture's shape as shown: width x height scaled by a declared pixel aspect. A declared
// aspect is bounded (at most 255:1 either way, as the stream headers can express), so the
// products stay far inside 64 bits.
void shape(int width, int height, PictureLayout::PixelAspect a, int64_t& w, int64_t& h)
{
    w = width;
    h = height;
    if (a.num > 0 && a.den > 0 && a.num != a.den && a.num <= 65535 && a.den <= 65535 &&
        int64_t(a.num) <= int64_t(a.den) * 255 && int64_t(a.den) <= int64_t(a.num) * 255) {
        w *= a.num;
        h *= a.den;
    }
}

}   // namespace

bool PictureLayout::wantsTurn(bool fullScreen, int areaWidth, int areaHeight, int width, int height,
                              PixelAspect aspect)
{
    int64_t w = 0, h = 0;
    shape(width, height, aspect, w, h);
    return fullScreen && int64_t(areaWidth) * h < int64_t(areaHeight) * w;
}

bool PictureLayout::turnBufferAllowed(int width, int height)
{
    return width > 0 && height > 0 && int64_t(width) * height < kTurnPixelLimit;
}

void PictureLayout::fit(int surfaceWidth, int surfaceHeight, int areaWidth, int areaHeight,
                        Placement& out, int64_t shapeWidth, int64_t shapeHeight)
{
    out.surfaceWidth = surfaceWidth;
    out.surfaceHeight = surfaceHeight;
    if (surfaceWidth <= 0 || surfaceHeight <= 0) {
        out.drawX = out.drawY = out.drawWidth = out.drawHeight = 0;
        return;
    }
    const bool shaped = shapeWidth > 0 && shapeHeight > 0;
    const int64_t sw = shaped ? shapeWidth : surfaceWidth;
    const int64_t sh = shaped ? shapeHeight : surfaceHeight;
    const int64_t R = areaWidth, Q = areaHeight;
    if (sh * R > sw * Q) {   // the area is wider than the picture
        out.drawHeight = areaHeight;
        out.drawWidth = int(sw * Q / sh);
        out.drawX = (areaWidth - out.drawWidth) / 2;
        out.drawY = 0;
    } else {
        out.drawWidth = areaWidth;
        out.drawHeight = int(sh * R / sw);
        out.drawY = (areaHeight - out.drawHeight) / 2;
        out.drawX = 0;
    }
}

PictureLayout::Placement PictureLayout::place(bool turn, int width, int height, int areaWidth,
                                              int areaHeight, PixelAspect aspect)
{
    Placement p;
    if (width <= 0 || height <= 0)
        return p;
    int64_t w = 0, h = 0;
    shape(width, height, aspect, w, h);
    p.turned = turn;
    if (turn)
        fit(height, width, areaWidth, areaHeight, p, h, w);
    else
        fit(width, height, areaWidth, areaHeight, p, w, h);
    p.turned = turn;
    return p;
}

void PictureLayout::turn(const uint8_t* in, int width, int height, int bitsPerPixel, uint8_t* out)
{
    if (!in || !out || width <= 0 || height <= 0)
        return;
    const size_t w = size_t(width), h = size_t(height);
    // Byte copies (no type punning on the byte buffers); the compiler turns them into moves.
    switch (bitsPerPixel) {
    case 32:
        for (size_t i = 0; i < w; ++i)
            for (size_t j = 0; j < h; ++j)
                std::memcpy(out + (i * h + j) * 4, in + (j * w + i) * 4, 4);
        break;
    case 24:
        for (size_t i = 0; i < w; ++i)
            for (size_t j = 0; j < h; ++j)
                std::memcpy(out + (i * h + j) * 3, in + (j * w + i) * 3, 3);
        break;
    case 16:
        for (size_t i = 0; i < w; ++i)
            for (size_t j = 0; j < h; ++j)
                std::memcpy(out + (i * h + j) * 2, in + ((h - 1 - j) * w + i) * 2, 2);
        break;
    default: break;
    }
}

}   // namespace kevra
