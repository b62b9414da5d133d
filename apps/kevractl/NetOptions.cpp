// Reading kevractl's network options: one rule per option says how its value is read and checked.
#include "NetOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Commands.h"

namespace kevra {
namespace {

// One option: its name, how its value is read and checked, and where it goes.
struct OptionRule {
    const char* name;
    enum { Text, Whole, Number, Flag } type;
    double lo, hi;
    bool loOpen;        // the value must be above lo rather than at least lo
    const char* rule;   // completes "--NAME must be ..." when a value is refused
    // Stores the value: the text as given and, for a number, what it reads as.
    void (*set)(NetOptions& o, const char* text, double number);
    // For an option every command that takes it needs: whether it was given. Null otherwise.
    bool (*given)(const NetOptions& o) = nullptr;
};

const OptionRule kRules[] = {
    {"--host", OptionRule::Text, 0, 0, false, "a host name or address",
     [](NetOptions& o, const char* v, double) { o.host = v; }},
    {"--port", OptionRule::Whole, 1, 65535, false, "a whole number from 1 to 65535",
     [](NetOptions& o, const char*, double n) { o.port = int(n); }},
    {"--user", OptionRule::Text, 0, 0, false, "",
     [](NetOptions& o, const char* v, double) { o.user = v; }},
    {"--password", OptionRule::Text, 0, 0, false, "",
     [](NetOptions& o, const char* v, double) { o.password = v; }},
    {"--timeout", OptionRule::Number, 0.1, 3600, false, "a number of seconds from 0.1 to 3600",
     [](NetOptions& o, const char*, double n) { o.timeout = n; }},
    {"--channel", OptionRule::Whole, 0, 255, false,
     "a channel index from 0 to 255 (the viewer's camera 1 is channel 0)",
     [](NetOptions& o, const char*, double n) { o.channel = int(n); },
     [](const NetOptions& o) { return o.channel >= 0; }},
    {"--seconds", OptionRule::Number, 0, 86400, true, "a number of seconds above 0, at most 86400",
     [](NetOptions& o, const char*, double n) { o.seconds = n; },
     [](const NetOptions& o) { return o.seconds > 0; }},
    {"--out", OptionRule::Text, 0, 0, false, "a file name",
     [](NetOptions& o, const char* v, double) { o.out = v; },
     [](const NetOptions& o) { return !o.out.empty(); }},
    {"--action", OptionRule::Text, 0, 0, false, "",
     [](NetOptions& o, const char* v, double) { o.action = v; },
     [](const NetOptions& o) { return !o.action.empty(); }},
    {"--format", OptionRule::Text, 0, 0, false, "",
     [](NetOptions& o, const char* v, double) { o.format = v; }},
    {"--raw", OptionRule::Flag, 0, 0, false, "",
     [](NetOptions& o, const char*, double) { o.raw = true; }},
};

const OptionRule* find(const std::string& name)
{
    for (const OptionRule& r : kRules)
        if (name == r.name)
            return &r;
    return nullptr;
}

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
            return printCommandHelp(command) == 0 ? 0 : 2;
        const OptionRule* rule = find(a);
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
            return 2;
        }
        if (rule->type == OptionRule::Flag) {
            rule->set(o, nullptr, 0);
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "kevractl %s: %s needs a value\n", command, a.c_str());
            return 2;
        }
        const char* v = argv[++i];
        double n = 0;
        if (rule->type != OptionRule::Text && !readNumber(v, *rule, n)) {
            std::fprintf(stderr, "kevractl %s: %s must be %s, not '%s'\n", command, a.c_str(),
                         rule->rule, v);
            return 2;
        }
        rule->set(o, v, n);
    }
    for (const char* name : own) {
        const OptionRule* rule = find(name);
        if (rule && rule->given && !rule->given(o)) {
            std::fprintf(stderr, "kevractl %s: %s is required (try 'kevractl %s --help')\n",
                         command, name, command);
            return 2;
        }
    }
    return kGoOn;
}

}   // namespace kevra
