// Whether the X server that the viewer's window would go to accepts a connection, tried before
// Qt is started (Qt aborts the process when its X connection fails). Main thread, once.
#pragma once
#include <string>

namespace kevra::XDisplay {

// The X display Qt would connect to: the -display value, else DISPLAY; empty when the platform
// chosen (-platform, else QT_QPA_PLATFORM) is not X11, or when none is named and WAYLAND_DISPLAY
// is set, so that no X connection would be made.
std::string toCheck(const std::string& platform, const std::string& displayOption,
                    const char* display, const char* waylandDisplay);

// True when a connection to name can be opened (it is closed again at once).
bool reachable(const std::string& name);

}   // namespace kevra::XDisplay
