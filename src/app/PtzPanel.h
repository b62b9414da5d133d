// PTZ commands of the direction and lens panels and the arrow keys, and the panels' label keys.
// Pure functions; any thread.
#pragma once
#include "common/PtzCode.h"

#include <optional>

namespace kevra {

class PtzPanel {
public:
    // Direction panel: left-triangle button (first) or right-triangle button.
    // Mode 0 = up/down, 1 = left/right.
    static PtzCode directionCode(bool firstButton, int directionMode);
    // Lens panel: plus button (first) or minus button. Mode 0 = zoom, 1 = iris, 2 = focus.
    static PtzCode lensCode(bool plusButton, int lensMode);
    // Arrow key (KeyTable::Left, Up, Right, Down) to its command, none for any other key: each
    // key moves the camera toward the side of the screen it points at. turned: the picture is shown turned a quarter clockwise (the
    // camera's top edge along the screen's right side), as PictureLayout::turn makes it.
    static std::optional<PtzCode> keyCode(int key, bool turned);

    static int nextDirectionMode(int mode) { return (mode + 1) % 2; }
    static int nextLensMode(int mode) { return (mode + 1) % 3; }
    // Language keys of the label texts ("UP_DOWN"/"LEFT_RIGHT"; "ZOOM"/"IRIS"/"FOCUS").
    static const char16_t* directionLabelKey(int mode);
    static const char16_t* lensLabelKey(int mode);
};

}   // namespace kevra
