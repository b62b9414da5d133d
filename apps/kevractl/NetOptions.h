// The options of kevractl's network commands: where the recorder is, how to log in, and each
// command's own (--channel, --out, ...), read from the command line and checked.
// Used on the main thread only.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace kevra {

struct NetOptions {
    std::string host = "127.0.0.1";
    int port = 34567;
    std::string user = "admin";
    std::string password = "580317";
    double timeout = 10;
    int channel = -1;
    double seconds = -1;
    std::string out;
    std::string action;
    std::string format;   // record --out -: "mp4" or "mkv"
    bool raw = false;
};

// parseOptions() after printing the command's help.
constexpr int kHelp = 1;

// Parses the network options and the command's own (`own`, e.g. {"--channel", "--out"}).
// 0 to go on, kHelp after printing the command's help, -1 after printing why not.
int parseOptions(const char* command, std::initializer_list<const char*> own, int argc, char** argv,
                 NetOptions& o);

// The options a command cannot do without; prints which one is missing.
bool required(const char* command, std::initializer_list<std::pair<const char*, bool>> options);

}   // namespace kevra
