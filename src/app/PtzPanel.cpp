#include "app/PtzPanel.h"

#include "app/KeyTable.h"

namespace kevra {

PtzCode PtzPanel::directionCode(bool firstButton, int directionMode)
{
    if (directionMode == 1)
        return firstButton ? PtzCode::Left : PtzCode::Right;
    return firstButton ? PtzCode::Up : PtzCode::Down;
}

PtzCode PtzPanel::lensCode(bool plusButton, int lensMode)
{
    switch (lensMode) {
    case 1: return plusButton ? PtzCode::IrisPlus : PtzCode::IrisMinus;
    case 2: return plusButton ? PtzCode::FocusPlus : PtzCode::FocusMinus;
    default: return plusButton ? PtzCode::ZoomIn : PtzCode::ZoomOut;
    }
}

std::optional<PtzCode> PtzPanel::keyCode(int key, bool turned)
{
    switch (key) {
    // Turned: the screen's left shows the camera's bottom, its top the camera's left, its
    // right the camera's top, its bottom the camera's right.
    case KeyTable::Left: return turned ? PtzCode::Down : PtzCode::Left;
    case KeyTable::Up: return turned ? PtzCode::Left : PtzCode::Up;
    case KeyTable::Right: return turned ? PtzCode::Up : PtzCode::Right;
    case KeyTable::Down: return turned ? PtzCode::Right : PtzCode::Down;
    default: return std::nullopt;
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
