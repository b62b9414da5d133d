// One recorder of the viewer's list: owns its DeviceClient (and so that recorder's network
// thread, started by start() and joined by shutdown()) and its own RecoveryController, so a
// lost session, a refused login or a closed media connection of this recorder is retried on
// its own schedule and never touches another recorder's session or streams. Streams are opened
// for callers' media sinks (it is their StreamLink) and opened again after a loss once the camera
// list is back: by the caller when it asked to be told (setReopen), else here.
//
// Threads: the DeviceEvents calls arrive on this recorder's network thread and only post work
// through the Post function given (to the user-interface thread); every other call, and every
// posted piece of work, runs on the user-interface thread. Posted work that arrives after the
// session was destroyed does nothing.
#pragma once
#include "app/RecoveryController.h"
#include "app/RecoveryHost.h"
#include "app/StreamLink.h"
#include "device/DeviceEvents.h"
#include "profile/RecorderList.h"

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
        Failed,         // the recorder refused the login (no retries), or lost with retries off
    };
    using Post = std::function<void(std::function<void()>)>;
    static constexpr int kLoginTimeoutMs = 10000;
    // The stream opened for a camera opened without a stream number (openCamera).
    static constexpr int kStream = 1;

    // index: the recorder's place in the list; post runs work on the user-interface thread.
    RecorderSession(int index, RecorderList::Recorder recorder, Post post,
                    bool autoReconnect = true);
    ~RecorderSession() override;   // shutdown()
    RecorderSession(const RecorderSession&) = delete;
    RecorderSession& operator=(const RecorderSession&) = delete;

    // Called after every change of state, camera list or retry countdown a caller may show.
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }
    // A streamed camera is to be opened again (the session is back, or its media connection
    // closed or fell silent): the caller restarts its stream with openStream. Without it the
    // session opens the channel again itself for the same sink.
    void setReopen(std::function<void(int channel)> reopen) { reopen_ = std::move(reopen); }
    // The recorder's answer to opening a channel.
    void setOpened(std::function<void(int channel, int code)> opened)
    {
        opened_ = std::move(opened);
    }

    // Starts the network thread and sends the first login. Nothing when already started.
    void start();
    // Every stream stops, the retries end, the network thread is joined. Repeated calls do
    // nothing more; start() may follow.
    void shutdown();
    // A few times a second: due retries go out and the countdown is refreshed.
    void poll();

    // Streams the camera to sink (which must outlive stopCamera or shutdown); while the session
    // is down it is only remembered and opens when the session is back.
    void openCamera(int channel, MediaSink* sink) { openStream(channel, kStream, sink); }
    // Stops the camera's stream at the recorder; when this returns no call into its sink is
    // under way and none follows.
    void stopCamera(int channel) { stopStream(channel); }
    // StreamLink: as openCamera and stopCamera, with the recorder's stream number.
    void openStream(int channel, int stream, MediaSink* sink) override;
    void stopStream(int channel) override;
    // The caller saw the camera's stream fall silent: it is reopened on the retry schedule.
    void cameraSilent(int channel);
    // Whether the camera's reopen is waiting on the retry schedule.
    bool cameraRecovering(int channel) const { return recovery_.channelRecovering(channel); }
    // Pan, tilt, zoom, focus, iris: sent while the session is up.
    void ptz(int channel, int code);

    int index() const { return index_; }
    const RecorderList::Recorder& recorder() const { return recorder_; }
    std::u16string name() const { return RecorderList::displayName(recorder_); }
    State state() const { return state_; }
    // Login result code of the latest failure (0 while none), and its connect's errno.
    int failureCode() const { return failureCode_; }
    // Whole seconds until the next retry while one is waiting; 0 otherwise.
    int secondsLeft() const;
    // The state in the user's language: "connected", "reconnecting in 4 s", "login failed:
    // Wrong password".
    std::u16string stateText() const;
    // The recorder's cameras (the latest list; kept while the session is down).
    const std::vector<std::u16string>& cameraNames() const { return cameraNames_; }
    bool streaming(int channel) const { return sinks_.count(channel) != 0; }
    RecoveryController& recovery() { return recovery_; }

    // DeviceEvents (network thread): only posted.
    void onLogin(int code, int channelCount) override;
    void onList(int code, const uint8_t* block, int length, int count) override;
    void onChannel(int channel, int code) override;
    void onConnectionLost() override;
    void onChannelClosed(int channel) override;

private:
    // Posted work (user-interface thread).
    void loginResult(int code, int systemError);
    void camerasListed(int code, std::vector<std::u16string> names);
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
    void showRecoveryText(const std::u16string&) override { changed(); }

    const int index_;
    const RecorderList::Recorder recorder_;
    Post post_;
    std::function<void()> changed_;
    std::function<void(int)> reopen_;
    std::function<void(int, int)> opened_;
    int reopening_ = -1;   // the channel whose stream the caller restarts now
    // Checked by posted work before it touches this object (user-interface thread only).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<DeviceClient> client_;
    RecoveryController recovery_{*this};
    std::deque<bool> logins_;   // logins sent, oldest first: true for a retry
    State state_ = State::Idle;
    int failureCode_ = 0;
    bool everConnected_ = false;   // logged in at least once since start()
    int systemError_ = 0;
    int shownSeconds_ = -1;
    std::vector<std::u16string> cameraNames_;
    struct Streamed {
        MediaSink* sink = nullptr;
        int stream = kStream;
    };
    std::map<int, Streamed> sinks_;   // cameras streamed, whether the session is up or not
};

}   // namespace kevra
