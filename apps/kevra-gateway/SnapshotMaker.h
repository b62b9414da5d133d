// Makes a camera's current picture as JPEG: decodes the kept frames (a key frame and those
// after it) with libavcodec and encodes the last picture with libjpeg-turbo. Remembers the
// last answer per camera, so repeated requests between two frames cost nothing.
// Used by one thread at a time (the snapshot worker, or a test).
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "OutFrame.h"

namespace kevra::gateway {

class SnapshotMaker {
public:
    static constexpr int kQuality = 85;

    SnapshotMaker();
    ~SnapshotMaker();
    SnapshotMaker(const SnapshotMaker&) = delete;
    SnapshotMaker& operator=(const SnapshotMaker&) = delete;

    // The JPEG of the picture after `frames` (from a key frame on), or "" with the reason in
    // `why`. `camera` names the cache entry.
    std::string jpeg(const std::string& camera, const std::vector<OutFramePtr>& frames,
                     std::string& why);

private:
    struct Last {
        const OutFrame* frame = nullptr;   // compared only
        OutFramePtr keep;                  // keeps `frame` alive so the address stays unique
        std::string jpeg;
    };
    void* compressor_ = nullptr;   // tjhandle
    std::map<std::string, Last> last_;
};

}   // namespace kevra::gateway
