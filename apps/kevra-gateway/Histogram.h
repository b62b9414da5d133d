// A latency histogram in Prometheus' form: counts of observations at or below fixed bounds
// (seconds), their sum and count. Any thread observes; readers see each counter atomically
// (a scrape may see one observation in the count but not yet in a bucket, as is usual).
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace kevra::gateway {

class Histogram {
public:
    static constexpr std::array<double, 12> kBounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                       0.1,   0.25,   0.5,   1.0,  2.5,   5.0};

    void observe(uint64_t ns)
    {
        double s = double(ns) / 1e9;
        for (size_t i = 0; i < kBounds.size(); ++i)
            if (s <= kBounds[i])
                ++buckets_[i];
        sumNs_ += ns;
        ++count_;
    }
    uint64_t bucket(size_t i) const { return buckets_[i]; }
    uint64_t count() const { return count_; }
    double sumSeconds() const { return double(sumNs_.load()) / 1e9; }

private:
    std::array<std::atomic<uint64_t>, kBounds.size()> buckets_{};
    std::atomic<uint64_t> sumNs_{0};
    std::atomic<uint64_t> count_{0};
};

}   // namespace kevra::gateway
