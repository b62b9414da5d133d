// Drawing target of the multi-camera view's tiles, bound to the tile area. Implemented by the
// user interface; the grid controller calls presentTile() on the frame-timer thread and
// tileStateChanged() from any thread; clearTile() on the user-interface thread.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace kevra {

class TileSurface {
public:
    virtual ~TileSurface() = default;

    // One decoded picture (width x height, bitsPerPixel 16, 24 or 32, rows bottom first when
    // bottomUp) for the tile at a shown position. The surface fits it into the tile itself,
    // reading the picture once; the pixels are valid only during the call.
    virtual void presentTile(int position, const uint8_t* pixels, int width, int height,
                             int bitsPerPixel, bool bottomUp) = 0;
    // The state of the tile at the position changed: draw it again (posted, never waits).
    virtual void tileStateChanged(int position) = 0;
    // The tile's picture belongs to a camera no longer shown there: forget it.
    virtual void clearTile(int position) = 0;
    // The shown tiles change at once to `count` positions, position p now showing the camera
    // that position from[p] showed (p: the same as before; -1: a camera new there, or none). A
    // surface that can keeps a moved camera's last picture, fitted to its new tile, until the
    // next one comes; this one forgets every picture that changed. User-interface thread.
    virtual void rearrangeTiles(int count, const std::array<int, 16>& from)
    {
        for (int p = 0; p < 16; ++p)
            if (from[std::size_t(p)] != p)
                clearTile(p);
    }
};

}   // namespace kevra
