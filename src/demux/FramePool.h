// The records of one parser: a ready queue (finished frames, stream order) and a free queue
// (records for reuse). Owns every record it ever made; used by the decoder thread only.
#pragma once
#include "demux/MediaFrame.h"

#include <deque>
#include <memory>
#include <vector>

namespace kevra {

class FramePool {
public:
    static constexpr int kInitialRecords = 10;

    FramePool();
    ~FramePool();
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // Front of the free queue (not cleared: it keeps the fields of its last use), or a new
    // zero-filled record when the free queue is empty. nullptr only when memory runs out.
    MediaFrame* take();
    // Appends to the back of the free queue. The record must have come from this pool.
    void release(MediaFrame* record);
    // Appends to the back of the ready queue.
    void pushReady(MediaFrame* record);
    // Front of the ready queue (removed), or nullptr.
    MediaFrame* popReady();
    // Moves every ready record to the free queue, in order.
    void releaseAllReady();
    int readyCount() const { return static_cast<int>(ready_.size()); }
    int freeCount() const { return static_cast<int>(free_.size()); }
    // Records made so far (both queues plus records in use).
    int totalCount() const { return static_cast<int>(all_.size()); }

private:
    MediaFrame* make();

    std::vector<std::unique_ptr<MediaFrame>> all_;   // owner of every record
    std::deque<MediaFrame*> ready_;
    std::deque<MediaFrame*> free_;
};

}   // namespace kevra
