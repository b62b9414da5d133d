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

Held::Held(const std::string& name) : connection_(xcb_connect(name.c_str(), nullptr))
{
}

Held::~Held()
{
    if (connection_)
        xcb_disconnect(connection_);
}

bool Held::ok() const
{
    return connection_ != nullptr && xcb_connection_has_error(connection_) == 0;
}

}   // namespace kevra::XDisplay
