// The viewer's command line (--help, --version, --verbose and Qt's own options; anything else is
// an error) and
// whether a display can be reached at all, decided before any window system is touched. Pure
// functions; any thread may call them.
#pragma once
#include <string>

namespace kevra {

struct ViewerCommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool verbose = false;
    std::string platform;   // -platform NAME given to Qt, empty when none
    std::string display;    // -display NAME given to Qt, empty when none
    std::string error;      // what was wrong, for Action::Error ("unknown option '--x'")

    static ViewerCommandLine parse(int argc, const char* const* argv);
    static std::string helpText();
    static std::string versionText();

    // True when the platform Qt will use can show a window: the one named (by -platform, else
    // QT_QPA_PLATFORM; a ';' list names alternatives) needs X11's DISPLAY for xcb, Wayland's
    // WAYLAND_DISPLAY for wayland and nothing for the others (offscreen, eglfs, vnc, ...); with
    // none named either variable will do. Null and empty values count as unset.
    static bool displayAvailable(const std::string& platform, const char* display,
                                 const char* waylandDisplay);
};

}   // namespace kevra
