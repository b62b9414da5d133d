// The device client as the fault tests and the soak drive it: one DeviceClient (its own network
// worker thread) whose results land in an EventLog, and the viewer's channel device (its decoder
// worker) as the sink of the channel opened; the log also sees the media through a tee. Requests
// are posted from the test thread; the log is filled on the network thread.
#pragma once
#include <chrono>
#include <string>
#include <thread>

#include "device/DeviceClient.h"
#include "device/support/EventLog.h"
#include "video/DecoderWorker.h"

namespace kevra {

class FaultClient {
public:
    FaultClient() { client.setSink(&log); }
    ~FaultClient()
    {
        stopChannel();
        client.setSink(nullptr);
        client.logout();
        settle();
    }

    void login(const std::string& host, int port, const std::string& user,
               const std::string& password, int timeoutMs = 10000)
    {
        client.login(host, port, user, password, timeoutMs);
    }
    void logout() { client.logout(); }
    void queryList() { client.queryList(); }
    // As the viewer does: the channel shown so far stops, the decoder starts a new stream.
    void openChannel(int channel, int stream)
    {
        stopChannel();
        decoder.start();
        channel_ = channel;
        client.openChannel(channel, stream, &tee_);
    }
    void stopChannel()
    {
        if (channel_ != -1)
            client.stopChannel(channel_);
        channel_ = -1;
        decoder.stop();
    }

    // Gives the network worker (10 ms between steps) time for several steps, e.g. after the
    // manual clock moved.
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }

    EventLog log;
    DecoderWorker decoder;

private:
    // Media into the decoder and the log.
    struct Tee : MediaSink {
        explicit Tee(FaultClient& c) : owner(c) {}
        void onStreamStarted(int channel) override { owner.log.onStreamStarted(channel); }
        void onMediaBytes(int channel, const uint8_t* bytes, int length) override
        {
            owner.decoder.push(bytes, length);
            owner.log.onMediaBytes(channel, bytes, length);
        }
        void onStreamStopped(int channel) override { owner.log.onStreamStopped(channel); }
        FaultClient& owner;
    };
    Tee tee_{*this};
    int channel_ = -1;   // test thread

public:
    // Declared last: its network thread goes first.
    DeviceClient client;
};

}   // namespace kevra
