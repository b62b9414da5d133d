// Log lines for clients the gateway refused (a wrong password, a camera that is not there),
// at most one per client address and kind of refusal in a window, so that a client retrying
// in a loop, or many of them, cannot flood the log: the refusals left out are counted and the
// next line that is written says how many. Owns the table of recent addresses (bounded).
// Any thread (the server's client threads): the table is guarded by mutex_.
#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace kevra::gateway {

class RefusalLog {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kWindow{10};
    // Addresses remembered at most; beyond it, those whose window is over are forgotten.
    static constexpr size_t kMaxAddresses = 4096;

    // `write` takes each line (GatewayLog::line by default); `now` gives the time (tests).
    explicit RefusalLog(std::function<void(const std::string&)> write = {},
                        std::function<Clock::time_point()> now = {});

    // One refusal of `kind` (e.g. 401) for the client from `address`; `text` is the whole line
    // to write when it is not left out.
    void note(const std::string& address, int kind, const std::string& text);

private:
    struct Entry {
        Clock::time_point written;
        int leftOut = 0;
    };
    void forgetOld(Clock::time_point now);

    std::function<void(const std::string&)> write_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    std::map<std::pair<std::string, int>, Entry> recent_;
};

}   // namespace kevra::gateway
