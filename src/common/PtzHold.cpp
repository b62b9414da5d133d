#include "common/PtzHold.h"

namespace kevra {

bool PtzHold::press(int key, PtzCode code, uint64_t nowMs)
{
    key_ = key;
    code_ = code;
    nextMs_ = nowMs + kStepMs;
    return true;
}

bool PtzHold::release(int key)
{
    if (key_ == 0 || key != key_)
        return false;
    return cancel();
}

bool PtzHold::cancel()
{
    const bool was = key_ != 0;
    key_ = 0;
    return was;
}

std::optional<PtzCode> PtzHold::due(uint64_t nowMs)
{
    if (key_ == 0 || nowMs < nextMs_)
        return std::nullopt;
    // One step per call however late the timer ran: a stalled timer must not burst steps.
    nextMs_ = nowMs + kStepMs;
    return code_;
}

}   // namespace kevra
