#include "gateway/support/GatewayProcess.h"

namespace kevra {

std::unique_ptr<ChildProcess> gatewayProcess(int recorderPort,
                                             const std::vector<std::string>& extra)
{
    std::vector<std::string> argv{std::string(KEVRA_BIN_DIR) + "/kevra-gateway", "--recorder",
                                  "r=127.0.0.1:" + std::to_string(recorderPort)};
    for (const char* listener : {"--rtsp-port", "--http-port", "--onvif-port", "--discovery-port"})
        argv.insert(argv.end(), {listener, "0"});
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto gateway = std::make_unique<ChildProcess>(argv);
    return gateway->start() ? std::move(gateway) : nullptr;
}

}   // namespace kevra
