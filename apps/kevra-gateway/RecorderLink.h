// One recorder behind the gateway: its DeviceClient (network thread), the login and the camera
// list, one CameraHub per camera, and a control thread that opens a camera's channel while its
// hub wants it and closes it after, and logs in again after a loss on the viewer's schedule
// (1, 2, 4, 8, 16 s, then every 30 s) while RTSP clients stay connected.
// The owner (main thread) calls start() and stop(). Device events arrive on the network thread
// and are queued under eventsMutex_ for the control thread, which alone calls the DeviceClient;
// the camera table is guarded by camerasMutex_.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraPublisher.h"
#include "GatewayOptions.h"
#include "PtzSink.h"
#include "Secrets.h"
#include "app/Reconnector.h"
#include "device/DeviceEvents.h"

namespace kevra {
class DeviceClient;
}

namespace kevra::gateway {

class CameraHub;

class RecorderLink : public DeviceEvents, public PtzSink {
public:
    static constexpr int kLoginTimeoutMs = 10000;
    static constexpr int kStepMs = 20;

    struct Camera {
        std::string path;   // "/NAME/N"
        std::string name;   // as the recorder lists it
        std::shared_ptr<CameraHub> hub;
    };

    RecorderLink(RecorderAddress address, Credentials login, uint64_t idleCloseMs,
                 CameraPublisher& publisher);
    ~RecorderLink() override;   // stop()
    RecorderLink(const RecorderLink&) = delete;
    RecorderLink& operator=(const RecorderLink&) = delete;

    void start();
    // Closes every channel and the session and joins both threads.
    void stop();

    // Waits until the first login and list are done (or failed). True when cameras are known.
    bool waitFirstList(int timeoutMs);
    std::vector<Camera> cameras() const;
    const RecorderAddress& address() const { return address_; }

    // The link as the status page, API and metrics show it (any thread; a copy).
    struct Status {
        enum class State { Connecting, Up, Down };
        State state = State::Connecting;
        int64_t sinceUnixMs = 0;   // when it entered that state (wall clock)
        std::string lastError;     // the last login failure or loss, in words; "" if none
        uint64_t logins = 0;       // successful logins
        uint64_t loginFailures = 0;
        uint64_t losses = 0;   // connections lost after a login (each one a reconnect)
    };
    Status status() const;

    // DeviceEvents (network thread): queued for the control thread.
    void onLogin(int code, int channelCount) override;
    void onList(int code, const uint8_t* block, int length, int count) override;
    void onChannel(int channel, int code) override;
    void onConnectionLost() override;
    void onChannelClosed(int channel) override;

    // PtzSink (any thread): one step for the camera on `channel`, queued for the control
    // thread. A camera nobody watches has its channel opened for the step (the recorder takes
    // PTZ commands only for channels with a media connection) and kept for the idle time.
    void ptz(int channel, int code) override;

private:
    struct Event {
        enum Kind { Login, List, Channel, Lost, ChannelClosed, Ptz } kind;
        int code = 0;
        int value = 0;   // channel count or channel
        std::vector<std::string> names;
    };
    struct ChannelState {
        bool open = false;
        Reconnector retry;   // after a failed open or a channel the recorder closed
    };
    enum class State { LoggingIn, Up, Down };

    void post(Event event);
    void controlLoop();
    void handle(const Event& e);
    void updateCameras(int count, const std::vector<std::string>& names);
    void steerChannels();
    void closeAll();
    void login();
    void setStatus(Status::State state, const std::string& error);

    const RecorderAddress address_;
    const Credentials credentials_;
    const uint64_t idleCloseMs_;
    CameraPublisher& publisher_;

    std::unique_ptr<DeviceClient> client_;   // control thread (and start/stop)
    std::thread control_;
    std::atomic<bool> running_{false};

    std::mutex eventsMutex_;
    std::condition_variable eventsChanged_;
    std::deque<Event> events_;     // guarded by eventsMutex_
    bool firstListDone_ = false;   // guarded by eventsMutex_

    mutable std::mutex camerasMutex_;
    std::vector<Camera> cameras_;   // guarded by camerasMutex_; the control thread writes

    // Control thread only.
    State state_ = State::LoggingIn;
    bool everUp_ = false;
    bool lost_ = false;
    int lastFailure_ = 0;
    int channelCount_ = 0;
    Reconnector relogin_;
    std::map<int, ChannelState> channels_;

    mutable std::mutex statusMutex_;
    Status status_;   // guarded by statusMutex_; the control thread writes
};

}   // namespace kevra::gateway
