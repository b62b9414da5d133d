// What the single view needs from the window: the status row and the video area. Implemented
// by the viewer coordinator (which passes it on to the window). Operations marked "any thread"
// are called from the frame-timer thread and must never wait on the user-interface thread.
#pragma once
#include "app/Rect.h"

#include <string>

namespace kevra {

class SingleViewHost {
public:
    virtual ~SingleViewHost() = default;

    // Any thread: the status row shows the text of this language key. Posted to the
    // user-interface thread in call order; the text is looked up when it is shown.
    virtual void postStatus(const std::u16string& key) = 0;
    // Any thread: fill the video area with black.
    virtual void fillVideoAreaBlack() = 0;
    // Any thread: a rectangle in the video area's coordinates in screen coordinates.
    virtual Rect videoAreaToScreen(const Rect& r) const = 0;
    // User-interface thread: moves the video area to a rectangle of the main window (the
    // whole screen in full screen).
    virtual void moveVideoArea(const Rect& r, bool fullScreen) = 0;
};

}   // namespace kevra
