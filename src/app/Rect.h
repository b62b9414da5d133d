// A rectangle as left, top, right (excluded), bottom (excluded) in some window's coordinates.
// Plain value; copied freely between threads.
#pragma once

namespace kevra {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

}   // namespace kevra
