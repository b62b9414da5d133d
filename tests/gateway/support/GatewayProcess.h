// kevra-gateway as the end-to-end tests run it: a child process in front of the simulated
// recorder, with every listener on a free port. The test thread that starts it owns it.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tools/support/ChildProcess.h"

namespace kevra {

// The gateway for the recorder "r" at 127.0.0.1:recorderPort, `extra` after the ports; started,
// or null when it could not be.
std::unique_ptr<ChildProcess> gatewayProcess(int recorderPort,
                                             const std::vector<std::string>& extra = {});

}   // namespace kevra
