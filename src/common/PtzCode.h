// A PTZ command as the recorder's PTZ message carries it (its action code): the camera moves a
// step per command. A plain value; any thread.
#pragma once

namespace kevra {

enum class PtzCode : int {
    Up = 0,
    Down = 1,
    Left = 2,
    Right = 3,
    ZoomIn = 4,
    ZoomOut = 5,
    FocusPlus = 6,
    FocusMinus = 7,
    IrisPlus = 8,
    IrisMinus = 9
};

}   // namespace kevra
