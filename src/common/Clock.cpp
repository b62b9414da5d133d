#include "common/Clock.h"

#include <atomic>
#include <chrono>

namespace kevra {

namespace {
std::atomic<bool> g_manual{false};
std::atomic<uint64_t> g_manualMs{0};
}   // namespace

uint64_t Clock::nowMs()
{
    if (g_manual.load(std::memory_order_acquire))
        return g_manualMs.load(std::memory_order_acquire);
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t Clock::nowUs()
{
    if (g_manual.load(std::memory_order_acquire))
        return g_manualMs.load(std::memory_order_acquire) * 1000;
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void Clock::useManual(uint64_t startMs)
{
    g_manualMs.store(startMs, std::memory_order_release);
    g_manual.store(true, std::memory_order_release);
}

void Clock::advance(uint64_t ms)
{
    g_manualMs.fetch_add(ms, std::memory_order_acq_rel);
}

void Clock::useReal()
{
    g_manual.store(false, std::memory_order_release);
}

bool Clock::isManual()
{
    return g_manual.load(std::memory_order_acquire);
}

}   // namespace kevra
