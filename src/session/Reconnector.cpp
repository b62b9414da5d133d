#include "session/Reconnector.h"

#include "common/Clock.h"

namespace kevra {

uint64_t Reconnector::delayBefore(int attempt)
{
    if (attempt < 1)
        attempt = 1;
    if (attempt > 5)
        return kLongestDelayMs;
    return uint64_t(1000) << (attempt - 1);
}

void Reconnector::scheduleNext()
{
    state_ = State::Waiting;
    dueMs_ = Clock::nowMs() + delayBefore(tries_ + 1);
}

void Reconnector::begin()
{
    if (state_ != State::Idle)
        return;
    tries_ = 0;
    scheduleNext();
}

bool Reconnector::takeDue()
{
    if (state_ != State::Waiting || Clock::nowMs() < dueMs_)
        return false;
    state_ = State::Trying;
    ++tries_;
    return true;
}

void Reconnector::failed()
{
    if (state_ == State::Trying)
        scheduleNext();
}

void Reconnector::succeeded()
{
    state_ = State::Idle;
    tries_ = 0;
}

void Reconnector::pause()
{
    if (state_ != State::Idle)
        state_ = State::Paused;
}

void Reconnector::resume()
{
    if (state_ == State::Paused)
        scheduleNext();
}

void Reconnector::cancel()
{
    succeeded();
}

int Reconnector::attempt() const
{
    switch (state_) {
    case State::Idle: return 0;
    case State::Trying: return tries_;
    default: return tries_ + 1;
    }
}

int Reconnector::secondsLeft() const
{
    if (state_ != State::Waiting)
        return 0;
    const uint64_t now = Clock::nowMs();
    if (now >= dueMs_)
        return 0;
    return static_cast<int>((dueMs_ - now + 999) / 1000);
}

}   // namespace kevra
