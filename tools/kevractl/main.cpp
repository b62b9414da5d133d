// kevractl: command-line client of the viewer's engine. "kevractl <command> [options]".
#include "Commands.h"

#include <cstdio>
#include <cstring>

namespace kevra {

const Command* commandTable()
{
    static const Command table[] = {
        {"probe", "probe [--block N] FILE   print the frame records the demultiplexer finds", runProbe},
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
