// Periodic timers served by one thread of their own: each timer calls its callback
// every period on that thread until cancelled. Any thread may start, restart or cancel;
// callbacks run on the timer thread, one at a time, never under the timer's lock.
#pragma once
#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace kevra {

class PeriodicTimer {
public:
    PeriodicTimer() = default;
    ~PeriodicTimer();   // cancels every timer and joins the thread
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Starts a timer whose first tick comes one period from now. Returns its id (> 0),
    // or 0 when the period is not positive, the callback is empty or no thread can run.
    int start(int periodMs, std::function<void()> callback);

    // Removes the timer. When called from another thread, returns only after a running
    // tick of this timer has finished, so no tick runs or will run afterwards. Called from
    // inside a tick (on the timer thread) it returns at once; that tick is the last one.
    // Unknown ids are ignored.
    void cancel(int id);

    // Gives a running timer a new period, counted from now; keeps its id. May be called
    // from inside the timer's own tick. Returns 0, or -1 when the id is not running.
    int restart(int id, int periodMs);

    // From inside a tick: gives the timer whose tick is running a new period, counted from
    // now. Returns 0, or -1 when not called from inside a tick of a timer still running.
    int restartRunning(int periodMs);

    // True when called on the timer thread (inside a tick).
    bool onTimerThread() const;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Entry {
        std::chrono::milliseconds period;
        TimePoint due;
        std::function<void()> callback;
    };

    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;   // timer list changed or shutting down
    std::condition_variable idle_;   // a tick finished
    std::map<int, Entry> timers_;
    int nextId_ = 1;
    int runningId_ = 0;   // id whose tick is running, 0 when none
    bool quit_ = false;
    std::thread thread_;
    std::thread::id threadId_;
};

}   // namespace kevra
