#include "RecorderLink.h"

#include <chrono>

#include "CameraHub.h"
#include "GatewayLog.h"
#include "common/Clock.h"
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

void RecorderLink::start()
{
    control_.start(
        kStepMs, [this] { openSession(); },
        [this] {
            session_->poll();
            if (session_->state() == RecorderSession::State::Connected)
                steerChannels();
            takeStatus();
        },
        [this] {
            session_->shutdown();   // every channel closed, the network thread joined
            for (const Camera& cam : cameras())
                cam.hub->streamLost();
            session_.reset();
        });
}

void RecorderLink::stop()
{
    control_.stop();
}

bool RecorderLink::waitFirstList(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(camerasMutex_);
    listed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return firstListDone_; });
    return !cameras_.empty();
}

std::vector<RecorderLink::Camera> RecorderLink::cameras() const
{
    std::lock_guard<std::mutex> lock(camerasMutex_);
    return cameras_;
}

RecorderLink::Status RecorderLink::status() const
{
    std::lock_guard<std::mutex> lock(camerasMutex_);
    return status_;
}

void RecorderLink::firstListDone()
{
    std::lock_guard<std::mutex> lock(camerasMutex_);
    firstListDone_ = true;
    listed_.notify_all();
}

void RecorderLink::openSession()
{
    RecorderSession::Options options;
    options.firstFailure = RecorderSession::Options::FirstFailure::RetryAll;
    options.closeOnStop = true;   // the recorder sees an idle camera let go
    options.retryRefusedOpen = true;
    session_ = std::make_unique<RecorderSession>(
        address_.name,
        RecorderSession::Login{address_.host, address_.port, credentials_.user,
                               credentials_.password},
        [this](std::function<void()> work) { control_.post(std::move(work)); }, options);
    session_->setListener(this);
    GatewayLog::detail("recorder " + address_.name + ": logging in to " + address_.host + ":" +
                       std::to_string(address_.port) + " as " + credentials_.user);
    session_->start();
}

void RecorderLink::loginResult(RecorderSession& s, int code, int, bool)
{
    const std::string who = "recorder " + address_.name;
    const std::string where = address_.host + ":" + std::to_string(address_.port);
    if (code == result_code::OK) {
        const std::string count = " (" + std::to_string(s.channelCount()) + " cameras)";
        GatewayLog::line(lost_ ? who + " back" + count : who + ": logged in to " + where + count);
        lost_ = false;
        return;
    }
    // The first failure of a run is logged, repeats of the same one only in detail.
    const std::string text = who + ": login to " + where + " failed: " + describeResult(code);
    code != lastFailure_ ? GatewayLog::line(text) : GatewayLog::detail(text);
    lastFailure_ = code;
    if (!s.everConnected())
        firstListDone();
}

void RecorderLink::camerasListed(RecorderSession&, int code)
{
    if (code != result_code::OK)
        GatewayLog::detail("recorder " + address_.name + ": no camera list (" +
                           describeResult(code, ResultEvent::List) +
                           "), cameras are named by number");
    updateCameras();
    firstListDone();
}

void RecorderLink::sessionLost(RecorderSession&)
{
    GatewayLog::line("recorder " + address_.name +
                     " lost; logging in again in 1, 2, 4, 8, 16 s, then every 30 s");
    lost_ = true;
    lastFailure_ = 0;
    for (const Camera& cam : cameras())
        cam.hub->streamLost();   // its clients stay; the channel opens again with the session
}

void RecorderLink::streamOpened(RecorderSession& s, int channel, int code)
{
    if (code != result_code::OK && s.streaming(channel))
        GatewayLog::line(
            "camera /" + address_.name + "/" + std::to_string(channel + 1) +
            ": the recorder did not open it: " + describeResult(code, ResultEvent::Channel));
}

bool RecorderLink::streamClosed(RecorderSession& s, int channel)
{
    if (!s.streaming(channel))
        return false;
    GatewayLog::line("camera /" + address_.name + "/" + std::to_string(channel + 1) +
                     ": the recorder closed its media connection; opening it again");
    std::lock_guard<std::mutex> lock(camerasMutex_);
    if (size_t(channel) < cameras_.size())
        cameras_[size_t(channel)].hub->streamLost();
    return true;
}

void RecorderLink::updateCameras()
{
    const int count = std::max(session_->channelCount(), 0);
    const std::vector<std::string>& names = session_->cameraNames();
    std::vector<std::shared_ptr<CameraHub>> added;
    std::vector<Camera> removed;
    {
        std::lock_guard<std::mutex> lock(camerasMutex_);
        while (cameras_.size() > size_t(count)) {
            removed.push_back(cameras_.back());
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
    for (const Camera& cam : removed) {
        session_->stopStream(cam.hub->channel());
        publisher_.unpublish(cam.path);
        GatewayLog::line("camera " + cam.path + " is gone from the recorder's list");
    }
    bool listedBefore;
    {
        std::lock_guard<std::mutex> lock(camerasMutex_);
        listedBefore = firstListDone_;
    }
    for (const auto& hub : added) {
        publisher_.publish(hub);
        // The first list is printed as URLs at start; cameras that come later are logged.
        if (listedBefore)
            GatewayLog::line("camera " + hub->path() + " is new in the recorder's list");
    }
}

void RecorderLink::steerChannels()
{
    const uint64_t now = Clock::nowMs();
    for (const Camera& cam : cameras()) {
        const int channel = cam.hub->channel();
        const bool wanted = cam.hub->wanted(now);
        if (wanted && !session_->streaming(channel)) {
            session_->openStream(channel, 0, cam.hub.get());
            GatewayLog::line("camera " + cam.path + ": channel opened");
        } else if (!wanted && session_->streaming(channel)) {
            session_->stopStream(channel);
            cam.hub->streamLost();
            GatewayLog::line("camera " + cam.path + ": channel closed (no client for " +
                             std::to_string(idleCloseMs_ / 1000) + " s)");
        }
    }
}

void RecorderLink::takeStatus()
{
    std::vector<Status::CameraFigures> figures;
    for (const Camera& cam : cameras())
        figures.push_back({cam.path, cam.name, session_->streaming(cam.hub->channel()),
                           cam.hub->clientCount(), cam.hub->framesOut()});
    std::lock_guard<std::mutex> lock(camerasMutex_);
    status_.state = session_->state();
    status_.sinceMs = session_->sinceMs();
    status_.lastError = session_->failureCode();
    status_.systemError = session_->systemError();
    status_.logins = session_->logins();
    status_.reconnects = session_->losses();
    status_.cameras = std::move(figures);
}

}   // namespace kevra::gateway
