// Reading kevractl's network options: one rule per option says how its value is read and checked.
#include "NetOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Commands.h"

namespace kevra {
namespace {

// One option: its name and how its value is read and checked.
struct OptionRule {
    const char* name;
    enum { Text, Whole, Number, Flag } type;
    double lo, hi;
    bool loOpen;        // the value must be above lo rather than at least lo
    const char* rule;   // completes "--NAME must be ..." when a value is refused
};

const OptionRule kRules[] = {
    {"--host", OptionRule::Text, 0, 0, false, "a host name or address"},
    {"--port", OptionRule::Whole, 1, 65535, false, "a whole number from 1 to 65535"},
    {"--user", OptionRule::Text, 0, 0, false, ""},
    {"--password", OptionRule::Text, 0, 0, false, ""},
    {"--timeout", OptionRule::Number, 0.1, 3600, false, "a number of seconds from 0.1 to 3600"},
    {"--channel", OptionRule::Whole, 0, 255, false,
     "a channel index from 0 to 255 (the viewer's camera 1 is channel 0)"},
    {"--seconds", OptionRule::Number, 0, 86400, true, "a number of seconds above 0, at most 86400"},
    {"--out", OptionRule::Text, 0, 0, false, "a file name"},
    {"--action", OptionRule::Text, 0, 0, false, ""},
    {"--format", OptionRule::Text, 0, 0, false, ""},
    {"--raw", OptionRule::Flag, 0, 0, false, ""},
};

constexpr const char* kNetworkOptions[] = {"--host", "--port", "--user", "--password", "--timeout"};

bool readNumber(const char* text, const OptionRule& r, double& out)
{
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (!*text || *end || errno != 0 || !(v >= r.lo && v <= r.hi) || (r.loOpen && v <= r.lo))
        return false;
    if (r.type == OptionRule::Whole && v != std::floor(v))
        return false;
    out = v;
    return true;
}

}   // namespace

int parseOptions(const char* command, std::initializer_list<const char*> own, int argc, char** argv,
                 NetOptions& o)
{
    auto takes = [&](const std::string& a) {
        for (const char* n : kNetworkOptions)
            if (a == n)
                return true;
        for (const char* n : own)
            if (a == n)
                return true;
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h")
            return printCommandHelp(command) == 0 ? kHelp : -1;
        const OptionRule* rule = nullptr;
        for (const OptionRule& r : kRules)
            if (a == r.name)
                rule = &r;
        if (!rule || !takes(a)) {
            if (rule)
                std::fprintf(
                    stderr,
                    "kevractl %s: %s does not apply to this command (try 'kevractl %s --help')\n",
                    command, a.c_str(), command);
            else
                std::fprintf(stderr,
                             "kevractl %s: unknown option '%s' (try 'kevractl %s --help')\n",
                             command, a.c_str(), command);
            return -1;
        }
        if (rule->type == OptionRule::Flag) {
            if (a == "--raw")
                o.raw = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "kevractl %s: %s needs a value\n", command, a.c_str());
            return -1;
        }
        const char* v = argv[++i];
        double n = 0;
        if (rule->type != OptionRule::Text && !readNumber(v, *rule, n)) {
            std::fprintf(stderr, "kevractl %s: %s must be %s, not '%s'\n", command, a.c_str(),
                         rule->rule, v);
            return -1;
        }
        if (a == "--host")
            o.host = v;
        else if (a == "--port")
            o.port = int(n);
        else if (a == "--user")
            o.user = v;
        else if (a == "--password")
            o.password = v;
        else if (a == "--timeout")
            o.timeout = n;
        else if (a == "--channel")
            o.channel = int(n);
        else if (a == "--seconds")
            o.seconds = n;
        else if (a == "--out")
            o.out = v;
        else if (a == "--action")
            o.action = v;
        else if (a == "--format")
            o.format = v;
    }
    return 0;
}

bool required(const char* command, std::initializer_list<std::pair<const char*, bool>> options)
{
    for (const auto& [name, given] : options) {
        if (given)
            continue;
        std::fprintf(stderr, "kevractl %s: %s is required (try 'kevractl %s --help')\n", command,
                     name, command);
        return false;
    }
    return true;
}

}   // namespace kevra
