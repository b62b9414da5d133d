// The viewer's event log on standard error: one line per notable event (login result, camera
// opened, refused or stopped, connection lost or back), and with --verbose every status text
// and other detail as well. Lines are "kevra: HH:MM:SS text". Any thread may write; one mutex
// (the log's own) keeps lines whole. Where the lines go can be replaced (tests).
#pragma once
#include <functional>
#include <string>

namespace kevra {

class ViewerLog {
public:
    // --verbose on the command line: detail lines are written too.
    static void setVerbose(bool verbose);
    static bool verbose();
    // Where complete lines (without the line end) go; an empty function restores standard error.
    static void setOutput(std::function<void(const std::string&)> output);

    // A notable event: always written.
    static void event(const std::string& text);
    // Detail: written only when verbose.
    static void detail(const std::string& text);

    // The login's outcome, with the code's text and, for a failed connect, the system's reason
    // (errno value, 0 for none): "login to 127.0.0.1:34567 failed: wrong password (0x1003)".
    static std::string loginText(const std::string& host, int port, int code, int systemError);
    static void login(const std::string& host, int port, int code, int systemError);
    // A camera's channel, numbered from 1 as people count cameras: "camera 2 opened",
    // "camera 2 could not be opened: cannot open the camera's connection (0x100C)".
    static void channelOpened(int channel, int code, int recorder = 0);
    static void channelStopped(int channel, int recorder = 0);
    // "camera 3", or "camera 3 of Shop" for a camera of another recorder than the first: its
    // name as given to setRecorderName ("camera 3 of recorder 2" while it has none).
    static std::string cameraText(int channel, int recorder = 0);
    // A settings file read (login.ini, views.ini): which file and how its text was read.
    // Nothing for a missing file.
    static void settingsRead(const std::u16string& path);
    // The name the log gives a recorder's cameras; "" forgets it. Any thread.
    static void setRecorderName(int recorder, const std::string& name);
};

}   // namespace kevra
