// Steady camera moves for the gateway's remote clients (the web page's held buttons and keys,
// ONVIF continuous moves): a move sends its PTZ code at once and then one step every
// PtzHold::kStepMs, the viewer's pace for a held key, until it is stopped or its time-out passes
// without being renewed, so a move never outlives a client that went away. One move per key
// (a camera's path): a new code for the same key replaces the old one.
// Owns one pacing thread, started by the constructor and joined by the destructor; move(),
// stop() and moving() may be called from any thread. The send functions are called on the
// pacing thread, outside mutex_, and must not block. Moves are guarded by mutex_.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "app/PtzHold.h"

namespace kevra::gateway {

class PtzMover {
public:
    using Send = std::function<void(int code)>;
    static constexpr uint64_t kDefaultTimeoutMs = 1000;
    static constexpr uint64_t kMaxTimeoutMs = 60000;

    PtzMover();
    ~PtzMover();
    PtzMover(const PtzMover&) = delete;
    PtzMover& operator=(const PtzMover&) = delete;

    // Starts the move of `key` with `code`, or renews it when it already moves with that code
    // (no extra step: the pace stays steady however often a client renews). It ends
    // `timeoutMs` (bounded by kMaxTimeoutMs) after the last call unless renewed.
    void move(const std::string& key, int code, uint64_t timeoutMs, Send send);
    // Ends the move of `key`: no step follows once this returns. True when one was going.
    bool stop(const std::string& key);
    bool moving(const std::string& key) const;

private:
    struct Move {
        PtzHold hold;
        uint64_t endMs = 0;
        Send send;
    };
    void run();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Move> moves_;   // guarded by mutex_
    bool running_ = true;                 // guarded by mutex_
    // Held while a step is being sent so that stop() can wait until it is out.
    std::mutex sending_;
    std::thread thread_;
};

}   // namespace kevra::gateway
