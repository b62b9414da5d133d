// The gateway's own HTTP pages, registered on its HTTP server: "/" (the status page for a
// person), "/api/cameras" and "/api/recorders" (the same as JSON), "/snapshot/NAME/N.jpg" (a
// camera's current picture) and "/metrics" (Prometheus text). Texts come from the language
// files beside the executable, in English or, when the browser asks for it, Chinese.
// Threads: handlers run on the main context; snapshots are answered by the SnapshotService's
// worker. The recorder links are owned by the caller and outlive this service; their accessors
// are thread-safe.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kevra::gateway {

class HttpServer;
class HttpExchange;
class RecorderLink;
class SnapshotService;

class StatusService {
public:
    // `rtspPort` is printed in every camera's URL. `languageDir` holds language_*.ini.
    StatusService(const std::vector<std::unique_ptr<RecorderLink>>& links, int rtspPort,
                  SnapshotService& snapshots, std::string languageDir);

    void addRoutes(HttpServer& server);
    // Each camera's ONVIF port by its path ("/NAME/N"); cameras not in it show none.
    void setOnvifPorts(std::map<std::string, int> ports) { onvifPorts_ = std::move(ports); }

    // The bodies, for the handlers and tests. `host` is how the client reached the gateway.
    std::string camerasJson(const std::string& host) const;
    std::string recordersJson() const;
    std::string metrics() const;
    std::string page(bool chinese) const;

private:
    void snapshot(const std::shared_ptr<HttpExchange>& exchange);
    std::string text(const char* key, bool chinese) const;

    const std::vector<std::unique_ptr<RecorderLink>>& links_;
    const int rtspPort_;
    SnapshotService& snapshots_;
    const std::string languageDir_;
    std::map<std::string, int> onvifPorts_;   // set before the main loop runs
};

}   // namespace kevra::gateway
