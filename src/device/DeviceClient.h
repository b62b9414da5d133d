// The program's link to one recorder: owns the session and the network worker thread, which the
// owner starts by constructing and stops with shutdown() (or the destructor) on its own thread.
// User-interface calls only queue requests; the network thread carries them out, polls the
// connections, reports results through the DeviceEvents sink and hands each open channel's media
// to the MediaSink given for that channel. The media-sink table is guarded by sinksMutex_, which
// the network thread also holds during every call into a media sink.
#pragma once
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/WorkerThread.h"
#include "device/ClientRequest.h"
#include "device/DeviceEvents.h"
#include "device/DeviceSession.h"
#include "device/MediaSink.h"

namespace kevra {

class DeviceClient : public DeviceEvents, public MediaSink {
public:
    static constexpr int kIdleSleepMs = 10;
    static constexpr int kStepIdle = 8;   // workerStep: nothing came in and no request was waiting

    DeviceClient();             // the network thread runs from here
    ~DeviceClient() override;   // shutdown()
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    // Joins the network thread and closes every connection. Requests still queued are dropped.
    // Call on the thread that owns the client; later calls do nothing.
    void shutdown();

    // Sets the user interface's sink. When it returns, no call into the previous sink is
    // still running (unless called from inside such a call on the network thread).
    void setSink(DeviceEvents* sink);
    // User-interface thread: each call queues one request and returns at once.
    void login(const std::string& host, int port, const std::string& user,
               const std::string& password, int timeoutMs);
    void logout();
    void queryList();
    void ptz(int channel, int code, int parameter);
    // Starts the channel's stream; its media goes to sink from now on (it replaces the channel's
    // earlier sink). Other channels keep streaming to their own sinks. The sink must stay alive
    // until stopChannel(channel) or shutdown() has returned.
    void openChannel(int channel, int stream, MediaSink* sink);
    // Stops the channel's stream at the recorder (queued) and forgets its sink: when this
    // returns no call into that sink is under way and none follows. The channel's connection
    // stays claimed for a later open. Never call it from inside a media-sink call.
    void stopChannel(int channel);
    // As stopChannel, and the channel's media connection is closed too, so the recorder no
    // longer holds the channel for this client (for clients that open channels on demand).
    void closeChannel(int channel);
    // True while a sink is set for the channel (any thread).
    bool hasMediaSink(int channel);

    // DeviceEvents, called by the session on the network thread.
    void onLogin(int code, int channelCount, int systemError) override;
    void onList(int code, const uint8_t* block, int length, int count) override;
    void onChannel(int channel, int code) override;
    void onConnectionLost() override;
    void onChannelClosed(int channel) override;
    // MediaSink, called by the session on the network thread: routed to the channel's sink.
    void onStreamStarted(int channel) override;
    void onMediaBytes(int channel, const uint8_t* bytes, int length) override;
    void onStreamStopped(int channel) override;

private:
    void post(ClientRequest request);
    void post(int32_t kind, int32_t a = 0, int32_t b = 0, int32_t c = 0);
    // Drops the channel's sink (the network thread finds none from now on).
    void forgetSink(int channel);
    void dispatch(ClientRequest& request);
    template <typename Call>
    void toSink(Call call);
    template <typename Call>
    void toMediaSink(int channel, Call call);
    int workerStep();
    void workerLoop();

    std::unique_ptr<DeviceSession> session_;
    WorkerThread thread_;
    std::atomic<bool> running_{false};
    std::atomic<DeviceEvents*> sink_{nullptr};
    std::atomic<int> sinkCalls_{0};   // calls into the sink under way
    std::atomic<std::thread::id> networkThreadId_{};

    std::mutex sinksMutex_;
    std::map<int, MediaSink*> mediaSinks_;   // channel -> its sink, guarded by sinksMutex_
};

}   // namespace kevra
