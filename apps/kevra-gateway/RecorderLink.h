// One recorder behind the gateway: its RecorderSession (login, camera list, retries on the
// schedule 1, 2, 4, 8, 16 s then every 30 s, channels) and one CameraHub per camera it lists;
// the hub of a camera with clients gets its channel, one left idle loses it, and RTSP clients
// stay connected while the recorder is away.
// Threads: the owner (main thread) calls start() and stop(); the link's ControlThread owns the
// session, runs its posted work and steers the channels. The camera table and the first-list
// flag are guarded by camerasMutex_; cameras(), status() and waitFirstList() may be called from
// any thread.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CameraPublisher.h"
#include "ControlThread.h"
#include "GatewayOptions.h"
#include "PtzSink.h"
#include "RecorderReport.h"
#include "Secrets.h"
#include "session/RecorderSession.h"

namespace kevra::gateway {

class CameraHub;

class RecorderLink : public PtzSink, private RecorderSession::Listener {
public:
    static constexpr int kStepMs = 20;

    struct Camera {
        std::string path;   // "/NAME/N"
        std::string name;   // as the recorder lists it
        std::shared_ptr<CameraHub> hub;
    };
    RecorderLink(RecorderAddress address, Credentials login, uint64_t idleCloseMs,
                 CameraPublisher& publisher)
        : address_(std::move(address)), credentials_(std::move(login)), idleCloseMs_(idleCloseMs),
          publisher_(publisher)
    {
    }
    ~RecorderLink() override { stop(); }
    RecorderLink(const RecorderLink&) = delete;
    RecorderLink& operator=(const RecorderLink&) = delete;

    void start();
    // Closes every channel and the session and joins the threads.
    void stop() { control_.stop(); }

    // Waits until the first login and list are done (or failed). True when cameras are known.
    bool waitFirstList(int timeoutMs);
    std::vector<Camera> cameras() const
    {
        std::lock_guard<std::mutex> lock(camerasMutex_);
        return cameras_;
    }
    // The link as the status page, API and metrics show it (any thread; a copy).
    using Status = RecorderReport::Status;
    Status status() const { return report_.status(); }
    // True while logged in (any thread).
    bool up() const { return status().state == Status::State::Up; }
    const RecorderAddress& address() const { return address_; }

    // PtzSink (any thread): one step for the camera on `channel`, queued for the control
    // thread. A camera nobody watches has its channel opened for the step (the recorder takes
    // PTZ commands only for channels with a media connection) and kept for the idle time.
    void ptz(int channel, int code) override;

private:
    void openSession();
    void firstListDone()
    {
        std::lock_guard<std::mutex> lock(camerasMutex_);
        firstListDone_ = true;
        listed_.notify_all();
    }
    void updateCameras();
    void steerChannels();

    // RecorderSession::Listener (control thread).
    void loginResult(RecorderSession&, int code, int systemError, bool first) override;
    void camerasListed(RecorderSession&, int code) override;
    void sessionLost(RecorderSession&) override;
    void streamOpened(RecorderSession&, int channel, int code) override;
    bool streamClosed(RecorderSession&, int channel) override;

    const RecorderAddress address_;
    const Credentials credentials_;
    const uint64_t idleCloseMs_;
    CameraPublisher& publisher_;

    mutable std::mutex camerasMutex_;
    std::condition_variable listed_;
    std::vector<Camera> cameras_;   // guarded by camerasMutex_; the control thread writes
    bool firstListDone_ = false;    // guarded by camerasMutex_
    ControlThread control_;         // last: stopped first

    RecorderReport report_{address_};
    std::unique_ptr<RecorderSession> session_;   // control thread only
};

}   // namespace kevra::gateway
