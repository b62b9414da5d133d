#include "app/ViewerCommandLine.h"

#include "app/AppValues.h"
#include "common/Utf.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

namespace kevra {

namespace {

bool set(const char* value)
{
    return value != nullptr && value[0] != '\0';
}

// Qt's own options, given with one dash or two: those that take a value and those that do not.
constexpr std::string_view kQtValueOptions[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "geometry",      "title",  "display",
    "style",       "stylesheet",         "session",       "name",   "fontengine"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <size_t N>
bool among(std::string_view name, const std::string_view (&list)[N])
{
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
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
        if (a == "--verbose") {
            c.verbose = true;
            continue;
        }
        const std::string_view name = std::string_view(a).substr(a.rfind("--", 0) == 0  ? 2
                                                                 : a.rfind('-', 0) == 0 ? 1
                                                                                        : 0);
        if (name.size() < a.size() && among(name, kQtFlags))
            continue;
        if (name.size() < a.size() && among(name, kQtValueOptions)) {
            if (i + 1 >= argc) {
                c.action = Action::Error;
                c.error = "option '" + a + "' needs a value";
                return c;
            }
            const char* value = argv[++i];
            if (name == "platform")
                c.platform = value;
            else if (name == "display")
                c.display = value;
            continue;
        }
        c.action = Action::Error;
        c.error = (name.size() < a.size() ? "unknown option '" : "unexpected argument '") + a + "'";
        return c;
    }
    return c;
}

std::string ViewerCommandLine::helpText()
{
    return "Usage: kevra [--verbose] [-platform NAME] [-display NAME] [other Qt options]\n"
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
