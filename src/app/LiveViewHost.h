// What the live view needs from the main window: status line, mode switch, tree images and
// the video area. Implemented by the main window. Operations marked "any thread" are called
// from the frame-timer thread and must never wait on the user-interface thread.
#pragma once
#include "app/Rect.h"

#include <cstdint>
#include <string>

namespace kevra {

class LiveViewHost {
public:
    virtual ~LiveViewHost() = default;

    // Any thread: the status line shows the text of this language key. Posted to the
    // user-interface thread in call order; the text is looked up when it is shown.
    virtual void postStatus(const std::u16string& key) = 0;
    // Any thread: fill the video area with black (posted).
    virtual void fillVideoAreaBlack() = 0;
    // Any thread: a rectangle in the video area's coordinates in screen coordinates.
    virtual Rect videoAreaToScreen(const Rect& r) const = 0;

    // User-interface thread only.
    virtual void showVideoMode() = 0;
    // Sets the item's normal and selected image; nothing happens for an item the tree no
    // longer holds.
    virtual void setItemImage(uintptr_t item, int image) = 0;
    // Moves the video area to a rectangle of the main window.
    virtual void moveVideoArea(const Rect& r) = 0;
    // Tells the user the recorder connection is lost and runs the login sequence again.
    virtual void connectionLost() = 0;
};

}   // namespace kevra
