#include "SnapshotService.h"

#include <chrono>

#include "CameraHub.h"
#include "HttpServer.h"
#include "SnapshotMaker.h"
#include "common/Clock.h"

namespace kevra::gateway {

SnapshotService::SnapshotService(int waitMs) : waitMs_(waitMs), worker_([this] { run(); })
{
}

SnapshotService::~SnapshotService()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void SnapshotService::request(const std::shared_ptr<CameraHub>& hub,
                              const std::shared_ptr<HttpExchange>& exchange)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.size() < kMaxWaiting && !stopping_) {
            hub->hold();
            jobs_.push_back({hub, exchange, Clock::nowMs() + uint64_t(waitMs_)});
            changed_.notify_all();
            return;
        }
    }
    exchange->respond(503, "text/plain; charset=utf-8", "too many snapshot requests waiting\n",
                      {{"Retry-After", "1"}});
}

void SnapshotService::run()
{
    SnapshotMaker maker;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (jobs_.empty())
            changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        else
            changed_.wait_for(lock, std::chrono::milliseconds(kPollMs));
        std::vector<Job> jobs;
        jobs.swap(jobs_);
        lock.unlock();
        std::vector<Job> waiting;
        for (Job& job : jobs) {
            std::vector<OutFramePtr> frames = job.hub->cachedFrames();
            bool late = Clock::nowMs() >= job.deadlineMs;
            if (frames.empty() && !late && !job.exchange->gone()) {
                waiting.push_back(std::move(job));
                continue;
            }
            job.hub->release();
            if (job.exchange->gone())
                continue;
            std::string why = "no picture from the camera in time";
            std::string jpeg = frames.empty() ? "" : maker.jpeg(job.hub->path(), frames, why);
            if (jpeg.empty())
                job.exchange->respond(503, "text/plain; charset=utf-8", why + "\n",
                                      {{"Retry-After", "2"}});
            else
                job.exchange->respond(200, "image/jpeg", std::move(jpeg),
                                      {{"Cache-Control", "no-store"}});
        }
        lock.lock();
        for (Job& job : waiting)
            jobs_.push_back(std::move(job));
    }
    for (Job& job : jobs_) {
        job.hub->release();
        job.exchange->respond(503, "text/plain; charset=utf-8", "the gateway is stopping\n");
    }
    jobs_.clear();
}

}   // namespace kevra::gateway
