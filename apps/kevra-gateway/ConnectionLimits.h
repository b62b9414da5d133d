// The gateway's bound on client connections, shared by all its listening ports (RTSP, HTTP and
// the modules that serve on the HTTP wrapper): at most maxTotal open in all and maxPerAddress
// from any one source address. Every port's accept path calls admit() before it serves a
// connection and release() once it is gone. Any thread; state under mutex_.
#pragma once
#include <map>
#include <mutex>
#include <string>

namespace kevra::gateway {

class ConnectionLimits {
public:
    ConnectionLimits(int maxTotal, int maxPerAddress)
        : maxTotal_(maxTotal), maxPerAddress_(maxPerAddress)
    {
    }

    // True (and counted) when one more connection from `address` fits.
    bool admit(const std::string& address)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int& n = perAddress_[address];
        if (total_ >= maxTotal_ || n >= maxPerAddress_) {
            if (n == 0)
                perAddress_.erase(address);
            ++refused_;
            return false;
        }
        ++n;
        ++total_;
        return true;
    }
    void release(const std::string& address)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = perAddress_.find(address);
        if (it == perAddress_.end())
            return;
        --total_;
        if (--it->second <= 0)
            perAddress_.erase(it);
    }
    int total() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return total_;
    }
    unsigned long long refused() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return refused_;
    }

private:
    const int maxTotal_;
    const int maxPerAddress_;
    mutable std::mutex mutex_;
    std::map<std::string, int> perAddress_;
    int total_ = 0;
    unsigned long long refused_ = 0;
};

}   // namespace kevra::gateway
