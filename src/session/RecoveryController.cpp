#include "session/RecoveryController.h"

#include "common/Clock.h"

#include <array>

namespace kevra {

void RecoveryController::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (!enabled)
        cancel();
}

bool RecoveryController::onConnectionLost()
{
    if (!enabled_)
        return false;
    channels_.clear();
    awaitingList_ = false;
    // A loss during a try (its login was accepted, then the link dropped) counts as its failure.
    if (session_.state() == Reconnector::State::Trying && !loginInFlight_)
        session_.failed();
    session_.begin();
    if (paused_)
        session_.pause();
    refresh();
    return true;
}

bool RecoveryController::onLoginResult(int code)
{
    if (!loginInFlight_)
        return false;
    loginInFlight_ = false;
    if (code == 0) {
        session_.succeeded();
        awaitingList_ = true;
        loggedInMs_ = Clock::nowMs();
    } else if (session_.state() == Reconnector::State::Trying) {
        session_.failed();
    }
    refresh();
    return true;
}

void RecoveryController::onCameraList()
{
    if (!awaitingList_)
        return;
    awaitingList_ = false;
    refresh();
    host_.reopenShown();
}

void RecoveryController::onChannelClosed(int channel)
{
    if (!enabled_ || sessionRecovering())
        return;
    Reconnector& r = channels_[channel];
    r.begin();
    if (paused_)
        r.pause();
    refresh();
}

void RecoveryController::onOpenResult(int channel, int code)
{
    auto it = channels_.find(channel);
    if (it == channels_.end())
        return;
    if (code == 0)
        channels_.erase(it);
    else
        it->second.failed();
    refresh();
}

void RecoveryController::forgetChannel(int channel)
{
    if (channels_.erase(channel))
        refresh();
}

void RecoveryController::pause()
{
    hold(true);
}

void RecoveryController::resume()
{
    hold(false);
}

void RecoveryController::hold(bool paused)
{
    paused_ = paused;
    const auto apply = [paused](Reconnector& r) { paused ? r.pause() : r.resume(); };
    apply(session_);
    for (auto& [channel, r] : channels_)
        apply(r);
    refresh();
}

void RecoveryController::cancel()
{
    session_.cancel();
    loginInFlight_ = false;
    awaitingList_ = false;
    channels_.clear();
    refresh();
}

void RecoveryController::poll()
{
    // A list that never comes must not keep the camera closed on a working session.
    if (awaitingList_ && Clock::nowMs() - loggedInMs_ >= kListWaitMs)
        onCameraList();
    if (session_.takeDue()) {
        loginInFlight_ = true;
        host_.loginWithSavedSettings();
    }
    if (!sessionRecovering()) {
        for (auto& [channel, r] : channels_)
            if (r.takeDue())
                host_.reopenChannel(channel);
    }
    refresh();
}

void RecoveryController::refresh()
{
    // What a caller may show of the schedules: told once per change.
    const Reconnector* channel = channels_.empty() ? nullptr : &channels_.begin()->second;
    const std::array<int, 7> shown{int(session_.state()),
                                   session_.attempt(),
                                   session_.secondsLeft(),
                                   awaitingList_,
                                   channel ? int(channel->state()) + 1 : 0,
                                   channel ? channel->attempt() : 0,
                                   channel ? channel->secondsLeft() : 0};
    if (shown == shown_)
        return;
    shown_ = shown;
    host_.recoveryChanged();
}

}   // namespace kevra
