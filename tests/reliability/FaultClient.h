// The device client as the fault tests and the soak drive it: one DeviceClient (its own network
// worker thread and decoder worker) whose results and media land in an EventLog. Requests are
// posted from the test thread; the log is filled on the network thread.
#pragma once
#include <chrono>
#include <string>
#include <thread>

#include "device/DeviceClient.h"
#include "device/support/EventLog.h"

namespace kevra {

class FaultClient {
public:
    FaultClient()
    {
        client.setSink(&log);
        client.setMediaObserver(&log);
    }
    ~FaultClient()
    {
        client.setSink(nullptr);
        client.setMediaObserver(nullptr);
        client.logout();
        settle();
    }

    void login(const std::string& host, int port, const std::string& user,
               const std::string& password, int timeoutMs = 10000)
    {
        client.login(host, port, user, password, timeoutMs);
    }
    void logout() { client.logout(); }
    void queryList() { client.queryList(); }
    void openChannel(int channel, int stream) { client.openChannel(channel, stream); }

    // Gives the network worker (10 ms between steps) time for several steps, e.g. after the
    // manual clock moved.
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }

    EventLog log;
    DeviceClient client;
};

} // namespace kevra
