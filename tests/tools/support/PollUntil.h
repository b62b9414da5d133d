// Drives a device session on the test's own thread until a condition holds or the time is up.
// Test thread only.
#pragma once
#include <chrono>
#include <thread>

#include "device/DeviceSession.h"

namespace kevra {

// Polls the session until done() or the time-out; false when the time ran out.
template <typename Done>
bool pollUntil(DeviceSession& s, int timeoutMs, Done done)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        if (s.poll() != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}   // namespace kevra
