// Whether the X server that the viewer's window would go to accepts a connection, tried before
// Qt is started (Qt aborts the process when its X connection fails). Main thread, once.
#pragma once
#include <string>

struct xcb_connection_t;

namespace kevra::XDisplay {

// The X display Qt would connect to: the -display value, else DISPLAY; empty when the platform
// chosen (-platform, else QT_QPA_PLATFORM) is not X11, or when none is named and WAYLAND_DISPLAY
// is set, so that no X connection would be made.
std::string toCheck(const std::string& platform, const std::string& displayOption,
                    const char* display, const char* waylandDisplay);

// A connection to the display opened by the check and held until Qt has made its own: an X
// server that just started (Xvfb, xvfb-run) resets when its last client leaves, and a
// connection attempted during that reset fails, so the check's connection is not let go first.
class Held {
public:
    Held() = default;
    explicit Held(const std::string& name);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    // True when the connection was opened.
    bool ok() const;

private:
    xcb_connection_t* connection_ = nullptr;
};

}   // namespace kevra::XDisplay
