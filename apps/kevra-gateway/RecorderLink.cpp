#include "RecorderLink.h"

#include <chrono>

#include "CameraHub.h"
#include "GatewayLog.h"
#include "common/Clock.h"
#include "device/DeviceClient.h"
#include "device/Messages.h"
#include "device/ResultCode.h"

namespace kevra::gateway {

RecorderLink::RecorderLink(RecorderAddress address, Credentials login, uint64_t idleCloseMs,
                           CameraPublisher& publisher)
    : address_(std::move(address)), credentials_(std::move(login)), idleCloseMs_(idleCloseMs),
      publisher_(publisher)
{
}

RecorderLink::~RecorderLink()
{
    stop();
}

RecorderLink::Status RecorderLink::status() const
{
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

void RecorderLink::setStatus(Status::State state, const std::string& error)
{
    std::lock_guard<std::mutex> lock(statusMutex_);
    if (status_.state != state || status_.sinceUnixMs == 0)
        status_.sinceUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    status_.state = state;
    if (!error.empty())
        status_.lastError = error;
    if (state == Status::State::Up)
        ++status_.logins;
}

void RecorderLink::start()
{
    setStatus(Status::State::Connecting, "");
    if (running_)
        return;
    client_ = std::make_unique<DeviceClient>();
    client_->setSink(this);
    running_ = true;
    control_ = std::thread([this] { controlLoop(); });
}

void RecorderLink::stop()
{
    if (!running_.exchange(false))
        return;
    eventsChanged_.notify_all();
    control_.join();
    client_->shutdown();
    client_.reset();
}

bool RecorderLink::waitFirstList(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(eventsMutex_);
    eventsChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return firstListDone_; });
    std::lock_guard<std::mutex> cams(camerasMutex_);
    return !cameras_.empty();
}

std::vector<RecorderLink::Camera> RecorderLink::cameras() const
{
    std::lock_guard<std::mutex> lock(camerasMutex_);
    return cameras_;
}

void RecorderLink::post(Event event)
{
    std::lock_guard<std::mutex> lock(eventsMutex_);
    events_.push_back(std::move(event));
    eventsChanged_.notify_all();
}

void RecorderLink::onLogin(int code, int channelCount)
{
    post({Event::Login, code, channelCount, {}});
}

void RecorderLink::onList(int code, const uint8_t* block, int length, int count)
{
    Event e{Event::List, code, count, {}};
    if (code == result_code::OK)
        e.names = nameListItems(block, length, count);
    post(std::move(e));
}

void RecorderLink::onChannel(int channel, int code)
{
    post({Event::Channel, code, channel, {}});
}

void RecorderLink::onConnectionLost()
{
    post({Event::Lost, 0, 0, {}});
}

void RecorderLink::onChannelClosed(int channel)
{
    post({Event::ChannelClosed, 0, channel, {}});
}

void RecorderLink::ptz(int channel, int code)
{
    post({Event::Ptz, code, channel, {}});
}

void RecorderLink::login()
{
    state_ = State::LoggingIn;
    GatewayLog::detail("recorder " + address_.name + ": logging in to " + address_.host + ":" +
                       std::to_string(address_.port) + " as " + credentials_.user);
    client_->login(address_.host, address_.port, credentials_.user, credentials_.password,
                   kLoginTimeoutMs);
}

void RecorderLink::controlLoop()
{
    login();
    while (running_) {
        std::deque<Event> batch;
        {
            std::unique_lock<std::mutex> lock(eventsMutex_);
            eventsChanged_.wait_for(lock, std::chrono::milliseconds(kStepMs),
                                    [&] { return !events_.empty() || !running_; });
            batch.swap(events_);
        }
        for (const Event& e : batch)
            handle(e);
        if (!running_)
            break;
        if (state_ == State::Down && relogin_.takeDue())
            login();
        if (state_ == State::Up)
            steerChannels();
    }
    closeAll();
    client_->logout();
}

