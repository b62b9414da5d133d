// The simulated recorder's running cameras: one CameraStream per channel and picture stream that
// some media connection watches, each channel's pan position, and the frames a burst fault holds
// back. Used only on the server's loop thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "CameraStream.h"
#include "EventLog.h"
#include "RecorderOptions.h"

namespace kevra {

class CameraSet {
public:
    using Clock = std::chrono::steady_clock;
    using Key = std::pair<int, int>;   // channel, stream number (1 or 2)
    // Hands one frame to the connections watching (channel, stream); header is the stream header
    // a connection gets before its first frame (may be empty).
    using Send = std::function<void(int channel, int stream, const std::vector<uint8_t>& header,
                                    const std::vector<uint8_t>& frame, bool key, int64_t number)>;

    CameraSet(const RecorderOptions& options, EventLog& log) : options_(options), log_(log) {}

    // The time the burst fault's period counts from.
    void start(Clock::time_point now) { started_ = now; }
    // Ends the cameras not in `wanted` and opens the missing ones (pictures from `source`, or
    // drawn when null). Returns the channels whose encoder did not open.
    std::vector<int> update(const std::set<Key>& wanted, Clock::time_point now,
                            const AnnexBSource* source);
    // How long the loop may wait for the next due frame, at most `limit`.
    std::chrono::milliseconds wait(Clock::time_point now, std::chrono::milliseconds limit) const;
    // Sends each camera's due frames, or holds them while a burst fault stalls.
    void streamFrames(Clock::time_point now, const Send& send);
    // Moves the channel's scene one pan step for a PTZ action (0 up, 1 down, 2 left, 3 right) and
    // sets `x`, `y` to the new position. Returns the first frame number that shows it, or -1.
    int64_t pan(int channel, int action, int& x, int& y);
    void requestKeyFrames(int channel);
    void clear() { cameras_.clear(); }

private:
    struct HeldFrame {
        std::vector<uint8_t> bytes;
        bool key;
        int64_t number;
    };
    // True while --fault-burst holds media back.
    bool burstStalled(Clock::time_point now) const;

    const RecorderOptions& options_;
    EventLog& log_;
    Clock::time_point started_{};
    std::map<Key, std::unique_ptr<CameraStream>> cameras_;
    std::map<Key, std::deque<HeldFrame>> held_;   // frames a burst stall holds back
    std::map<int, std::pair<int, int>> pan_;      // channel -> pan steps
};

}   // namespace kevra
