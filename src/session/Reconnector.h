// The retry schedule after a lost connection, or after a camera's media connection closed:
// the first try 1 s after the loss, then 2, 4, 8 and 16 s after each failed try, then every
// 30 s; no tries while paused (the login dialog is open); a success ends it. Holds no
// connection itself: its owner polls takeDue() and carries the try out. Reads Clock::nowMs().
// Owned by one controller and used on that controller's thread only (its session's owner).
#pragma once
#include <cstdint>

namespace kevra {

class Reconnector {
public:
    enum class State { Idle, Waiting, Trying, Paused };
    static constexpr uint64_t kLongestDelayMs = 30000;

    // Delay before try number `attempt` (1 for the first): 1, 2, 4, 8, 16 s, then 30 s.
    static uint64_t delayBefore(int attempt);

    // A loss: the first try is due after the first delay. While a schedule already runs
    // (waiting, trying or paused) it is kept as it is.
    void begin();
    // True once when the next try is due; the state becomes Trying and the count goes up.
    bool takeDue();
    // The running try failed: the next one is due after its delay. While paused, the failure
    // is counted and the pause stays.
    void failed();
    // A try (or a login by hand) succeeded: Idle, counts reset.
    void succeeded();
    // No tries until resume(). A try already running still reports failed() or succeeded().
    void pause();
    // Tries go on: the next is due after its delay counted from now.
    void resume();
    // Ends the schedule without a success (automatic reconnection off, program ends).
    void cancel();

    State state() const { return state_; }
    bool active() const { return state_ != State::Idle; }
    // The try running now, or the one that comes next (1 for the first); 0 while idle.
    int attempt() const;
    // Whole seconds, rounded up, until the next try while waiting; 0 otherwise.
    int secondsLeft() const;

private:
    void scheduleNext();

    State state_ = State::Idle;
    int tries_ = 0;        // tries started since the loss
    uint64_t dueMs_ = 0;   // while waiting
};

}   // namespace kevra
