// The whole gateway for one run: reads the secrets, starts the RTSP front and one link per
// recorder, prints the URLs, runs the GLib main loop on the calling (main) thread until SIGINT
// or SIGTERM, and takes everything down again in order.
#pragma once
#include "GatewayOptions.h"

namespace kevra::gateway {

// The process exit status: 0 after a signal or --list, 1 when it cannot start (reason logged),
// 2 for a refused command line or secrets file.
int runGateway(const GatewayOptions& options);

}   // namespace kevra::gateway
