// One camera of one recorder as the RTSP side sees it: fed by the recorder channel's media (one
// media connection, however many clients), it cuts whole frames, keeps the recent groups of
// pictures (from a key frame) so a client that joins late starts with a picture at once,
// and fans every frame out to its clients on one timeline that never goes back, also across
// lost connections. It also says whether its channel is wanted (clients, clients waiting for
// the first key frame, or the idle time after the last client left).
// Threads: the recorder link's network thread feeds it (MediaSink calls); RTSP client threads
// wait, attach and detach; the link's control thread asks wanted(). All state is guarded by
// mutex_; the frame cutter is used by the network thread only.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Histogram.h"
#include "HubClient.h"
#include "OutFrame.h"
#include "VideoFacts.h"
#include "device/MediaSink.h"

namespace kevra {
class FrameCutter;
struct AccessUnit;
}   // namespace kevra

namespace kevra::gateway {

class CameraHub : public MediaSink {
public:
    // The cache of the current group of pictures is given up beyond these (a recorder with a
    // very long key-frame interval): late joiners then wait for the next key frame.
    static constexpr size_t kCacheMaxBytes = 24u << 20;
    static constexpr size_t kCacheMaxFrames = 1500;
    // Cached frames a late joiner gets in a burst are this far apart on its timeline, so it
    // shows the key frame at once and catches up with the live picture within moments.
    static constexpr int64_t kBurstStepUs = 1000;
    // A late joiner's burst starts at the latest cached key frame with at least this many frames
    // from it on: ffmpeg times 20 frame intervals of an H.264 stream before it shows a picture,
    // and with a shorter burst it waited for live frames (up to a key-frame interval). So the
    // group before the current one stays cached until the current one is this long.
    static constexpr size_t kBurstMinFrames = 24;

    CameraHub(std::string path, int channel, uint64_t idleCloseMs);
    ~CameraHub() override;
    CameraHub(const CameraHub&) = delete;
    CameraHub& operator=(const CameraHub&) = delete;

    const std::string& path() const { return path_; }   // "/NAME/N"
    int channel() const { return channel_; }            // 0-based at the recorder

    // MediaSink: the recorder channel's bytes (network thread).
    void onStreamStarted(int channel) override;
    void onMediaBytes(int channel, const uint8_t* bytes, int length) override;
    void onStreamStopped(int channel) override;
    // The channel's media stopped (connection lost or closed): cached frames are dropped, clients
    // stay and the next frames continue their timelines.
    void streamLost();
    // One cut frame; public so tests can feed frames without a recorder.
    void pushFrame(const AccessUnit& unit, uint64_t arrivalNs);

    // RTSP side. Waits until a key frame is cached (the channel is wanted meanwhile) and
    // gives the codec; false after the time-out. With a codec known from before and nothing
    // cached (recorder away), it returns that codec at once so clients can connect and wait.
    bool waitReady(int timeoutMs, OutCodec& codec);
    // Adds a client and hands it the cached frames (or the next key frame onwards).
    void attach(HubClient* client);
    // Removes a client; no call into it follows once this returns. Unknown clients are ignored.
    void detach(HubClient* client);

    // Control thread: true while the channel should stream.
    bool wanted(uint64_t nowMs) const;
    int clientCount() const;
    OutCodec codec() const;
    // Codec, picture size and frame rate as last seen (zeros before the first key frame).
    VideoFacts facts() const;
    // Keeps the channel wanted for the idle time from now, as if a client had just left
    // (a PTZ step needs the channel's connection).
    void keepOpen(uint64_t nowMs);
    // Frames handed to clients (all clients), for logs and tests.
    uint64_t framesOut() const;

    // What the status page, API and metrics show (any thread).
    struct Stats {
        OutCodec codec = OutCodec::None;
        int width = 0;
        int height = 0;
        double fps = 0;   // frames in per second over the last moments; 0 when stalled
        double bitsPerSecond = 0;
        int viewers = 0;
        bool streaming = false;   // frames came within the last kStreamingMs
        uint64_t framesIn = 0;
        uint64_t bytesIn = 0;
        uint64_t droppedClients = 0;   // let go because they did not keep up
    };
    static constexpr uint64_t kStreamingMs = 3000;
    Stats stats() const;
    // The frames from the last key frame on (empty while none is cached).
    std::vector<OutFramePtr> cachedFrames() const;
    // Keeps the channel wanted without a client (a snapshot waiting for its first picture);
    // the idle time runs from release.
    void hold();
    void release();
    // The delay the gateway adds to a frame, and a joining client's wait for its first frame.
    Histogram& delayAdded() { return delayAdded_; }
    Histogram& firstFrame() { return firstFrame_; }

private:
    struct Client {
        HubClient* client;
        bool started;       // has had its first key frame
        int64_t offsetUs;   // client pts = frame time + offset
    };
    void fanOut(const OutFramePtr& frame);
    // Drops the oldest groups of pictures the burst no longer needs, and any beyond the limits.
    void trimCache();

    const std::string path_;
    const int channel_;
    const uint64_t idleCloseMs_;
    std::unique_ptr<FrameCutter> cutter_;   // network thread only

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<Client> clients_;
    int waiters_ = 0;
    uint64_t lastLeftMs_ = 0;          // when the last client left; 0 = never had one
    std::vector<OutFramePtr> cache_;   // from a key frame (see kBurstMinFrames)
    size_t cacheBytes_ = 0;
    OutCodec codec_ = OutCodec::None;
    int width_ = 0;
    int height_ = 0;
    bool gap_ = true;           // the next frame starts after a gap
    int64_t lastTimeUs_ = -1;   // hub timeline: last frame handed out
    int64_t lastDurationUs_ = 40000;
    int64_t timelineOffsetUs_ = 0;   // hub time = cutter time + offset
    uint64_t framesOut_ = 0;
    uint64_t framesIn_ = 0;
    uint64_t bytesIn_ = 0;
    uint64_t droppedClients_ = 0;
    static constexpr size_t kRateWindow = 64;   // recent frames' arrival and size, for rates
    uint64_t rateNs_[kRateWindow] = {};
    uint64_t rateBytes_[kRateWindow] = {};
    size_t rateNext_ = 0;
    Histogram delayAdded_;
    Histogram firstFrame_;
};

}   // namespace kevra::gateway
