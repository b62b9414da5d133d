// Delays the gateway adds (a frame's last bytes in from the recorder -> its first RTP packet
// out), collected when --stats is on. Any thread records; guarded by mutex_.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kevra::gateway {

class DelayStats {
public:
    static constexpr size_t kMaxSamples = 1 << 20;

    void add(uint64_t delayNs);
    // "p50 0.21 ms, p95 0.48 ms over 1234 frames", or "" without samples.
    std::string summary() const;

private:
    mutable std::mutex mutex_;
    std::vector<uint32_t> microseconds_;
};

}   // namespace kevra::gateway
