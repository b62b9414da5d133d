// The gateway's command line: the recorders to publish, where the RTSP server listens, the
// secrets file and the operating switches. Parsed once on the main thread before anything starts.
#pragma once
#include <string>
#include <vector>

namespace kevra::gateway {

struct RecorderAddress {
    std::string name;   // first path element of its cameras' URLs
    std::string host;
    int port = 0;
};

struct GatewayOptions {
    std::vector<RecorderAddress> recorders;
    int rtspPort = 8554;
    std::string listen = "127.0.0.1";
    std::string secretsFile;
    bool noAuth = false;     // --no-auth: no credentials even on a non-loopback address
    bool listOnly = false;   // --list: print every URL and end
    bool verbose = false;
    int idleCloseSeconds =
        30;   // a camera's recorder channel closes this long after its last client
    int clientQueueKb = 4096;   // a client whose unsent queue grows beyond this is dropped
    bool stats = false;         // --stats: print delay figures at exit
    int onvifPort = 8100;       // camera k's ONVIF device at onvifPort + k - 1; 0 = any free
    bool noOnvif = false;       // --no-onvif: no ONVIF devices and no discovery
    int discoveryPort = 3702;   // WS-Discovery; 0 = any free (tests)
    int httpPort = 8080;        // status page, API, snapshots, metrics; -1 = --no-http
    // Limits on clients, shared by the RTSP and HTTP ports.
    int maxClients = 256;             // open connections in all
    int maxClientsPerAddress = 32;    // open connections from one source address
    int requestTimeoutSeconds = 10;   // to complete a request after connecting (or, for HTTP,
                                      // after the previous answer)
    int maxHeaderKb = 16;             // HTTP request line and headers
    int maxBodyKb = 64;               // HTTP request body
    bool help = false;
};

// Fills `out` from argv. Returns "" or the one-line reason the command line is refused.
std::string parseGatewayOptions(int argc, char** argv, GatewayOptions& out);

// True for addresses only this machine reaches (127.0.0.0/8, ::1, localhost).
bool isLoopbackAddress(const std::string& address);

extern const char* const kGatewayUsage;

}   // namespace kevra::gateway
