// Millisecond clock for every time-out of the program (keepalive, silence, reply waits).
// Monotonic 64-bit milliseconds; tests may switch it to a manual source and advance it.
// Any thread may read it; the manual source is set by the test thread only.
#pragma once
#include <cstdint>

namespace kevra {

class Clock {
public:
    // Milliseconds from an arbitrary fixed origin; never goes backwards.
    static uint64_t nowMs();
    // The same clock in microseconds (per-frame stage times); manual: the manual value x 1000.
    static uint64_t nowUs();

    // Test support: while manual, nowMs() returns the manual value.
    static void useManual(uint64_t startMs = 1'000'000);
    static void advance(uint64_t ms);
    static void useReal();
    static bool isManual();
};

}   // namespace kevra
