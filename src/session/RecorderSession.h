// One recorder: owns its DeviceClient (and so that recorder's network thread, started by
// start() and joined by shutdown()), its retry schedule (RecoveryController), its state and its
// camera list. A lost session, a refused login or a closed media connection of this recorder is
// retried on its own schedule and never touches another recorder's session or streams. Streams
// are opened for callers' media sinks (it is their StreamLink) and opened again after a loss
// once the camera list is back: by the owner when its listener takes the reopen, else here.
//
// Threads: the DeviceEvents calls arrive on this recorder's network thread and only hand work
// to the Post function given, which runs it on the owner's thread (the viewer's user-interface
// thread, the gateway's control thread); every other call, and every posted piece of work, runs
// on that thread. Posted work that arrives after the session was destroyed does nothing.
#pragma once
#include "device/DeviceEvents.h"
#include "session/RecoveryController.h"
#include "session/RecoveryHost.h"
#include "session/StreamLink.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kevra {

class DeviceClient;
class MediaSink;

class RecorderSession : public DeviceEvents, public StreamLink, private RecoveryHost {
public:
    enum class State {
        Idle,           // not started, or shut down
        LoggingIn,      // the first login is on its way
        Connected,      // logged in (the camera list follows)
        Reconnecting,   // lost or not reached: the retry schedule runs
        Failed,         // the first login failed for good, or lost with retries off
    };
    using Post = std::function<void(std::function<void()>)>;
    static constexpr int kLoginTimeoutMs = 10000;
    // The stream opened for a camera opened without a stream number (openCamera).
    static constexpr int kStream = 1;

    struct Login {
        std::string host;   // UTF-8
        int port = 0;
        std::string user, password;
        bool operator==(const Login&) const = default;
    };
    struct Options {
        bool autoReconnect = true;
        // What follows a failure of the first login: nothing (whoever asked reads the result),
        // the retry schedule for a recorder not reached (a refusal is final), or the schedule
        // for every failure.
        enum class FirstFailure { Final, RetryUnreachable, RetryAll };
        FirstFailure firstFailure = FirstFailure::RetryUnreachable;
        // Stopping a stream also closes its media connection, so the recorder sees the channel
        // let go (for callers that open channels on demand).
        bool closeOnStop = false;
        // A refused open of a streamed camera is tried again on the retry schedule.
        bool retryRefusedOpen = false;
    };
    // What the session tells its owner, on the owner's thread. Each call may read the session
    // back; none may destroy it.
    class Listener {
    public:
        virtual ~Listener() = default;
        // State, camera list or retry countdown changed.
        virtual void sessionChanged(RecorderSession&) {}
        // Every login result; first: the answer to start()'s login, not to a retry.
        virtual void loginResult(RecorderSession&, int /*code*/, int /*systemError*/,
                                 bool /*first*/)
        {
        }
        // The camera list came (code 0) or was refused; cameraNames() has the latest good one.
        virtual void camerasListed(RecorderSession&, int /*code*/) {}
        // The session was lost; state() says whether the retries run (Reconnecting) or not.
        virtual void sessionLost(RecorderSession&) {}
        // The session is back with its camera list: what was streamed is to be opened again.
        // True: the owner restarts its streams itself; false: each opens again as below.
        virtual bool reopenAll(RecorderSession&) { return false; }
        // A streamed camera is to be opened again (the session is back, or its media connection
        // closed or fell silent). True: the owner restarts the stream itself (openStream);
        // false: the session opens the channel again for the same sink.
        virtual bool reopenStream(RecorderSession&, int /*channel*/) { return false; }
        // The recorder's answer to opening a channel.
        virtual void streamOpened(RecorderSession&, int /*channel*/, int /*code*/) {}
        // The recorder closed a channel's media connection while the session stayed up. True:
        // it is reopened on the retry schedule (by default: when it is streamed here).
        virtual bool streamClosed(RecorderSession& s, int channel) { return s.streaming(channel); }
    };

    RecorderSession(std::string name, Login login, Post post, Options options);
    RecorderSession(std::string name, Login login, Post post);   // default options
    ~RecorderSession() override;                                 // shutdown()
    RecorderSession(const RecorderSession&) = delete;
    RecorderSession& operator=(const RecorderSession&) = delete;

    void setListener(Listener* listener) { listener_ = listener; }

