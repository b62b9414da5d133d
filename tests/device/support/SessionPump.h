// Drives a DeviceSession from the test thread the way the network worker does: one poll,
// then a short sleep, until a condition holds or a real-time limit passes.
#pragma once
#include <chrono>
#include <functional>
#include <thread>

#include "device/DeviceSession.h"

namespace kevra {

inline bool pumpUntil(DeviceSession& session, const std::function<bool()>& done,
                      int timeoutMs = 5000, int sleepMs = 1)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        session.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    }
    return true;
}

// Polls a fixed number of times (lets bytes in flight arrive without expecting anything).
inline void pumpFor(DeviceSession& session, int polls)
{
    for (int i = 0; i < polls; ++i) {
        session.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}   // namespace kevra
