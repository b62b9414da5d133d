#include "CameraSet.h"

#include <algorithm>
#include <string>

namespace kevra {

std::vector<int> CameraSet::update(const std::set<Key>& wanted, Clock::time_point now,
                                   const AnnexBSource* source)
{
    for (auto it = cameras_.begin(); it != cameras_.end();) {
        if (!wanted.count(it->first)) {
            held_.erase(it->first);
            log_.begin("camera")
                .field("channel", it->first.first)
                .field("stream", it->first.second)
                .field("state", std::string("idle"))
                .field("frames", it->second->frames())
                .end();
            it = cameras_.erase(it);
        } else {
            ++it;
        }
    }
    std::vector<int> failed;
    for (const Key& k : wanted) {
        if (cameras_.count(k))
            continue;
        const int ch = k.first;
        auto cam = std::make_unique<CameraStream>(ch, options_, source, k.second);
        if (cam->open(now) != 0) {
            log_.begin("error")
                .field("channel", ch)
                .field("reason", std::string("encoder did not open"))
                .end();
            failed.push_back(ch);
            continue;
        }
        auto pan = pan_.find(ch);
        if (pan != pan_.end())
            cam->setPan(pan->second.first, pan->second.second);
        log_.begin("camera")
            .field("channel", ch)
            .field("stream", k.second)
            .field("state", std::string("streaming"))
            .field("width", cam->width())
            .field("height", cam->height())
            .field("fps", options_.fps)
            .end();
        cameras_[k] = std::move(cam);
    }
    return failed;
}

std::chrono::milliseconds CameraSet::wait(Clock::time_point now,
                                          std::chrono::milliseconds limit) const
{
    for (auto& [index, cam] : cameras_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(cam->due() - now);
        limit = std::max(std::chrono::milliseconds(0), std::min(limit, left));
    }
    return limit;
}

bool CameraSet::burstStalled(Clock::time_point now) const
{
    if (options_.burstPeriodMs <= 0)
        return false;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - started_).count();
    return ms % options_.burstPeriodMs >= options_.burstPeriodMs - options_.burstStallMs;
}

void CameraSet::streamFrames(Clock::time_point now, const Send& send)
{
    std::vector<uint8_t> frame;
    const bool stalled = burstStalled(now);
    for (auto& [k, cam] : cameras_) {
        const std::vector<uint8_t> header = cam->streamHeader();
        std::deque<HeldFrame>& held = held_[k];
        if (!stalled && !held.empty()) {
            // The stall is over: everything held back goes out at once, oldest first.
            log_.begin("fault")
                .field("kind", std::string("burst"))
                .field("channel", k.first)
                .field("stream", k.second)
                .field("frames", int64_t(held.size()))
                .end();
            for (const HeldFrame& f : held)
                send(k.first, k.second, header, f.bytes, f.key, f.number);
            held.clear();
        }
        for (int catchUp = 0; catchUp < 2 && cam->due() <= now; ++catchUp) {
            bool key = false;
            if (cam->nextFrame(now, frame, key) != 0)
                continue;
            // A stall longer than a minute would hold too much; the oldest frames go first.
            if (stalled) {
                if (held.size() >= 1500)
                    held.pop_front();
                held.push_back({frame, key, cam->lastFrameNumber()});
                continue;
            }
            send(k.first, k.second, header, frame, key, cam->lastFrameNumber());
        }
    }
}

int64_t CameraSet::pan(int channel, int action, int& x, int& y)
{
    // Up, down, left and right move the drawn scene one pan step the other way, as a turning
    // camera would.
    auto& [px, py] = pan_[channel];
    switch (action) {
    case 0: py = std::min(py + 1, PatternEncoder::kPanLimitY); break;
    case 1: py = std::max(py - 1, -PatternEncoder::kPanLimitY); break;
    case 2: px = std::min(px + 1, PatternEncoder::kPanLimitX); break;
    case 3: px = std::max(px - 1, -PatternEncoder::kPanLimitX); break;
    default: break;
    }
    int64_t next = -1;
    for (auto& [key, cam] : cameras_) {
        if (key.first != channel)
            continue;
        cam->setPan(px, py);
        if (key.second == 1 || next < 0)
            next = cam->lastFrameNumber() + 1;
    }
    x = px;
    y = py;
    return next;
}

void CameraSet::requestKeyFrames(int channel)
{
    for (auto& [key, cam] : cameras_)
        if (key.first == channel)
            cam->requestKeyFrame();
}

}   // namespace kevra