    // Starts the network thread and sends the first login. Nothing when already started.
    void start();
    // Every stream stops, the retries end, the network thread is joined. Repeated calls do
    // nothing more; start() may follow.
    void shutdown();
    // A few times a second: due retries go out and the countdown is refreshed.
    void poll();
    // No retries while paused (a login by hand is being made); resume() lets them go on.
    void pause() { recovery_.pause(); }
    void resume() { recovery_.resume(); }
    // Off: a lost session is not logged in again (state Failed); the retries running end.
    void setAutoReconnect(bool on) { recovery_.setEnabled(on); }

    // Streams the camera to sink (which must outlive stopCamera or shutdown); while the session
    // is down it is only remembered and opens when the session is back.
    void openCamera(int channel, MediaSink* sink) { openStream(channel, kStream, sink); }
    // Stops the camera's stream at the recorder; when this returns no call into its sink is
    // under way and none follows.
    void stopCamera(int channel) { stopStream(channel); }
    // StreamLink: as openCamera and stopCamera, with the recorder's stream number.
    void openStream(int channel, int stream, MediaSink* sink) override;
    void stopStream(int channel) override;
    // The owner saw the camera's stream fall silent: it is reopened on the retry schedule
    // (while the session is up).
    void cameraSilent(int channel);
    // Whether the camera's reopen is waiting on the retry schedule.
    bool cameraRecovering(int channel) const { return recovery_.channelRecovering(channel); }
    // Pan, tilt, zoom, focus, iris: sent while the session is up.
    void ptz(int channel, int code);

    const std::string& name() const { return name_; }
    const Login& login() const { return login_; }
    State state() const { return state_; }
    bool connected() const { return state_ == State::Connected; }
    // Clock::nowMs() of the latest change of state.
    uint64_t sinceMs() const { return sinceMs_; }
    // Result code of the latest login failure (0 while none), and its connect's errno.
    int failureCode() const { return failureCode_; }
    int systemError() const { return systemError_; }
    // Logged in at least once since start(): a failure now is an absence, not a wrong setup.
    bool everConnected() const { return everConnected_; }
    // Logins accepted and sessions lost since start().
    int logins() const { return logins_; }
    int losses() const { return losses_; }
    // Whole seconds until the next retry while one is waiting; 0 otherwise.
    int secondsLeft() const;
    // Cameras the recorder reported at the latest login.
    int channelCount() const { return channelCount_; }
    // The recorder's cameras (the latest list; kept while the session is down).
    const std::vector<std::string>& cameraNames() const { return cameraNames_; }
    bool streaming(int channel) const { return sinks_.count(channel) != 0; }
    const RecoveryController& recovery() const { return recovery_; }

    // DeviceEvents (network thread): only posted.
    void onLogin(int code, int channelCount, int systemError) override;
    void onList(int code, const uint8_t* block, int length, int count) override;
    void onChannel(int channel, int code) override;
    void onConnectionLost() override;
    void onChannelClosed(int channel) override;

private:
    // Posted work (owner's thread).
    void loginResult(int code, int channelCount, int systemError);
    void camerasListed(int code, std::vector<std::string> names);
    void openResult(int channel, int code);
    void sessionLost();
    void channelClosed(int channel);

    void sendLogin(bool retry);
    void setState(State state);
    void changed();
    // Posts work that runs only while this session still exists.
    void later(std::function<void()> work);

    // RecoveryHost.
    void loginWithSavedSettings() override { sendLogin(true); }
    void reopenShown() override;
    void reopenChannel(int channel) override;
    void recoveryChanged() override { changed(); }

    const std::string name_;
    const Login login_;
    const Options options_;
    Post post_;
    Listener* listener_ = nullptr;
    int reopening_ = -1;   // the channel whose stream the owner restarts now
    // Checked by posted work before it touches this object (owner's thread only).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<DeviceClient> client_;
    RecoveryController recovery_{*this};
    std::deque<bool> sent_;   // logins sent, oldest first: true for a retry
    State state_ = State::Idle;
    uint64_t sinceMs_ = 0;
    int failureCode_ = 0;
    int systemError_ = 0;
    bool everConnected_ = false;
    int logins_ = 0;
    int losses_ = 0;
    int channelCount_ = 0;
    int shownSeconds_ = -1;
    std::vector<std::string> cameraNames_;
    struct Streamed {
        MediaSink* sink = nullptr;
        int stream = kStream;
    };
    std::map<int, Streamed> sinks_;   // cameras streamed, whether the session is up or not
};

}   // namespace kevra
