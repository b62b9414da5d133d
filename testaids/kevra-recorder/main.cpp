// kevra-recorder: a simulated network video recorder for demos, tests and measurements.
#include <csignal>

extern "C" {
#include <libavutil/log.h>
}
#include <cstdio>

#include "EventLog.h"
#include "RecorderOptions.h"
#include "RecorderServer.h"

namespace {
kevra::RecorderServer* g_server = nullptr;

void onSignal(int)
{
    if (g_server)
        g_server->stop();
}
}   // namespace

int main(int argc, char** argv)
{
    kevra::RecorderOptions options;
    std::string message;
    int r = kevra::RecorderOptions::parse(argc, argv, options, message);
    if (r != 0) {
        if (r > 0)
            std::fputs(message.c_str(), stdout);
        else
            std::fprintf(stderr, "kevra-recorder: %s\n", message.c_str());
        return r > 0 ? 0 : 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    av_log_set_level(AV_LOG_WARNING);   // keep the encoder's statistics off stderr
    kevra::EventLog log(stdout);
    kevra::RecorderServer server(options, log);
    if (server.open(message) != 0) {
        std::fprintf(stderr, "kevra-recorder: %s\n", message.c_str());
        return 1;
    }
    std::printf("%d\n", server.port());
    std::fflush(stdout);
    log.begin("listening")
        .field("address", options.listen)
        .field("port", server.port())
        .field("format", options.format)
        .field("cameras", int64_t(options.cameras.size()))
        .end();
    g_server = &server;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    server.run();
    g_server = nullptr;
    return 0;
}
