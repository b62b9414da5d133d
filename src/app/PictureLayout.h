// Pure arithmetic of the live picture: whether it is turned a quarter turn, how it is fitted
// into the video rectangle keeping its aspect ratio (the shape its stream declares, square
// pixels when it declares none), and the quarter turn itself.
// No state; callable from any thread.
#pragma once
#include <cstdint>

namespace kevra {

class PictureLayout {
public:
    // Where the picture goes inside a rectangle of areaWidth x areaHeight.
    struct Placement {
        bool turned = false;
        int surfaceWidth = 0;   // size of the picture as presented (swapped when turned)
        int surfaceHeight = 0;
        int drawX = 0;
        int drawY = 0;
        int drawWidth = 0;
        int drawHeight = 0;
    };

    // Width : height of one pixel as the stream declares it; 0/0 (none declared) is square.
    struct PixelAspect {
        int num;
        int den;
    };

    // Pictures of this many pixels or more are never turned (no turning buffer is made).
    static constexpr int64_t kTurnPixelLimit = int64_t(1) << 30;

    // A picture is turned in full screen when the area is narrower than the picture as shown:
    // areaWidth * height < areaHeight * width (width scaled by the pixel aspect).
    static bool wantsTurn(bool fullScreen, int areaWidth, int areaHeight, int width, int height,
                          PixelAspect aspect = {0, 0});

    // True when a turning buffer of width * height * 4 bytes may be made.
    static bool turnBufferAllowed(int width, int height);

    // Fits a surfaceWidth x surfaceHeight picture into areaWidth x areaHeight keeping its
    // aspect ratio, centred along the spare direction; ties fill the width. Truncating division.
    // shapeWidth x shapeHeight, when given, is the shape drawn instead of the surface's own.
    static void fit(int surfaceWidth, int surfaceHeight, int areaWidth, int areaHeight,
                    Placement& out, int64_t shapeWidth = 0, int64_t shapeHeight = 0);

    // Whole layout: turn decision (turnAvailable says whether the turning buffer exists)
    // and fit of the shape the pixel aspect gives. Zero or negative sizes give an empty
    // placement.
    static Placement place(bool turn, int width, int height, int areaWidth, int areaHeight,
                           PixelAspect aspect = {0, 0});

    // Quarter turn of a width x height picture of bitsPerPixel (16, 24 or 32) into out
    // (height pixels per row, width rows). 24- and 32-bit pictures are stored bottom row first
    // and 16-bit top row first; every depth yields the same upright, clockwise-turned picture,
    // stored top row first.
    static void turn(const uint8_t* in, int width, int height, int bitsPerPixel, uint8_t* out);
};

}   // namespace kevra
