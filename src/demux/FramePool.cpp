#include "demux/FramePool.h"

#include <new>

namespace kevra {

FramePool::FramePool()
{
    for (int i = 0; i < kInitialRecords; ++i) {
        if (MediaFrame* r = make())
            free_.push_back(r);
    }
}

FramePool::~FramePool() = default;

MediaFrame* FramePool::make()
{
    try {
        auto rec = std::make_unique<MediaFrame>();   // value-initialised: all zero
        MediaFrame* raw = rec.get();
        all_.push_back(std::move(rec));
        return raw;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

MediaFrame* FramePool::take()
{
    if (!free_.empty()) {
        MediaFrame* r = free_.front();
        free_.pop_front();
        return r;
    }
    return make();
}

void FramePool::release(MediaFrame* record)
{
    if (record)
        free_.push_back(record);
}

void FramePool::pushReady(MediaFrame* record)
{
    if (record)
        ready_.push_back(record);
}

MediaFrame* FramePool::popReady()
{
    if (ready_.empty())
        return nullptr;
    MediaFrame* r = ready_.front();
    ready_.pop_front();
    return r;
}

void FramePool::releaseAllReady()
{
    while (!ready_.empty()) {
        free_.push_back(ready_.front());
        ready_.pop_front();
    }
}

}   // namespace kevra
