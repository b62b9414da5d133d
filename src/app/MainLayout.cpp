#include "app/MainLayout.h"

namespace kevra {

namespace {
Rect box(int x, int y, int w, int h)
{
    return Rect{x, y, x + w, y + h};
}
}   // namespace

MainLayout::Result MainLayout::compute(const Input& in)
{
    Result r;
    const int cx = in.width, cy = in.height;
    const int g = in.labelTextHeight, w = in.labelTextWidth;
    r.barHeight = in.barFontHeight + 12;
    const int B = r.barHeight;
    r.barTop = cy - B;
    for (int i = 0; i < 5; ++i)
        r.videoBar[i] = box(i * (cx / 5), r.barTop, cx / 5, B);
    r.backButton = box(0, r.barTop, cx / 2, B);
    r.treeExitButton = box(cx / 2, r.barTop, cx / 2, B);

    r.titleHeight = in.windowFontHeight + 12;
    const int T = r.titleHeight;
    r.panelHeight = g * 5 / 2;   // g x 2.5, truncated
    const int P = r.panelHeight;

    r.normalVideo = Rect{0, T + g + 4, cx, cy - P - B};
    r.fullScreenVideo = Rect{0, 0, in.screenWidth, in.screenHeight};
    r.statusLine = box(0, T, cx, g + 4);
    const int lw = cx < 2 * (g + 4) ? (cx > 0 ? cx : 0) : 2 * (g + 4);
    r.layoutButton = box(cx - lw, T, lw, g + 4);
    r.statusText = box(0, T, cx - lw, g + 4);
    r.tree = box(0, T, cx, cy - B - T);

    r.arrowSize = g * 3 / 2;   // g x 1.5, truncated
    const int H = r.arrowSize;
    r.labelWidth = w + 10;
    const int K = r.labelWidth;
    r.panelTop = cy - B - P + (P - H) / 2;
    const int y = r.panelTop;
    const int dx = cx / 4 - K / 2;
    const int lx = cx * 3 / 4 - K / 2;
    r.directionLabel = box(dx, y, K, H);
    r.directionLeft = box(dx - H, y, H, H);
    r.directionRight = box(dx + K, y, H, H);
    r.lensLabel = box(lx, y, K, H);
    r.lensLeft = box(lx - H, y, H, H);
    r.lensRight = box(lx + K, y, H, H);
    return r;
}

}   // namespace kevra
