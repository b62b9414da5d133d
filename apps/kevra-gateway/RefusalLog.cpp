#include "RefusalLog.h"

#include "GatewayLog.h"

namespace kevra::gateway {

RefusalLog::RefusalLog(std::function<void(const std::string&)> write,
                       std::function<Clock::time_point()> now)
    : write_(write ? std::move(write) : [](const std::string& t) { GatewayLog::line(t); }),
      now_(now ? std::move(now) : [] { return Clock::now(); })
{
}

void RefusalLog::forgetOld(Clock::time_point now)
{
    for (auto it = recent_.begin(); it != recent_.end();)
        it = now - it->second.written >= kWindow ? recent_.erase(it) : std::next(it);
}

void RefusalLog::note(const std::string& address, int kind, const std::string& text)
{
    std::string line;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Clock::time_point now = now_();
        const auto key = std::make_pair(address, kind);
        auto it = recent_.find(key);
        if (it != recent_.end() && now - it->second.written < kWindow) {
            ++it->second.leftOut;
            return;
        }
        if (it == recent_.end()) {
            if (recent_.size() >= kMaxAddresses)
                forgetOld(now);
            if (recent_.size() >= kMaxAddresses)
                return;   // every remembered address is within its window: this one waits too
            it = recent_.emplace(key, Entry{}).first;
        }
        line = text;
        if (it->second.leftOut > 0)
            line += " (" + std::to_string(it->second.leftOut) +
                    " more like it from this address since the last such line)";
        it->second = Entry{now, 0};
    }
    write_(line);
}

}   // namespace kevra::gateway
