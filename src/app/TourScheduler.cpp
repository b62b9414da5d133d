#include "app/TourScheduler.h"

#include <algorithm>

namespace kevra {

int TourScheduler::clampDwell(int seconds)
{
    return std::clamp(seconds, TourSettings::kMinDwellS, TourSettings::kMaxDwellS);
}

bool TourScheduler::start(int pages, int current, int dwellS, uint64_t nowMs)
{
    if (pages < 2) {
        stop();
        return false;
    }
    pages_ = pages;
    current_ = std::clamp(current, 0, pages - 1);
    dwellS_ = clampDwell(dwellS);
    resume(nowMs);
    return true;
}

void TourScheduler::stop()
{
    state_ = State::Off;
    prepared_ = false;
}

void TourScheduler::pause()
{
    if (state_ == State::Running)
        state_ = State::Paused;
    prepared_ = false;
}

void TourScheduler::resume(uint64_t nowMs)
{
    if (pages_ < 2)
        return;
    state_ = State::Running;
    prepared_ = false;
    dueMs_ = nowMs + uint64_t(dwellS_) * 1000;
}

TourScheduler::Step TourScheduler::tick(uint64_t nowMs, bool nextReady)
{
    if (state_ != State::Running)
        return {};
    const uint64_t prepareAt = dueMs_ > kPrepareMs ? dueMs_ - kPrepareMs : 0;
    if (!prepared_) {
        if (nowMs < prepareAt)
            return {};
        prepared_ = true;
        return {Action::Prepare, next()};
    }
    if (nowMs < dueMs_ || (!nextReady && nowMs < dueMs_ + kReadyWaitMs))
        return {};
    current_ = next();
    prepared_ = false;
    // The dwell counts from the switch, so a late picture does not shorten the next turn.
    dueMs_ = nowMs + uint64_t(dwellS_) * 1000;
    return {Action::Show, current_};
}

int TourScheduler::secondsLeft(uint64_t nowMs) const
{
    if (state_ != State::Running || nowMs >= dueMs_)
        return 0;
    return int((dueMs_ - nowMs + 999) / 1000);
}

}   // namespace kevra
