// What the viewer coordinator asks of the window: which mode, texts, tiles and dialogs to show.
// Implemented by the main window; tests implement it with a fake. Every call runs on the
// user-interface thread except post() and the calls marked "any thread".
#pragma once
#include "app/CameraId.h"
#include "app/Rect.h"

#include <functional>
#include <string>
#include <vector>

namespace kevra {

class ViewerView {
public:
    virtual ~ViewerView() = default;

    // Any thread: runs work on the user-interface thread, after everything posted before it.
    virtual void post(std::function<void()> work) = 0;

    // The camera tree: one node per recorder in login.ini's order (the login dialog's first):
    // its name, its state ("connected", "reconnecting in 4 s", "login failed: ...") and its
    // cameras (kept while it is away; channel = index); an empty list empties the tree.
    // setCameraShown marks a camera's entry as shown or idle.
    struct RecorderNode {
        std::u16string name, state;
        std::vector<std::u16string> cameras;
        bool operator==(const RecorderNode&) const = default;
    };
    virtual void showRecorders(const std::vector<RecorderNode>&) = 0;
    virtual void setCameraShown(CameraId camera, bool shown) = 0;

    // Tree mode (camera tree and Back) or video mode (video area, panels, status row).
    virtual void showTreeMode() = 0;
    virtual void showVideoMode() = 0;
    virtual bool videoMode() const = 0;

    // The status row's text.
    virtual void showStatus(const std::u16string& text) = 0;
    // The tile area: count tiles (1 for a tile shown alone) with a frame around selected, over
    // the whole screen when fullScreen; count 0 hides it and shows the one-camera video area.
    virtual void showTiles(int count, int selected, bool fullScreen) = 0;
    // The tiles' texts or the notice over the picture changed: draw them again.
    virtual void refreshTiles() = 0;
    virtual void refreshNotice() = 0;

    // The single view's video area: fill it black (any thread), map a rectangle of it to screen
    // coordinates (any thread), move it to a rectangle of the window.
    virtual void fillVideoAreaBlack() = 0;
    virtual Rect videoAreaToScreen(const Rect& r) const = 0;
    virtual void moveVideoArea(const Rect& r, bool fullScreen) = 0;

    // The login dialog: open it (it then calls Viewer::logInByHand), give it the result of its
    // login (code 0 closes it; systemError is the failed connect's errno, 0 when unknown).
    virtual void openLoginDialog() = 0;
    virtual void loginDialogResult(int code, int systemError) = 0;
    // A failure the user must read (e.g. no camera list came): a message box.
    virtual void showError(const std::u16string& text) = 0;
    // The session was lost and nothing retries: tell the user (the login dialog follows).
    virtual void showConnectionLost() = 0;
    // Ends the program's window (login cancelled).
    virtual void endProgram() = 0;
};

}   // namespace kevra
