// Keeps a dialog on the screen: its wished size bounded by the screen's free area, and placed
// over its parent window (the screen's middle when it has none) without reaching past the area.
// On a 240 x 320 screen the dialogs' own layouts wrap and scroll so that every control stays
// reachable at that size. User-interface thread only.
#pragma once
#include <QRect>

class QWidget;

namespace kevra {

class ScreenFit {
public:
    // Fits w into area.
    static void apply(QWidget& w, const QRect& area);
    // Fits w into area(w) (for a showEvent).
    static void toScreen(QWidget& w);
    // The part of w's screen a window may cover: its available geometry, or all of it (whole).
    static QRect area(const QWidget& w, bool whole = false);
    // Tests: the screen every window is fitted to (an empty rectangle: the real one again).
    static void setScreenForTests(const QRect& screen);
};

}   // namespace kevra
