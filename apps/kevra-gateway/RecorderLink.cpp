#include "RecorderLink.h"

#include <chrono>

#include "CameraHub.h"
#include "GatewayLog.h"
#include "common/Clock.h"
#include "device/ResultCode.h"

namespace kevra::gateway {

void RecorderLink::start()
{
    control_.start(
        kStepMs, [this] { openSession(); },
        [this] {
            session_->poll();
            if (session_->connected())
                steerChannels();
        },
        [this] {
            session_->shutdown();   // every channel closed, the network thread joined
            for (const Camera& cam : cameras())
                cam.hub->streamLost();
            session_.reset();
        });
}

bool RecorderLink::waitFirstList(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(camerasMutex_);
    listed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return firstListDone_; });
    return !cameras_.empty();
}

void RecorderLink::openSession()
{
    // Every failure is retried, and the recorder sees an idle camera let go.
    const RecorderSession::Options options{.firstFailure =
                                               RecorderSession::Options::FirstFailure::RetryAll,
                                           .closeOnStop = true,
                                           .retryRefusedOpen = true};
    session_ = std::make_unique<RecorderSession>(
        address_.name,
        RecorderSession::Login{address_.host, address_.port, credentials_.user,
                               credentials_.password},
        [this](std::function<void()> work) { control_.post(std::move(work)); }, options);
    session_->setListener(this);
    session_->start();
    report_.started(*session_, credentials_.user);
}

void RecorderLink::ptz(int channel, int code)
{
    control_.post([this, channel, code] {
        const std::vector<Camera> cams = cameras();
        if (!session_ || !session_->connected() || channel < 0 || size_t(channel) >= cams.size())
            return;
        cams[size_t(channel)].hub->keepOpen(Clock::nowMs());
        steerChannels();   // the open goes out ahead of the step
        session_->ptz(channel, code);
    });
}

void RecorderLink::loginResult(RecorderSession& s, int code, int systemError, bool)
{
    report_.loginResult(s, code, systemError);
    if (code != result_code::OK && !s.everConnected())
        firstListDone();
}

void RecorderLink::camerasListed(RecorderSession&, int code)
{
    if (code != result_code::OK)
        report_.listRefused(code);
    updateCameras();
    firstListDone();
}

void RecorderLink::sessionLost(RecorderSession& s)
{
    report_.lost(s);
    for (const Camera& cam : cameras())
        cam.hub->streamLost();   // its clients stay; the channel opens again with the session
}

void RecorderLink::streamOpened(RecorderSession& s, int channel, int code)
{
    if (code != result_code::OK && s.streaming(channel))
        report_.openRefused(channel, code);
}

bool RecorderLink::streamClosed(RecorderSession& s, int channel)
{
    if (!s.streaming(channel))
        return false;
    report_.mediaClosed(channel);
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
    bool listedBefore;
    {
        std::lock_guard<std::mutex> lock(camerasMutex_);
        listedBefore = firstListDone_;
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

}   // namespace kevra::gateway
