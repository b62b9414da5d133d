// Nearest-neighbour scaling of a converted picture straight into a tile-sized picture: one pass
// that reads only the source pixels it keeps and writes every target pixel once, turning
// bottom-first rows upright on the way. No state; any thread.
#pragma once
#include <cstdint>

namespace kevra {

class PictureScaler {
public:
    // Scales a sourceWidth x sourceHeight picture of bytesPerPixel (2, 3 or 4; rows of
    // sourceWidth pixels, bottom row first when bottomUp) to targetWidth x targetHeight rows of
    // targetStride bytes, top row first. Does nothing for empty sizes, another pixel size or a
    // stride shorter than a row.
    static void scale(const uint8_t* source, int sourceWidth, int sourceHeight, int bytesPerPixel,
                      bool bottomUp, uint8_t* target, int targetWidth, int targetHeight,
                      int targetStride);
};

}   // namespace kevra
