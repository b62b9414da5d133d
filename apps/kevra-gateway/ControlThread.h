// A thread that runs work posted to it, in order, and a step every stepMs between: the owner
// thread of a gateway recorder's session. The owner calls start() and stop() on its own thread;
// post() may be called from any thread. Work still queued when it stops is dropped unrun. The
// queue is guarded by mutex_.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kevra::gateway {

class ControlThread {
public:
    ~ControlThread() { stop(); }

    // first runs once on the thread, step after each batch of work (at least every stepMs),
    // last once when stop() ends it. Nothing when already running.
    void start(int stepMs, std::function<void()> first, std::function<void()> step,
               std::function<void()> last);
    void post(std::function<void()> work);
    // Ends the thread after its current batch and joins it. Later calls do nothing.
    void stop();

private:
    void run(int stepMs, const std::function<void()>& step);

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> work_;   // guarded by mutex_
};

}   // namespace kevra::gateway