void RecorderLink::handle(const Event& e)
{
    const std::string who = "recorder " + address_.name;
    switch (e.kind) {
    case Event::Login:
        if (state_ != State::LoggingIn)
            break;
        if (e.code == result_code::OK) {
            state_ = State::Up;
            relogin_.succeeded();
            channelCount_ = e.value;
            if (lost_)
                GatewayLog::line(who + " back (" + std::to_string(e.value) + " cameras)");
            else
                GatewayLog::line(who + ": logged in to " + address_.host + ":" +
                                 std::to_string(address_.port) + " (" + std::to_string(e.value) +
                                 " cameras)");
            lost_ = false;
            everUp_ = true;
            setStatus(Status::State::Up, "");
            client_->queryList();
        } else {
            state_ = State::Down;
            // The first failure of a run is logged, repeats of the same one only in detail.
            std::string text = who + ": login to " + address_.host + ":" +
                               std::to_string(address_.port) + " failed: " + describeResult(e.code);
            if (e.code != lastFailure_)
                GatewayLog::line(text);
            else
                GatewayLog::detail(text);
            lastFailure_ = e.code;
            {
                std::lock_guard<std::mutex> lock(statusMutex_);
                ++status_.loginFailures;
            }
            setStatus(Status::State::Down, "login failed: " + describeResult(e.code));
            if (relogin_.active())
                relogin_.failed();
            else
                relogin_.begin();
            if (!everUp_) {
                std::lock_guard<std::mutex> lock(eventsMutex_);
                firstListDone_ = true;
                eventsChanged_.notify_all();
            }
        }
        break;
    case Event::List: {
        std::vector<std::string> names = e.names;
        if (e.code != result_code::OK)
            GatewayLog::detail(who + ": no camera list (" +
                               describeResult(e.code, ResultEvent::List) +
                               "), cameras are named by number");
        updateCameras(channelCount_, names);
        std::lock_guard<std::mutex> lock(eventsMutex_);
        firstListDone_ = true;
        eventsChanged_.notify_all();
        break;
    }
    case Event::Channel: {
        auto it = channels_.find(e.value);
        if (it == channels_.end() || e.code == result_code::OK)
            break;
        GatewayLog::line(
            "camera /" + address_.name + "/" + std::to_string(e.value + 1) +
            ": the recorder did not open it: " + describeResult(e.code, ResultEvent::Channel));
        it->second.open = false;
        client_->closeChannel(e.value);
        it->second.retry.begin();
        break;
    }
    case Event::Lost:
        if (state_ == State::Down)
            break;
        GatewayLog::line(who + " lost; logging in again in 1, 2, 4, 8, 16 s, then every 30 s");
        lost_ = true;
        lastFailure_ = 0;
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            ++status_.losses;
        }
        setStatus(Status::State::Down, "connection lost");
        closeAll();
        state_ = State::Down;
        relogin_.begin();
        break;
    case Event::Ptz: {
        if (state_ != State::Up)
            break;
        std::shared_ptr<CameraHub> hub;
        {
            std::lock_guard<std::mutex> lock(camerasMutex_);
            if (e.value >= 0 && size_t(e.value) < cameras_.size())
                hub = cameras_[size_t(e.value)].hub;
        }
        if (!hub)
            break;
        hub->keepOpen(Clock::nowMs());
        if (!channels_[e.value].open)
            steerChannels();   // the open goes out ahead of the step
        client_->ptz(e.value, e.code, 0);
        break;
    }
    case Event::ChannelClosed: {
        auto it = channels_.find(e.value);
        if (it == channels_.end() || !it->second.open)
            break;
        GatewayLog::line("camera /" + address_.name + "/" + std::to_string(e.value + 1) +
                         ": the recorder closed its media connection; opening it again");
        it->second.open = false;
        client_->closeChannel(e.value);
        std::lock_guard<std::mutex> lock(camerasMutex_);
        if (size_t(e.value) < cameras_.size())
            cameras_[size_t(e.value)].hub->streamLost();
        it->second.retry.begin();
        break;
    }
    }
}

void RecorderLink::updateCameras(int count, const std::vector<std::string>& names)
{
    if (count < 0)
        count = 0;
    std::vector<std::shared_ptr<CameraHub>> added;
    std::vector<std::string> removed;
    {
        std::lock_guard<std::mutex> lock(camerasMutex_);
        while (cameras_.size() > size_t(count)) {
            removed.push_back(cameras_.back().path);
            cameras_.pop_back();
        }
        for (int i = 0; i < count; ++i) {
            std::string name = size_t(i) < names.size() && !names[size_t(i)].empty()
                                   ? names[size_t(i)]
                                   : "Camera " + std::to_string(i + 1);
            if (size_t(i) < cameras_.size()) {
                cameras_[size_t(i)].name = name;
                continue;
            }
            std::string path = "/" + address_.name + "/" + std::to_string(i + 1);
            auto hub = std::make_shared<CameraHub>(path, i, idleCloseMs_);
            cameras_.push_back({path, name, hub});
            added.push_back(hub);
        }
    }
    for (const std::string& path : removed) {
        int channel = std::stoi(path.substr(path.rfind('/') + 1)) - 1;
        auto it = channels_.find(channel);
        if (it != channels_.end() && it->second.open)
            client_->closeChannel(channel);
        channels_.erase(channel);
        publisher_.unpublish(path);
        GatewayLog::line("camera " + path + " is gone from the recorder's list");
    }
    bool listedBefore;
    {
        std::lock_guard<std::mutex> lock(eventsMutex_);
        listedBefore = firstListDone_;
    }
    for (const auto& hub : added) {
        channels_[hub->channel()];
        publisher_.publish(hub);
        // The first list is printed as URLs at start; cameras that come later are logged.
        if (listedBefore)
            GatewayLog::line("camera " + hub->path() + " is new in the recorder's list");
    }
}

void RecorderLink::steerChannels()
{
    std::vector<Camera> cams = cameras();
    uint64_t now = Clock::nowMs();
    for (const Camera& cam : cams) {
        int ch = cam.hub->channel();
        ChannelState& st = channels_[ch];
        bool wanted = cam.hub->wanted(now);
        if (wanted && !st.open) {
            if (st.retry.active() && !st.retry.takeDue())
                continue;
            st.retry.succeeded();
            st.open = true;
            client_->openChannel(ch, 0, cam.hub.get());
            GatewayLog::line("camera " + cam.path + ": channel opened");
        } else if (!wanted && st.open) {
            st.open = false;
            client_->closeChannel(ch);
            cam.hub->streamLost();
            GatewayLog::line("camera " + cam.path + ": channel closed (no client for " +
                             std::to_string(idleCloseMs_ / 1000) + " s)");
        } else if (!wanted && st.retry.active()) {
            st.retry.cancel();
        }
    }
}

void RecorderLink::closeAll()
{
    std::vector<Camera> cams = cameras();
    for (const Camera& cam : cams) {
        ChannelState& st = channels_[cam.hub->channel()];
        if (st.open && client_)
            client_->closeChannel(cam.hub->channel());
        st.open = false;
        st.retry.cancel();
        cam.hub->streamLost();
    }
}

}   // namespace kevra::gateway
