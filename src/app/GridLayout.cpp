#include "app/GridLayout.h"

namespace kevra::GridLayout {

bool isLayout(int tiles)
{
    return side(tiles) != 0;
}

int side(int tiles)
{
    switch (tiles) {
    case 1: return 1;
    case 4: return 2;
    case 9: return 3;
    case 16: return 4;
    default: return 0;
    }
}

int next(int tiles)
{
    switch (tiles) {
    case 1: return 4;
    case 4: return 9;
    case 9: return 16;
    default: return 1;
    }
}

namespace {

// Start of column (or row) c of n in a span of `length` pixels from `origin`; c = n gives the
// end of the span plus one gap.
int edge(int origin, int length, int n, int c)
{
    const long long usable = (long long)length - (long long)(n - 1) * kGap;
    return int(origin + usable * c / n + (long long)c * kGap);
}

}   // namespace

Rect tile(const Rect& area, int tiles, int index)
{
    const int n = side(tiles);
    if (n == 0 || index < 0 || index >= tiles)
        return Rect{};
    const int w = area.width(), h = area.height();
    if (w - (n - 1) * kGap < n || h - (n - 1) * kGap < n)
        return Rect{};
    const int col = index % n, row = index / n;
    return Rect{edge(area.left, w, n, col), edge(area.top, h, n, row),
                edge(area.left, w, n, col + 1) - kGap, edge(area.top, h, n, row + 1) - kGap};
}

Rect content(const Rect& area, int tiles, int index)
{
    return inset(tile(area, tiles, index), tiles);
}

Rect inset(const Rect& t, int tiles)
{
    if (tiles == 1 || t.width() <= 0)
        return t;
    if (t.width() <= 2 * kFrame || t.height() <= 2 * kFrame)
        return Rect{};
    return Rect{t.left + kFrame, t.top + kFrame, t.right - kFrame, t.bottom - kFrame};
}

int hit(const Rect& area, int tiles, int x, int y)
{
    const int n = side(tiles);
    if (n == 0 || x < area.left || x >= area.right || y < area.top || y >= area.bottom)
        return -1;
    if (tile(area, tiles, 0).width() <= 0)
        return -1;
    // The last column whose start, less half a gap, is at or before the point.
    auto find = [n](int origin, int length, int v) {
        int c = n - 1;
        while (c > 0 && v < edge(origin, length, n, c) - kGap / 2)
            --c;
        return c;
    };
    return find(area.top, area.height(), y) * n + find(area.left, area.width(), x);
}

}   // namespace kevra::GridLayout
