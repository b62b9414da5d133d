#include "app/RecorderSession.h"

#include "app/LoginFailure.h"
#include "app/Viewer.h"
#include "app/ViewerLog.h"
#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "device/ResultCode.h"
#include "device/TcpLink.h"
#include "profile/Language.h"

#include <utility>

namespace kevra {

namespace {

// Failures of the way to the recorder, not answers of the recorder: worth retrying.
bool unreachable(int code)
{
    using namespace result_code;
    return code == CONNECT_FAILED || code == LOGIN_TIMEOUT || code == LOGIN_NOT_SENT ||
           code == HOST_UNRESOLVED;
}

}   // namespace

RecorderSession::RecorderSession(int index, RecorderList::Recorder recorder, Post post,
                                 bool autoReconnect)
    : index_(index), recorder_(std::move(recorder)), post_(std::move(post))
{
    recovery_.setEnabled(autoReconnect);
}

RecorderSession::~RecorderSession()
{
    shutdown();
    *alive_ = false;
}

void RecorderSession::later(std::function<void()> work)
{
    post_([alive = alive_, work = std::move(work)] {
        if (*alive)
            work();
    });
}

// ---------------------------------------------------------------- network thread

void RecorderSession::onLogin(int code, int)
{
    // Reported right after the session's connect on this thread: its system error, if any.
    const int systemError = TcpLink::lastConnectError();
    later([this, code, systemError] { loginResult(code, systemError); });
}

void RecorderSession::onList(int code, const uint8_t* block, int length, int count)
{
    std::vector<std::u16string> names = Viewer::splitNames(block, length, count);
    later([this, code, names = std::move(names)]() mutable {
        camerasListed(code, std::move(names));
    });
}

void RecorderSession::onChannel(int channel, int code)
{
    later([this, channel, code] { openResult(channel, code); });
}

void RecorderSession::onConnectionLost()
{
    later([this] { sessionLost(); });
}

void RecorderSession::onChannelClosed(int channel)
{
    later([this, channel] { channelClosed(channel); });
}

// ---------------------------------------------------------------- user-interface thread

void RecorderSession::start()
{
    if (client_)
        return;
    client_ = std::make_unique<DeviceClient>();
    client_->setSink(this);
    failureCode_ = 0;
    everConnected_ = false;
    setState(State::LoggingIn);
    sendLogin(false);
}

void RecorderSession::shutdown()
{
    if (!client_)
        return;
    recovery_.cancel();
    for (const auto& [channel, streamed] : sinks_)
        client_->stopChannel(channel);
    client_->setSink(nullptr);
    client_->shutdown();
    client_.reset();
    logins_.clear();
    setState(State::Idle);
}

void RecorderSession::poll()
{
    if (!client_)
        return;
    recovery_.poll();
    const int seconds = secondsLeft();
    if (seconds != shownSeconds_) {
        shownSeconds_ = seconds;
        changed();
    }
}

void RecorderSession::sendLogin(bool retry)
{
    if (!client_)
        return;
    logins_.push_back(retry);
    if (retry)
        client_->logout();   // whatever is left of the lost session goes first
    client_->login(toUtf8(recorder_.ip), recorder_.port, toUtf8(recorder_.user),
                   toUtf8(recorder_.password), kLoginTimeoutMs);
}

void RecorderSession::loginResult(int code, int systemError)
{
    if (logins_.empty())
        return;   // sent before a shutdown
    const bool retry = logins_.front();
    logins_.pop_front();
    if (code == result_code::OK) {
        if (retry && !recovery_.onLoginResult(code))
            return;
        ViewerLog::event("recorder " + toUtf8(name()) + ": logged in");
        failureCode_ = 0;
        everConnected_ = true;
        setState(State::Connected);
        client_->queryList();
        return;
    }
    failureCode_ = code;
    systemError_ = systemError;
    ViewerLog::detail("recorder " + toUtf8(name()) + ": login failed: " + describeResult(code));
    if (retry) {
        recovery_.onLoginResult(code);   // the next try is scheduled
        changed();
    } else if (unreachable(code) && recovery_.onConnectionLost()) {
        setState(State::Reconnecting);   // not reached yet: tried again on the schedule
    } else {
        setState(State::Failed);
    }
}

void RecorderSession::camerasListed(int code, std::vector<std::u16string> names)
{
    if (code != result_code::OK || state_ != State::Connected)
        return;
    cameraNames_ = std::move(names);
    // After the first login the cameras asked for meanwhile open now; after a recovered
    // session the recovery has what was streamed reopened.
    if (!recovery_.sessionRecovering())
        reopenShown();
    recovery_.onCameraList();
    changed();
}

void RecorderSession::openResult(int channel, int code)
{
    recovery_.onOpenResult(channel, code);
    if (opened_ && sinks_.count(channel))
        opened_(channel, code);
}

void RecorderSession::sessionLost()
{
    if (!client_ || state_ != State::Connected)
        return;
    ViewerLog::event("recorder " + toUtf8(name()) + ": connection lost");
    failureCode_ = 0;
    if (recovery_.onConnectionLost()) {
        setState(State::Reconnecting);
    } else {
        client_->logout();
        setState(State::Failed);
    }
}

void RecorderSession::channelClosed(int channel)
{
    if (sinks_.count(channel))
        recovery_.onChannelClosed(channel);
}

void RecorderSession::openStream(int channel, int stream, MediaSink* sink)
{
    sinks_[channel] = Streamed{sink, stream};
    if (client_ && state_ == State::Connected && !recovery_.sessionRecovering())
        client_->openChannel(channel, stream, sink);
}

void RecorderSession::stopStream(int channel)
{
    if (sinks_.erase(channel) == 0)
        return;
    // A stream the reopen restarts keeps its retry schedule: the open's result ends or
    // advances it.
    if (channel != reopening_)
        recovery_.forgetChannel(channel);
    if (client_)
        client_->stopChannel(channel);
}

void RecorderSession::cameraSilent(int channel)
{
    if (sinks_.count(channel) && state_ == State::Connected)
        recovery_.onChannelClosed(channel);
}

void RecorderSession::ptz(int channel, int code)
{
    if (client_ && state_ == State::Connected)
        client_->ptz(channel, code, 0);
}

void RecorderSession::reopenShown()
{
    // The caller's reopen may stop and open streams: the channels are taken first.
    std::vector<int> channels;
    for (const auto& [channel, streamed] : sinks_)
        if (size_t(channel) < cameraNames_.size())
            channels.push_back(channel);
    for (int channel : channels)
        reopenChannel(channel);
}

void RecorderSession::reopenChannel(int channel)
{
    const auto it = sinks_.find(channel);
    if (!client_ || it == sinks_.end())
        return;
    if (reopen_) {
        reopening_ = channel;
        reopen_(channel);
        reopening_ = -1;
    } else {
        client_->openChannel(channel, it->second.stream, it->second.sink);
    }
}

// ---------------------------------------------------------------- state

void RecorderSession::setState(State state)
{
    state_ = state;
    changed();
}

void RecorderSession::changed()
{
    if (changed_)
        changed_();
}

int RecorderSession::secondsLeft() const
{
    if (state_ != State::Reconnecting || !recovery_.sessionRecovering())
        return 0;
    return recovery_.sessionSecondsLeft();
}

std::u16string RecorderSession::stateText() const
{
    const std::u16string reason =
        failureCode_ ? Language::text(LoginFailure::key(failureCode_, systemError_)) : u"";
    switch (state_) {
    case State::Idle: return u"";
    case State::LoggingIn: return Language::text(u"NVR_CONNECTING");
    case State::Connected: return Language::text(u"NVR_ONLINE");
    case State::Reconnecting: {
        std::u16string text = secondsLeft() > 0 ? Language::format(u"NVR_RETRY_IN", {secondsLeft()})
                                                : Language::text(u"NVR_RETRYING");
        // The reason helps set a recorder up; one that worked and went away is just away (a
        // refused connection then means it is not running, not that the port is wrong).
        if (!reason.empty() && !everConnected_)
            text += u" (" + reason + u")";
        return text;
    }
    case State::Failed:
        return reason.empty() ? Language::text(u"LINK_LOST")
                              : Language::text(u"NVR_REFUSED") + u" " + reason;
    }
    return u"";
}

}   // namespace kevra
