#include "ControlThread.h"

#include <chrono>

namespace kevra::gateway {

void ControlThread::start(int stepMs, std::function<void()> first, std::function<void()> step,
                          std::function<void()> last)
{
    if (running_.exchange(true))
        return;
    thread_ = std::thread(
        [this, stepMs, first = std::move(first), step = std::move(step), last = std::move(last)] {
            first();
            run(stepMs, step);
            last();
            std::lock_guard<std::mutex> lock(mutex_);
            work_.clear();
        });
}

void ControlThread::post(std::function<void()> work)
{
    std::lock_guard<std::mutex> lock(mutex_);
    work_.push_back(std::move(work));
    changed_.notify_all();
}

void ControlThread::stop()
{
    if (!running_.exchange(false))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }
    thread_.join();
}

void ControlThread::run(int stepMs, const std::function<void()>& step)
{
    while (running_) {
        std::deque<std::function<void()>> batch;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(stepMs),
                              [&] { return !work_.empty() || !running_; });
            batch.swap(work_);
        }
        for (auto& work : batch)
            work();
        if (running_)
            step();
    }
}

}   // namespace kevra::gateway
