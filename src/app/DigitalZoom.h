// Digital zoom and pan of one shown picture: a factor from 1 to kMaxFactor and the middle of the
// part shown, in fractions of the upright picture. The part shown is always cut from the whole
// decoded picture (never from the reduced one on the screen), so zooming in gives the camera's
// own detail; with the picture shown turned a quarter clockwise, screen moves are turned into
// the picture's axes. Pure arithmetic; user-interface thread.
#pragma once
#include "app/Rect.h"

#include <string>

namespace kevra {

class DigitalZoom {
public:
    static constexpr double kMaxFactor = 8.0;
    static constexpr double kStep = 1.25;   // one wheel notch or one key press

    double factor() const { return factor_; }
    bool zoomed() const { return factor_ > 1.0; }
    double centreX() const { return cx_; }
    double centreY() const { return cy_; }

    // Multiplies the factor by `by` (kept within 1 .. kMaxFactor); the point at (u, v) of the
    // shown area (fractions, screen axes) stays where it is.
    void zoomBy(double by, double u = 0.5, double v = 0.5, bool turned = false);
    // Moves the picture with a drag of (du, dv) fractions of the shown area (screen axes).
    void pan(double du, double dv, bool turned = false);
    void reset();

    // The part to show, in pixels of the upright picture of width x height; the whole picture
    // when not zoomed, at least one pixel.
    Rect source(int width, int height) const;
    // The same part in the picture as it is kept when shown turned a quarter clockwise (height
    // x width; the upright picture's top edge along its right side).
    static Rect turned(const Rect& upright, int width, int height);
    // The factor as the picture's corner shows it: "2.4x"; empty at 1.
    std::u16string label() const;

private:
    void clampCentre();

    double factor_ = 1.0;
    double cx_ = 0.5;
    double cy_ = 0.5;
};

}   // namespace kevra
