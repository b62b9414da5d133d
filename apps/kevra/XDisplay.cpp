#include "XDisplay.h"

#include <xcb/xcb.h>

namespace kevra::XDisplay {

std::string toCheck(const std::string& platform, const std::string& displayOption,
                    const char* display, const char* waylandDisplay)
{
    const std::string first = platform.substr(0, platform.find_first_of(";:"));
    const bool wayland = waylandDisplay != nullptr && waylandDisplay[0] != '\0';
    if (!(first == "xcb" || (first.empty() && !wayland)))
        return {};
    if (!displayOption.empty())
        return displayOption;
    return display ? display : "";
}

bool reachable(const std::string& name)
{
    xcb_connection_t* c = xcb_connect(name.c_str(), nullptr);
    const bool ok = c != nullptr && xcb_connection_has_error(c) == 0;
    if (c)
        xcb_disconnect(c);
    return ok;
}

}   // namespace kevra::XDisplay
