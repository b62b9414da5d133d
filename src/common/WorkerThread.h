// One platform thread (absent when not running): start it on an entry, join it.
// Owned and driven by one thread (the one that starts and joins it).
#pragma once
#include <functional>
#include <thread>

namespace kevra {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Creates the thread; 0 on success, -1 when it cannot be created or one already runs.
    int start(std::function<void()> entry);
    // Waits for the thread without a time limit and forgets it. Does nothing when absent.
    void join();
    bool running() const { return thread_.joinable(); }

private:
    std::thread thread_;
};

}   // namespace kevra
