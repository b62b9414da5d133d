#include "app/ViewerCommandLine.h"

#include "app/AppValues.h"
#include "common/Utf.h"

#include <cstring>

namespace kevra {

namespace {

bool set(const char* value)
{
    return value != nullptr && value[0] != '\0';
}

}   // namespace

ViewerCommandLine ViewerCommandLine::parse(int argc, const char* const* argv)
{
    ViewerCommandLine c;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            c.action = Action::Help;
            return c;
        }
        if (a == "--version") {
            c.action = Action::Version;
            return c;
        }
        if (a == "--verbose")
            c.verbose = true;
        else if ((a == "-platform" || a == "--platform") && i + 1 < argc)
            c.platform = argv[++i];
    }
    return c;
}

std::string ViewerCommandLine::helpText()
{
    return "Usage: kevra [--verbose] [Qt options]\n"
           "Live view of the cameras of network video recorders.\n"
           "\n"
           "  --verbose   also log every status change to standard error\n"
           "  --help      show this help and end\n"
           "  --version   show the version and end\n"
           "\n"
           "Settings (login.ini, views.ini) are kept in $XDG_CONFIG_HOME/kevra/\n"
           "(default ~/.config/kevra/). The viewer needs a display: DISPLAY or\n"
           "WAYLAND_DISPLAY, or QT_QPA_PLATFORM=offscreen for a run without a screen.\n"
           "SIGTERM, SIGINT and SIGHUP end it as Exit does.\n";
}

std::string ViewerCommandLine::versionText()
{
    return "kevra " + toUtf8(AppValues::versionText()) + "\n";
}

bool ViewerCommandLine::displayAvailable(const std::string& platform, const char* display,
                                         const char* waylandDisplay)
{
    if (platform.empty())
        return set(display) || set(waylandDisplay);
    size_t start = 0;
    while (start <= platform.size()) {
        size_t end = platform.find(';', start);
        if (end == std::string::npos)
            end = platform.size();
        const std::string entry = platform.substr(start, end - start);
        const std::string name = entry.substr(0, entry.find(':'));   // plugin options follow ':'
        if (name == "xcb") {
            if (set(display))
                return true;
        } else if (name.rfind("wayland", 0) == 0) {
            if (set(waylandDisplay))
                return true;
        } else if (!name.empty()) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}   // namespace kevra
