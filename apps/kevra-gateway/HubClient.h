// One RTSP client's end of a camera hub: takes the camera's frames with timestamps on the
// client's own timeline. Called by the hub under the hub's mutex, on the recorder link's network
// thread (new frames) or the client's own streaming thread (the cached frames when it attaches).
// Neither call may block or call back into the hub.
#pragma once
#include <cstdint>

#include "OutFrame.h"

namespace kevra::gateway {

class HubClient {
public:
    virtual ~HubClient() = default;
    // Queues one frame at `ptsUs`. False when the client's queue is over its bound: the hub
    // then detaches it and calls end(true).
    virtual bool deliver(const OutFramePtr& frame, int64_t ptsUs) = 0;
    // The hub let the client go: it could not keep up (`slow`), or the camera's codec changed
    // so its session cannot go on. The client's connection should be closed soon, elsewhere.
    virtual void end(bool slow) = 0;
};

}   // namespace kevra::gateway
