// One recorder behind the gateway: its RecorderSession (login, camera list, retries on the
// schedule 1, 2, 4, 8, 16 s then every 30 s, channels) and one CameraHub per camera it lists;
// the hub of a camera with clients gets its channel, one left idle loses it, and RTSP clients
// stay connected while the recorder is away.
// Threads: the owner (main thread) calls start() and stop(); the link's ControlThread owns the
// session, runs its posted work and steers the channels. The camera table, the status and the
// first-list flag are guarded by camerasMutex_; cameras(), status() and waitFirstList() may be
// called from any thread.
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
#include "Secrets.h"
#include "session/RecorderSession.h"

namespace kevra::gateway {

class CameraHub;

class RecorderLink : private RecorderSession::Listener {
public:
    static constexpr int kStepMs = 20;

    struct Camera {
        std::string path;   // "/NAME/N"
        std::string name;   // as the recorder lists it
        std::shared_ptr<CameraHub> hub;
    };
    // What the link can tell of itself, taken on the control thread.
    struct Status {
        RecorderSession::State state = RecorderSession::State::Idle;
        uint64_t sinceMs = 0;   // Clock::nowMs() of the latest change of state
        int lastError = 0;      // result code of the latest failed login, 0 while none
        int systemError = 0;    // its connect's errno
        int logins = 0;         // accepted since start
        int reconnects = 0;     // sessions lost since start
        struct CameraFigures {
            std::string path, name;
            bool streaming = false;
            int clients = 0;
            uint64_t framesOut = 0;
        };
        std::vector<CameraFigures> cameras;
    };

    RecorderLink(RecorderAddress address, Credentials login, uint64_t idleCloseMs,
                 CameraPublisher& publisher);
    ~RecorderLink() override;   // stop()
    RecorderLink(const RecorderLink&) = delete;
    RecorderLink& operator=(const RecorderLink&) = delete;

    void start();
    // Closes every channel and the session and joins the threads.
    void stop();

    // Waits until the first login and list are done (or failed). True when cameras are known.
    bool waitFirstList(int timeoutMs);
    std::vector<Camera> cameras() const;
    Status status() const;
    const RecorderAddress& address() const { return address_; }

private:
    void openSession();
    void firstListDone();
    void updateCameras();
    void steerChannels();
    void takeStatus();

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
    Status status_;                 // guarded by camerasMutex_
    bool firstListDone_ = false;    // guarded by camerasMutex_
    ControlThread control_;         // last: stopped first

    // Control thread only.
    std::unique_ptr<RecorderSession> session_;
    bool lost_ = false;
    int lastFailure_ = 0;
};

}   // namespace kevra::gateway
