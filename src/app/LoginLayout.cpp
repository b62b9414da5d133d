#include "app/LoginLayout.h"

namespace kevra {

LoginLayout::Result LoginLayout::compute(const Input& in)
{
    Result r;
    const int L = in.client.left, T = in.client.top, R = in.client.right, B = in.client.bottom;
    const int h = in.fieldHeight, t = in.portTextHeight;
    const int p = h + 8;
    const int lw = in.portTextWidth + 8;
    const int y0 = (B - 4 * p - T) / 2;
    for (int i = 0; i < 4; ++i) {
        int ly = y0 + (h - t) / 2 + i * p;
        r.labels[i] = Rect{L + 5, ly, L + 5 + lw, ly + h};
        int fx = L + lw + 5, fy = y0 + i * p, fw = (R - L) - lw - 10;
        r.fields[i] = Rect{fx, fy, fx + fw, fy + h};
    }
    r.titleHeight = in.dialogFontHeight + 12;
    return r;
}

}   // namespace kevra
