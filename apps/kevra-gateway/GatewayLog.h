// The gateway's log: one line per event on standard error, "kevra-gateway: HH:MM:SS text".
// Detail lines appear only with --verbose. Any thread; each line is written whole.
#pragma once
#include <atomic>
#include <string>

namespace kevra::gateway {

class GatewayLog {
public:
    static void setVerbose(bool on) { verbose_ = on; }
    static bool verbose() { return verbose_; }
    static void line(const std::string& text);
    static void detail(const std::string& text)
    {
        if (verbose_)
            line(text);
    }

private:
    static inline std::atomic<bool> verbose_{false};
};

}   // namespace kevra::gateway
