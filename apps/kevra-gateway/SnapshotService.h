// Answers snapshot requests off the main loop: a worker thread waits for each camera's first
// kept key frame (holding an idle camera's channel open meanwhile, which then closes after the
// idle time as for RTSP), makes the JPEG and answers the request. At most kMaxWaiting requests
// wait; more are refused so a flood cannot grow memory or threads.
// Threads: request() from the main context; the worker owns the SnapshotMaker; jobs are under
// mutex_. The owner (main thread) constructs and destroys it (the destructor joins).
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kevra::gateway {

class CameraHub;
class HttpExchange;

class SnapshotService {
public:
    static constexpr size_t kMaxWaiting = 64;
    static constexpr int kPollMs = 10;

    explicit SnapshotService(int waitMs = 3000);
    ~SnapshotService();
    SnapshotService(const SnapshotService&) = delete;
    SnapshotService& operator=(const SnapshotService&) = delete;

    // Queues the request; it is answered with a JPEG, or 503 when no picture came in time or
    // too many wait.
    void request(const std::shared_ptr<CameraHub>& hub,
                 const std::shared_ptr<HttpExchange>& exchange);

private:
    struct Job {
        std::shared_ptr<CameraHub> hub;
        std::shared_ptr<HttpExchange> exchange;
        uint64_t deadlineMs;
    };
    void run();

    const int waitMs_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Job> jobs_;   // guarded by mutex_
    bool stopping_ = false;   // guarded by mutex_
    std::thread worker_;
};

}   // namespace kevra::gateway
