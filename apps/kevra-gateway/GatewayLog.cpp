#include "GatewayLog.h"

#include <cstdio>
#include <ctime>

namespace kevra::gateway {

void GatewayLog::line(const std::string& text)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    // One fprintf per line: stdio locks the stream, so lines of several threads never mix.
    std::fprintf(stderr, "kevra-gateway: %s %s\n", stamp, text.c_str());
}

}   // namespace kevra::gateway
