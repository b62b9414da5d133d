#include "session/RecorderSession.h"

#include "common/Clock.h"
#include "device/DeviceClient.h"
#include "device/Messages.h"
#include "device/ResultCode.h"

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

RecorderSession::RecorderSession(std::string name, Login login, Post post, Options options)
    : name_(std::move(name)), login_(std::move(login)), options_(options), post_(std::move(post))
{
    recovery_.setEnabled(options_.autoReconnect);
}

RecorderSession::RecorderSession(std::string name, Login login, Post post)
    : RecorderSession(std::move(name), std::move(login), std::move(post), Options{})
{
}

RecorderSession::~RecorderSession()
{
    listener_ = nullptr;   // nothing is told while it ends: the owner may be ending too
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

void RecorderSession::onLogin(int code, int channelCount, int systemError)
{
    later(
        [this, code, channelCount, systemError] { loginResult(code, channelCount, systemError); });
}

void RecorderSession::onList(int code, const uint8_t* block, int length, int count)
{
    // The names are copied now: the block lives only during this call.
    std::vector<std::string> names =
        code == result_code::OK ? nameListItems(block, length, count) : std::vector<std::string>{};
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

// ---------------------------------------------------------------- owner's thread

void RecorderSession::start()
{
    if (client_)
        return;
    client_ = std::make_unique<DeviceClient>();
    client_->setSink(this);
    failureCode_ = systemError_ = 0;
    everConnected_ = false;
    logins_ = losses_ = 0;
    setState(State::LoggingIn);
    sendLogin(false);
}

void RecorderSession::shutdown()
{
    if (!client_)
        return;
    recovery_.cancel();
    for (const auto& [channel, streamed] : sinks_)
        options_.closeOnStop ? client_->closeChannel(channel) : client_->stopChannel(channel);
    client_->setSink(nullptr);
    client_->shutdown();
    client_.reset();
    sent_.clear();
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
    sent_.push_back(retry);
    if (retry)
        client_->logout();   // whatever is left of the lost session goes first
    client_->login(login_.host, login_.port, login_.user, login_.password, kLoginTimeoutMs);
}

void RecorderSession::loginResult(int code, int channelCount, int systemError)
{
    if (sent_.empty())
        return;   // sent before a shutdown
    const bool retry = sent_.front();
    sent_.pop_front();
    if (code == result_code::OK) {
        if (retry && !recovery_.onLoginResult(code))
            return;
        failureCode_ = systemError_ = 0;
        everConnected_ = true;
        ++logins_;
        channelCount_ = channelCount;
        setState(State::Connected);
        client_->queryList();
    } else {
        failureCode_ = code;
        systemError_ = systemError;
        using FirstFailure = Options::FirstFailure;
        const bool again =
            options_.firstFailure == FirstFailure::RetryAll ||
            (options_.firstFailure == FirstFailure::RetryUnreachable && unreachable(code));
        if (retry) {
            recovery_.onLoginResult(code);   // the next try is scheduled
            changed();
        } else if (again && recovery_.onConnectionLost()) {
            setState(State::Reconnecting);   // not reached yet: tried again on the schedule
        } else {
            setState(State::Failed);
        }
    }
    if (listener_)
        listener_->loginResult(*this, code, systemError, !retry);
}

void RecorderSession::camerasListed(int code, std::vector<std::string> names)
{
    if (state_ != State::Connected)
        return;
    if (code == result_code::OK)
        cameraNames_ = std::move(names);
    // After the first login the cameras asked for meanwhile open now; after a recovered
    // session the recovery has what was streamed reopened.
    if (!recovery_.sessionRecovering())
        reopenShown();
    recovery_.onCameraList();
    if (listener_)
        listener_->camerasListed(*this, code);
    changed();
}

void RecorderSession::openResult(int channel, int code)
{
    const bool retrying = recovery_.channelRecovering(channel);
    recovery_.onOpenResult(channel, code);
    if (sinks_.count(channel) && code != result_code::OK && options_.retryRefusedOpen &&
        state_ == State::Connected) {
        if (options_.closeOnStop)
            client_->closeChannel(channel);
        if (!retrying)
            recovery_.onChannelClosed(channel);
    }
    if (listener_)
        listener_->streamOpened(*this, channel, code);
}

void RecorderSession::sessionLost()
{
    if (!client_ || state_ != State::Connected)
        return;
    failureCode_ = systemError_ = 0;
    ++losses_;
    if (recovery_.onConnectionLost()) {
        setState(State::Reconnecting);
    } else {
        client_->logout();
        setState(State::Failed);
    }
    if (listener_)
        listener_->sessionLost(*this);
}

void RecorderSession::channelClosed(int channel)
{
    if (state_ != State::Connected)
        return;
    if (!(listener_ ? listener_->streamClosed(*this, channel) : streaming(channel)))
        return;
    if (options_.closeOnStop)
        client_->closeChannel(channel);
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
        options_.closeOnStop ? client_->closeChannel(channel) : client_->stopChannel(channel);
}

void RecorderSession::cameraSilent(int channel)
{
    if (state_ == State::Connected)
        recovery_.onChannelClosed(channel);
}

void RecorderSession::ptz(int channel, int code)
{
    if (client_ && state_ == State::Connected)
        client_->ptz(channel, code, 0);
}

void RecorderSession::reopenShown()
{
    if (listener_ && listener_->reopenAll(*this))
        return;
    // The owner's reopen may stop and open streams: the channels are taken first.
    std::vector<int> channels;
    for (const auto& [channel, streamed] : sinks_)
        if (channel < channelCount_ || size_t(channel) < cameraNames_.size())
            channels.push_back(channel);
    for (int channel : channels)
        reopenChannel(channel);
}

void RecorderSession::reopenChannel(int channel)
{
    if (!client_)
        return;
    reopening_ = channel;
    const bool taken = listener_ && listener_->reopenStream(*this, channel);
    reopening_ = -1;
    const auto it = sinks_.find(channel);
    if (!taken && it != sinks_.end())
        client_->openChannel(channel, it->second.stream, it->second.sink);
}

// ---------------------------------------------------------------- state

void RecorderSession::setState(State state)
{
    if (state != state_)
        sinceMs_ = Clock::nowMs();
    state_ = state;
    changed();
}

void RecorderSession::changed()
{
    if (listener_)
        listener_->sessionChanged(*this);
}

int RecorderSession::secondsLeft() const
{
    if (state_ != State::Reconnecting || !recovery_.sessionRecovering())
        return 0;
    return recovery_.sessionSecondsLeft();
}

}   // namespace kevra
