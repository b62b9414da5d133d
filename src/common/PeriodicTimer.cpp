#include "common/PeriodicTimer.h"

#include <pthread.h>
#include <system_error>

namespace kevra {

PeriodicTimer::~PeriodicTimer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        timers_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();   // destroyed from its own tick: cannot join itself
        else
            thread_.join();
    }
}

bool PeriodicTimer::onTimerThread() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return threadId_ == std::this_thread::get_id();
}

int PeriodicTimer::start(int periodMs, std::function<void()> callback)
{
    if (periodMs <= 0 || !callback)
        return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_)
        return 0;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return 0;
        }
        threadId_ = thread_.get_id();
    }
    int id = nextId_;
    nextId_ = nextId_ >= 0x3fffffff ? 1 : nextId_ + 1;
    Entry e{std::chrono::milliseconds(periodMs),
            std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs),
            std::move(callback)};
    timers_[id] = std::move(e);
    wake_.notify_all();
    return id;
}

void PeriodicTimer::cancel(int id)
{
    if (id <= 0)
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    timers_.erase(id);
    wake_.notify_all();
    if (threadId_ == std::this_thread::get_id())
        return;   // inside a tick: the running tick is the caller itself
    idle_.wait(lock, [&] { return runningId_ != id; });
}

int PeriodicTimer::restart(int id, int periodMs)
{
    if (periodMs <= 0)
        return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end())
        return -1;
    it->second.period = std::chrono::milliseconds(periodMs);
    it->second.due = std::chrono::steady_clock::now() + it->second.period;
    wake_.notify_all();
    return 0;
}

int PeriodicTimer::restartRunning(int periodMs)
{
    int id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (threadId_ != std::this_thread::get_id() || runningId_ == 0)
            return -1;
        id = runningId_;
    }
    return restart(id, periodMs);
}

void PeriodicTimer::run()
{
    pthread_setname_np(pthread_self(), "kevra-timer");   // tells the threads apart in measurements
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (timers_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto next = timers_.begin();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (it->second.due < next->second.due)
                next = it;
        auto now = std::chrono::steady_clock::now();
        if (next->second.due > now) {
            const TimePoint due = next->second.due;   // the entry may go while we wait
            wake_.wait_until(lock, due);
            continue;   // the list may have changed meanwhile: choose again
        }
        int id = next->first;
        std::function<void()> callback = next->second.callback;
        // Fixed rate; a tick that overran does not cause a burst of catch-up ticks.
        next->second.due += next->second.period;
        if (next->second.due < now)
            next->second.due = now + next->second.period;
        runningId_ = id;
        lock.unlock();
        callback();
        callback = nullptr;   // release captured state outside the lock
        lock.lock();
        runningId_ = 0;
        idle_.notify_all();
    }
}

}   // namespace kevra
