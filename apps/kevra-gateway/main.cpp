// kevra-gateway: every camera of one or more recorders as an RTSP stream.
#include <cstdio>

#include "Gateway.h"
#include "GatewayOptions.h"

int main(int argc, char** argv)
{
    kevra::gateway::GatewayOptions options;
    std::string why = kevra::gateway::parseGatewayOptions(argc, argv, options);
    if (!why.empty()) {
        std::fprintf(stderr, "kevra-gateway: %s\n", why.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kevra::gateway::kGatewayUsage, stdout);
        return 0;
    }
    return kevra::gateway::runGateway(options);
}
