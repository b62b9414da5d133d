#include "app/RecoveryController.h"

#include "common/Clock.h"
#include "profile/Language.h"

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
    paused_ = true;
    session_.pause();
    for (auto& [channel, r] : channels_)
        r.pause();
    refresh();
}

void RecoveryController::resume()
{
    paused_ = false;
    session_.resume();
    for (auto& [channel, r] : channels_)
        r.resume();
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

std::u16string RecoveryController::text() const
{
    using State = Reconnector::State;
    // Each text stands alone and fits one status line of the narrowest screen.
    if (session_.active()) {
        if (session_.state() == State::Waiting)
            return Language::format(u"RECONNECT_IN", {session_.secondsLeft(), session_.attempt()});
        if (session_.state() == State::Trying)
            return Language::format(u"RECONNECTING", {session_.attempt()});
        return Language::text(u"LINK_LOST");
    }
    if (awaitingList_ || channels_.empty())
        return {};
    const Reconnector& r = channels_.begin()->second;
    if (r.state() == State::Waiting)
        return Language::format(u"MEDIA_REOPEN", {r.secondsLeft(), r.attempt()});
    if (r.state() == State::Trying)
        return Language::format(u"MEDIA_REOPENING", {r.attempt()});
    return {};   // paused: the login dialog is in front
}

void RecoveryController::refresh()
{
    std::u16string t = text();
    if (t == shownText_)
        return;
    shownText_ = std::move(t);
    host_.showRecoveryText(shownText_);
}

}   // namespace kevra
