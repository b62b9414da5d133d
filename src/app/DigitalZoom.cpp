#include "app/DigitalZoom.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kevra {

namespace {

// Screen fractions (u right, v down) in the upright picture's fractions. Turned a quarter
// clockwise, the screen's left-right runs along the picture's bottom-to-top and the screen's
// top-to-bottom along the picture's left-to-right.
void toPicture(double u, double v, bool turned, double& x, double& y)
{
    if (turned) {
        x = v;
        y = 1.0 - u;
    } else {
        x = u;
        y = v;
    }
}

}   // namespace

void DigitalZoom::zoomBy(double by, double u, double v, bool turned)
{
    if (!(by > 0.0) || !std::isfinite(by))
        return;
    double x = 0.5, y = 0.5;
    toPicture(std::clamp(u, 0.0, 1.0), std::clamp(v, 0.0, 1.0), turned, x, y);
    // The picture point under (u, v) now, kept under it at the new factor.
    const double px = cx_ + (x - 0.5) / factor_;
    const double py = cy_ + (y - 0.5) / factor_;
    factor_ = std::clamp(factor_ * by, 1.0, kMaxFactor);
    if (factor_ < 1.0 + 1e-9) {
        reset();
        return;
    }
    cx_ = px - (x - 0.5) / factor_;
    cy_ = py - (y - 0.5) / factor_;
    clampCentre();
}

void DigitalZoom::pan(double du, double dv, bool turned)
{
    if (!std::isfinite(du) || !std::isfinite(dv))
        return;
    double dx = du, dy = dv;
    if (turned) {
        dx = dv;
        dy = -du;
    }
    // The picture follows the drag: the part shown moves the other way.
    cx_ -= dx / factor_;
    cy_ -= dy / factor_;
    clampCentre();
}

void DigitalZoom::reset()
{
    factor_ = 1.0;
    cx_ = cy_ = 0.5;
}

void DigitalZoom::clampCentre()
{
    const double half = 0.5 / factor_;
    cx_ = std::clamp(cx_, half, 1.0 - half);
    cy_ = std::clamp(cy_, half, 1.0 - half);
}

Rect DigitalZoom::source(int width, int height) const
{
    if (width <= 0 || height <= 0)
        return Rect{};
    const int w = std::clamp(int(std::lround(width / factor_)), 1, width);
    const int h = std::clamp(int(std::lround(height / factor_)), 1, height);
    const int left = std::clamp(int(std::lround(cx_ * width - w / 2.0)), 0, width - w);
    const int top = std::clamp(int(std::lround(cy_ * height - h / 2.0)), 0, height - h);
    return Rect{left, top, left + w, top + h};
}

Rect DigitalZoom::turned(const Rect& r, int /*width*/, int height)
{
    // Upright (x, y) lands at (height - 1 - y, x) of the turned picture.
    return Rect{height - r.bottom, r.left, height - r.top, r.right};
}

std::u16string DigitalZoom::label() const
{
    if (!zoomed())
        return {};
    char text[16];
    std::snprintf(text, sizeof text, "%.1fx", factor_);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

}   // namespace kevra
