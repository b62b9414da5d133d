// kevractl: command-line client of the viewer's engine. "kevractl <command> [options]".
#include "Commands.h"

#include <cstdio>
#include <cstring>

namespace kevra {

const Command* commandTable()
{
    static const Command table[] = {
        {"probe", "probe [--block N] FILE   print the frame records the demultiplexer finds", runProbe},
        {"list", "list [net options]   print INDEX<TAB>NAME for every camera of the recorder", runList},
        {"snapshot", "snapshot --channel N --out FILE.png [net options]   save the first live picture", runSnapshot},
        {"record", "record --channel N --seconds S --out FILE [net options]   save the media bytes", runRecord},
        {"ptz", "ptz --channel N --action up|down|left|right|zoom-in|zoom-out|focus-in|focus-out|iris-in|iris-out [net options]", runPtz},
        {nullptr, nullptr, nullptr},
    };
    return table;
}

} // namespace kevra

namespace {

void usage(FILE* out)
{
    std::fprintf(out, "usage: kevractl <command> [options]\ncommands:\n");
    for (const kevra::Command* c = kevra::commandTable(); c->name; ++c)
        std::fprintf(out, "  %s\n", c->usage);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0) {
        usage(stdout);
        return 0;
    }
    for (const kevra::Command* c = kevra::commandTable(); c->name; ++c) {
        if (std::strcmp(argv[1], c->name) == 0)
            return c->run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "kevractl: unknown command '%s' (try 'kevractl help')\n", argv[1]);
    return 2;
}
