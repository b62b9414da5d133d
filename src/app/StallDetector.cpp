#include "app/StallDetector.h"

#include "common/Clock.h"

namespace kevra {

void StallDetector::start()
{
    lastMs_.store(Clock::nowMs(), std::memory_order_release);
    playing_.store(true, std::memory_order_release);
}

void StallDetector::picture()
{
    lastMs_.store(Clock::nowMs(), std::memory_order_release);
}

void StallDetector::stop()
{
    playing_.store(false, std::memory_order_release);
}

int StallDetector::stalledSeconds() const
{
    if (!playing())
        return 0;
    const uint64_t now = Clock::nowMs();
    const uint64_t last = lastMs_.load(std::memory_order_acquire);
    if (now < last || now - last < kThresholdMs)
        return 0;
    return static_cast<int>((now - last) / 1000);
}

}   // namespace kevra
