// Notices a playing view whose picture stopped: started when the view starts playing, told of
// every new picture drawn, stopped with the view. Once no new picture came for 3 s it reports
// the whole seconds since the last one (or since the start, before the first). Reads
// Clock::nowMs(). picture() may run on the frame-timer thread and the rest on the
// user-interface thread: the state is two atomics.
#pragma once
#include <atomic>
#include <cstdint>

namespace kevra {

class StallDetector {
public:
    static constexpr uint64_t kThresholdMs = 3000;

    // Playing from now: the time without a picture counts from here.
    void start();
    // A new picture was drawn.
    void picture();
    // Not playing: never stalled until the next start().
    void stop();

    bool playing() const { return playing_.load(std::memory_order_acquire); }
    // Whole seconds without a new picture once that reaches the threshold, else 0.
    int stalledSeconds() const;

private:
    std::atomic<bool> playing_{false};
    std::atomic<uint64_t> lastMs_{0};
};

}   // namespace kevra
