#include "DelayStats.h"

#include <algorithm>
#include <cstdio>

namespace kevra::gateway {

void DelayStats::add(uint64_t delayNs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (microseconds_.size() < kMaxSamples)
        microseconds_.push_back(uint32_t(std::min<uint64_t>(delayNs / 1000, UINT32_MAX)));
}

std::string DelayStats::summary() const
{
    std::vector<uint32_t> v;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        v = microseconds_;
    }
    if (v.empty())
        return "";
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size())))]; };
    char text[128];
    std::snprintf(text, sizeof text, "p50 %.2f ms, p95 %.2f ms, max %.2f ms over %zu frames",
                  at(0.5) / 1000.0, at(0.95) / 1000.0, v.back() / 1000.0, v.size());
    return text;
}

}   // namespace kevra::gateway
