// Drawing target of the live picture, bound to the video area. Owned by the main window;
// create() runs on the user-interface or frame-timer thread (never both at once),
// present() on the frame-timer thread.
#pragma once
#include "app/Rect.h"

#include <cstdint>

namespace kevra {

class PictureSurface {
public:
    virtual ~PictureSurface() = default;

    // Makes a picture surface of width x height. Returns the bits per pixel the pictures
    // must have (16, 24 or 32), or 0 on failure.
    virtual int create(int width, int height) = 0;
    // Shows one picture of exactly the created size (rows of width pixels), stretched to the
    // destination rectangle in screen coordinates. bottomUp: rows are stored bottom row
    // first. Returns 0 on success, -1 when nothing was drawn.
    virtual int present(const uint8_t* pixels, const Rect& destination, bool bottomUp) = 0;
};

}   // namespace kevra
