// A held camera-move key as one steady move: the command goes out when the key goes down and
// again every kStepMs while it stays down, at the viewer's pace rather than the keyboard's
// auto-repeat (which starts late and runs at the platform's rate); the key going up, or the
// window losing the keyboard, ends it and nothing more is sent. The recorder's PTZ message
// moves a step per command and has no stop of its own, so ending the steps is the stop.
// Pure state on the millisecond clock; the viewer's user-interface thread and the gateway's PTZ
// motion each own their instances.
#pragma once
#include "common/PtzCode.h"

#include <cstdint>
#include <optional>

namespace kevra {

class PtzHold {
public:
    static constexpr uint64_t kStepMs = 150;

    // A key went down (not a repeat): the hold moves to this key and command; true when the
    // command is to be sent now (always, for a new key).
    bool press(int key, PtzCode code, uint64_t nowMs);
    // The key went up (a repeat's release does not count): true when a hold ended.
    bool release(int key);
    // The window lost the keyboard: whatever is held ends.
    bool cancel();
    // The command to send now while held and a step is due, else none.
    std::optional<PtzCode> due(uint64_t nowMs);

    bool held() const { return key_ != 0; }
    PtzCode code() const { return code_; }

private:
    int key_ = 0;
    PtzCode code_ = PtzCode::Up;   // meaningful while held
    uint64_t nextMs_ = 0;
};

}   // namespace kevra
