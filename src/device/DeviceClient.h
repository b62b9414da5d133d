// The program's one link to the recorder: owns the session, the decoder worker and the network
// worker thread. User-interface calls only queue requests; the network thread carries them out,
// polls the connections and reports through the sink. Current channel and the running flag
// are shared between the two threads as atomics.
#pragma once
#include <atomic>
#include <thread>
#include <memory>
#include <string>

#include "common/WorkerThread.h"
#include "device/ClientRequest.h"
#include "device/DeviceEvents.h"
#include "device/DeviceSession.h"
#include "video/DecoderWorker.h"

namespace kevra {

class DeviceClient : public DeviceEvents {
public:
    static constexpr int kIdleSleepMs = 10;

    // The one client of the program, created on first use and kept until exit.
    static DeviceClient& instance();

    DeviceClient();  // tests and tools may construct their own
    ~DeviceClient() override;
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    // Sets the user interface's sink. When it returns, no call into the previous sink is
    // still running (unless called from inside such a call on the network thread).
    void setSink(DeviceEvents* sink);
    // User-interface thread: each call queues one request and returns at once.
    void login(const std::string& host, int port, const std::string& user,
               const std::string& password, int timeoutMs);
    void logout();
    void queryList();
    void openChannel(int channel, int stream);
    void ptz(int channel, int code, int parameter);

    DecoderWorker& decoder() { return *decoder_; }
    int currentChannel() const { return current_.load(); }
    // Sees (on the network thread, during the call) every media piece that went into the
    // decoder's input queue, e.g. to record a capture. Set it before opening a channel.
    void setMediaObserver(DeviceEvents* observer) { mediaObserver_.store(observer); }

    // DeviceEvents, called by the session on the network thread.
    void onLogin(int code, int channelCount) override;
    void onList(int code, const uint8_t* block, int length, int count) override;
    void onMedia(int channel, const uint8_t* bytes, int length) override;
    void onChannel(int channel, int code) override;
    void onConnectionLost() override;
    void onChannelClosed(int channel) override;

private:
    void post(ClientRequest request);
    void dispatch(ClientRequest& request);
    template <typename Call> void toSink(Call call);
    int workerStep();
    void workerLoop();

    // Destroyed in reverse order: the thread is joined first (destructor), then the session
    // goes, then the decoder.
    std::unique_ptr<DecoderWorker> decoder_;
    std::unique_ptr<DeviceSession> session_;
    WorkerThread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int> current_{-1};
    std::atomic<DeviceEvents*> sink_{nullptr};
    std::atomic<int> sinkCalls_{0};               // calls into the sink under way
    std::atomic<std::thread::id> networkThreadId_{};
    std::atomic<DeviceEvents*> mediaObserver_{nullptr};
};

} // namespace kevra
