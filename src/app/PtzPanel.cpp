#include "app/PtzPanel.h"

namespace kevra {

int PtzPanel::directionCode(bool firstButton, int directionMode)
{
    if (directionMode == 1)
        return firstButton ? 2 : 3;
    return firstButton ? 0 : 1;
}

int PtzPanel::lensCode(bool plusButton, int lensMode)
{
    switch (lensMode) {
    case 1: return plusButton ? 8 : 9;
    case 2: return plusButton ? 6 : 7;
    default: return plusButton ? 4 : 5;
    }
}

int PtzPanel::keyCode(int virtualKey, bool turned)
{
    switch (virtualKey) {
    // Turned: the screen's left shows the camera's bottom, its top the camera's left, its
    // right the camera's top, its bottom the camera's right.
    case KeyLeft: return turned ? 1 : 2;
    case KeyUp: return turned ? 2 : 0;
    case KeyRight: return turned ? 0 : 3;
    case KeyDown: return turned ? 3 : 1;
    default: return -1;
    }
}

const char16_t* PtzPanel::directionLabelKey(int mode)
{
    return mode == 1 ? u"LEFT_RIGHT" : u"UP_DOWN";
}

const char16_t* PtzPanel::lensLabelKey(int mode)
{
    switch (mode) {
    case 1: return u"IRIS";
    case 2: return u"FOCUS";
    default: return u"ZOOM";
    }
}

}   // namespace kevra
