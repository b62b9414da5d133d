#include "RecorderReport.h"

#include <chrono>

#include "GatewayLog.h"
#include "device/Messages.h"
#include "device/ResultCode.h"
#include "session/RecorderSession.h"

namespace kevra::gateway {

void RecorderReport::started(const RecorderSession& s, const std::string& user)
{
    GatewayLog::detail("recorder " + address_.name + ": logging in to " + address_.host + ":" +
                       std::to_string(address_.port) + " as " + user);
    update(s);
}

void RecorderReport::loginResult(const RecorderSession& s, int code, int systemError)
{
    const std::string who = "recorder " + address_.name;
    const std::string where = address_.host + ":" + std::to_string(address_.port);
    if (code == result_code::OK) {
        const std::string count = " (" + std::to_string(s.channelCount()) + " cameras)";
        GatewayLog::line(lost_ ? who + " back" + count : who + ": logged in to " + where + count);
        lost_ = false;
        update(s);
        return;
    }
    // The first failure of a run is logged, repeats of the same one only in detail.
    const std::string reason = describeLoginResult(code, systemError);
    const std::string text = who + ": login to " + where + " failed: " + reason;
    code != lastFailure_ ? GatewayLog::line(text) : GatewayLog::detail(text);
    lastFailure_ = code;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++status_.loginFailures;
    }
    update(s, "login failed: " + reason);
}

void RecorderReport::lost(const RecorderSession& s)
{
    GatewayLog::line("recorder " + address_.name +
                     " lost; logging in again in 1, 2, 4, 8, 16 s, then every 30 s");
    lost_ = true;
    lastFailure_ = 0;
    update(s, "connection lost");
}

void RecorderReport::listRefused(int code)
{
    GatewayLog::detail("recorder " + address_.name + ": no camera list (" +
                       describeResult(code, ResultEvent::List) + "), cameras are named by number");
}

void RecorderReport::openRefused(int channel, int code)
{
    GatewayLog::line(camera(channel) + ": the recorder did not open it: " +
                     describeResult(code, ResultEvent::Channel));
}

void RecorderReport::mediaClosed(int channel)
{
    GatewayLog::line(camera(channel) +
                     ": the recorder closed its media connection; opening it again");
}

std::string RecorderReport::camera(int channel) const
{
    return "camera /" + address_.name + "/" + std::to_string(channel + 1);
}

RecorderReport::Status RecorderReport::status() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

void RecorderReport::update(const RecorderSession& s, const std::string& error)
{
    using State = RecorderSession::State;
    const Status::State state = s.state() == State::Connected   ? Status::State::Up
                                : s.state() == State::LoggingIn ? Status::State::Connecting
                                                                : Status::State::Down;
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.state != state || status_.sinceUnixMs == 0)
        status_.sinceUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    status_.state = state;
    if (!error.empty())
        status_.lastError = error;
    status_.logins = uint64_t(s.logins());
    status_.losses = uint64_t(s.losses());
}

}   // namespace kevra::gateway
