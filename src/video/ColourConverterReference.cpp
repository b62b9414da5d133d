#include "video/ColourKernels.h"

// The plain scalar formulas: the reference every vector path is checked against, and the path
// taken where no vector unit is known.

namespace kevra::colour {

namespace {

void tableReference(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    const int cw = w / 2;
    for (int k = 0; k < h / 2; ++k) {
        BlockRow b = blockRow(s, w, h, out, bpp, k);
        tableRowScalar(b.ya, b.yb, b.ur, b.vr, b.oa, b.ob, 0, cw, bpp);
    }
}

void reference565(const Src& s, int w, int h, uint8_t* out)
{
    const int cw = w / 2;
    const int ch = h / 2;
    for (int r = 0; r < h; ++r)
        row565Scalar(s.y + static_cast<size_t>(r) * s.yStride, s, cw, ch, r,
                     out + static_cast<size_t>(r) * w * 2, 0, w);
}

}   // namespace

void convertScalar(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2)
        reference565(s, w, h, out);
    else
        tableReference(s, w, h, out, bpp);
}

}   // namespace kevra::colour
