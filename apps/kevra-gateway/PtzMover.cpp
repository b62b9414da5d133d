#include "PtzMover.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "common/Clock.h"

namespace kevra::gateway {

PtzMover::PtzMover() : thread_([this] { run(); })
{
}

PtzMover::~PtzMover()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    changed_.notify_all();
    thread_.join();
}

void PtzMover::move(const std::string& key, int code, uint64_t timeoutMs, Send send)
{
    const uint64_t now = Clock::nowMs();
    Send first;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Move& m = moves_[key];
        m.endMs = now + std::min(timeoutMs, kMaxTimeoutMs);
        if (m.hold.held() && m.hold.code() == PtzCode(code))
            return;
        m.hold.press(1, PtzCode(code), now);
        m.send = std::move(send);
        first = m.send;
    }
    changed_.notify_all();
    std::lock_guard<std::mutex> out(sending_);
    first(code);
}

bool PtzMover::stop(const std::string& key)
{
    bool was;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        was = moves_.erase(key) > 0;
    }
    // A step taken from the table before the erase may still be on its way: wait for it.
    std::lock_guard<std::mutex> out(sending_);
    return was;
}

bool PtzMover::moving(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return moves_.count(key) > 0;
}

void PtzMover::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_) {
        const uint64_t now = Clock::nowMs();
        std::vector<std::pair<Send, int>> due;
        uint64_t next = now + PtzHold::kStepMs;
        for (auto it = moves_.begin(); it != moves_.end();) {
            Move& m = it->second;
            if (now >= m.endMs) {
                it = moves_.erase(it);
                continue;
            }
            if (std::optional<PtzCode> code = m.hold.due(now))
                due.emplace_back(m.send, int(*code));
            next = std::min(next, m.endMs);
            ++it;
        }
        if (!due.empty()) {
            std::lock_guard<std::mutex> out(sending_);
            lock.unlock();
            for (auto& [send, code] : due)
                send(code);
            lock.lock();
            continue;
        }
        // Short waits: the pace is a few milliseconds exact without a timer per move.
        uint64_t waitMs = std::clamp<uint64_t>(next > now ? next - now : 0, 1, 10);
        changed_.wait_for(lock, std::chrono::milliseconds(waitMs));
    }
}

}   // namespace kevra::gateway
