// kevractl: command-line client of the viewer's engine. "kevractl <command> [options]".
#include "Commands.h"

#include <cstdio>
#include <cstring>

namespace kevra {

namespace {

const char* const kNetOptions =
    "network options:\n"
    "  --host HOST          recorder address or name (default 127.0.0.1)\n"
    "  --port N             recorder port, 1-65535 (default 34567)\n"
    "  --user NAME          user name (default admin)\n"
    "  --password TEXT      password (default 580317)\n"
    "  --timeout S          seconds to wait for the login and for each answer, 0.1-3600\n"
    "                       (default 10)\n";

const char* const kExitStatus =
    "exit status: 0 done, 1 failed (the message says why), 2 bad arguments\n";

}   // namespace

const Command* commandTable()
{
    static const Command table[] = {
        {"probe", "probe [--block N] FILE",
         "Feeds FILE to the demultiplexer in blocks of N bytes (default 4096) and prints one JSON\n"
         "line per frame record, with the format and codec names beside their numbers. Finding\n"
         "no record at all is a failure (exit status 1). It reads the raw streams recorders send\n"
         "(what 'record --raw' saves); an MP4, Matroska or other common file is named as such.\n",
         false, runProbe},
        {"list", "list [network options]",
         "Prints INDEX<TAB>NAME<TAB>camera N for every camera of the recorder: INDEX is what\n"
         "--channel takes, N the number the viewer gives the camera (INDEX + 1).\n",
         true, runList},
        {"snapshot", "snapshot --channel N --out FILE.png|- [network options]",
         "Saves the first live picture of channel N (0-255; the viewer's camera N+1) as a PNG\n"
         "file; FILE ends in .png or has no extension, and '-' writes to standard output.\n",
         true, runSnapshot},
        {"record",
         "record --channel N --seconds S --out FILE|- [--raw] [--format mp4|mkv] [network options]",
         "Records S seconds (above 0, at most 86400) of channel N (the viewer's camera N+1).\n"
         "FILE.mp4 or FILE.mkv is a video file any player opens (the recorder's frames as they\n"
         "came, not re-encoded; it starts at a key frame, and a change of codec or picture size\n"
         "continues in FILE_2.mp4, ...).\n"
         "Other names, or --raw, get the media bytes as received ('kevractl probe FILE' shows\n"
         "them). One line per file written: BYTES<TAB>FILE (clips add frames and seconds).\n"
         "SIGINT or SIGTERM ends the recording early and keeps what was recorded. Nothing is\n"
         "written to FILE until the first bytes (clips: the first key frame) arrive.\n"
         "'--out -' writes the clip to standard output as fragmented MP4, or Matroska with\n"
         "--format mkv (both play while they arrive, e.g. '| ffplay -'); with --raw, the bytes\n"
         "as received. The video is then all that goes to standard output: the lines about\n"
         "it go to standard error. A change of codec or picture size ends such a recording.\n",
         true, runRecord},
        {"ptz", "ptz --channel N --action ACTION [network options]",
         "Sends one pan/tilt/zoom command to channel N. ACTION is one of up, down, left, right,\n"
         "zoom-in, zoom-out, focus-in, focus-out, iris-in, iris-out.\n",
         true, runPtz},
        {nullptr, nullptr, nullptr, false, nullptr},
    };
    return table;
}

int printCommandHelp(const char* name)
{
    for (const Command* c = commandTable(); c->name; ++c) {
        if (std::strcmp(c->name, name) != 0)
            continue;
        std::printf("usage: kevractl %s\n\n%s\n", c->usage, c->details);
        if (c->network)
            std::printf("%s\n", kNetOptions);
        std::printf("%s", kExitStatus);
        return 0;
    }
    return 2;
}

}   // namespace kevra

namespace {

void usage(FILE* out)
{
    std::fprintf(out, "usage: kevractl <command> [options]\n\ncommands:\n");
    for (const kevra::Command* c = kevra::commandTable(); c->name; ++c)
        std::fprintf(out, "  %s\n", c->usage);
    std::fprintf(out, "\n%s\n%s'kevractl <command> --help' tells more about one command.\n",
                 kevra::kNetOptions, kevra::kExitStatus);
}

bool isHelp(const char* arg)
{
    return std::strcmp(arg, "help") == 0 || std::strcmp(arg, "--help") == 0 ||
           std::strcmp(arg, "-h") == 0;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    if (isHelp(argv[1])) {
        // "kevractl help record" is "kevractl record --help".
        if (argc > 2 && kevra::printCommandHelp(argv[2]) == 0)
            return 0;
        usage(stdout);
        return 0;
    }
    for (const kevra::Command* c = kevra::commandTable(); c->name; ++c) {
        if (std::strcmp(argv[1], c->name) != 0)
            continue;
        // Commands that talk to a recorder end cleanly on a signal (logout, a completed file);
        // the others keep the default: a signal ends them at once.
        if (c->network)
            kevra::installInterruptHandlers();
        return c->run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "kevractl: unknown command '%s' (try 'kevractl help')\n", argv[1]);
    return 2;
}
