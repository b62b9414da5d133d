// The options of kevractl's network commands: where the recorder is, how to log in, and each
// command's own (--channel, --out, ...), read from the command line and checked.
// Used on the main thread only.
#pragma once

#include <initializer_list>
#include <string>

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

// parseOptions(): the command goes on.
constexpr int kGoOn = -1;

// Parses the network options and the command's own (`own`, e.g. {"--channel", "--out"}), and
// checks that those of its own that it needs (--channel, --seconds, --out, --action) are given.
// kGoOn to go on, else the exit status: 0 after printing the command's help, 2 after printing
// why not.
int parseOptions(const char* command, std::initializer_list<const char*> own, int argc, char** argv,
                 NetOptions& o);

}   // namespace kevra
