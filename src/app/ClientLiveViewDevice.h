// One camera stream's link to the recorder and its decoder: owns the DecoderWorker of the channel
// shown and is that channel's media sink; the channel is opened over a StreamLink (its
// recorder's session). The user-interface thread opens and stops the channel
// and alone starts and stops the decoder; the network thread only pushes bytes (MediaSink calls);
// the frame timer polls pictures. The client's sink handoff guarantees no push is under way once
// stopChannel has returned, so the decoder is stopped and destroyed with no other thread in it.
#pragma once
#include "app/CameraId.h"
#include "app/LiveViewDevice.h"
#include "device/MediaSink.h"
#include "session/StreamLink.h"
#include "video/DecoderWorker.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kevra {

class RecordingController;

class ClientLiveViewDevice : public LiveViewDevice, private MediaSink {
public:
    // The stream of a camera of the given recorder over link (which must outlive this object);
    // recordings (optional, must outlive this object) also receives the stream's media bytes.
    ClientLiveViewDevice(StreamLink& link, int recorder = 0,
                         RecordingController* recordings = nullptr)
        : link_(link), recorder_(recorder), recordings_(recordings)
    {
    }
    ~ClientLiveViewDevice() override;   // stopChannel()

    // Stops the channel shown so far (at the recorder too), then starts a new stream in the
    // decoder and opens the channel with this object as its sink.
    void openChannel(int channel, int stream) override;
    void stopChannel() override;
    void setPixelFormat(PixelFormat format) override;
    bool takePicture(Picture& picture) override;
    void giveBack(const Picture& picture) override;
    int buffering(int previous) override;
    int frameRate() const override;
    int undecodableCodec() const override;
    std::string undecodableReason() const override;
    uint64_t openedMs() const override { return openedMs_.load(); }
    uint64_t lastMediaMs() const override { return lastMediaMs_.load(); }
    void setLowLatency(bool on) override { decoder_.setLowLatency(on); }
    DecoderWorker::Counters counters() const override { return decoder_.counters(); }
    int codec() const override { return decoder_.codec(); }

    // Inspection (tests and tools).
    int shownChannel() const { return channel_; }
    DecoderWorker& decoder() { return decoder_; }

private:
    // MediaSink (network thread).
    void onStreamStarted(int) override {}
    void onMediaBytes(int channel, const uint8_t* bytes, int length) override;
    void onStreamStopped(int) override {}

    StreamLink& link_;
    const int recorder_ = 0;
    RecordingController* recordings_;
    DecoderWorker decoder_;
    int channel_ = -1;                       // user-interface thread
    std::atomic<uint64_t> openedMs_{0};      // written by the user-interface thread
    std::atomic<uint64_t> lastMediaMs_{0};   // written by the network thread
};

}   // namespace kevra
