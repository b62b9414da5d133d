// What the gateway tells of one recorder: its log lines (a failure repeated is logged once, then
// only in detail) and its status for the status page, API and metrics. Written on the recorder
// link's control thread; status() may be read from any thread (guarded by mutex_).
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "GatewayOptions.h"

namespace kevra {
class RecorderSession;
}

namespace kevra::gateway {

class RecorderReport {
public:
    struct Status {
        enum class State { Connecting, Up, Down };
        State state = State::Connecting;
        int64_t sinceUnixMs = 0;   // when it entered that state (wall clock)
        std::string lastError;     // the last login failure or loss, in words; "" if none
        uint64_t logins = 0;       // successful logins
        uint64_t loginFailures = 0;
        uint64_t losses = 0;   // connections lost after a login (each one a reconnect)
    };

    explicit RecorderReport(const RecorderAddress& address) : address_(address) {}

    // Control thread: the session's news.
    void started(const RecorderSession& s, const std::string& user);
    void loginResult(const RecorderSession& s, int code, int systemError);
    void lost(const RecorderSession& s);
    void listRefused(int code);
    void openRefused(int channel, int code);
    void mediaClosed(int channel);

    Status status() const;

private:
    void update(const RecorderSession& s, const std::string& error = "");
    std::string camera(int channel) const;

    const RecorderAddress& address_;
    bool lost_ = false;     // a loss not yet followed by a login
    int lastFailure_ = 0;   // the code of the last login failure logged
    mutable std::mutex mutex_;
    Status status_;   // guarded by mutex_
};

}   // namespace kevra::gateway
