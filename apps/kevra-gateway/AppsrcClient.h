// One RTSP client's media as the camera hub sees it: pushes the hub's frames into the appsrc
// at the head of the client's own pipeline, without copying their bytes, and bounds what waits
// there. Created by the RTSP front when a client's media is configured and owned by that media
// (deleted when it goes). Attached to the hub when the appsrc first asks for data (its
// streaming thread), detached when the media is unprepared or destroyed; deliver() and end()
// come from the hub under its mutex. The GStreamer calls used are thread-safe.
#pragma once
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "HubClient.h"

namespace kevra::gateway {

class CameraHub;
class DelayStats;

class AppsrcClient : public HubClient {
public:
    static constexpr int kArrivalRing = 64;

    // `onEnd(media, slow)` is called (from end()) to have the client's connection closed.
    AppsrcClient(std::shared_ptr<CameraHub> hub, OutCodec codec, GstElement* appsrc,
                 GstRTSPMedia* media, uint64_t queueLimitBytes, DelayStats* stats,
                 std::function<void(GstRTSPMedia*, bool)> onEnd);
    ~AppsrcClient() override;   // detach()

    void attach();   // once; later calls do nothing
    void detach();

    bool deliver(const OutFramePtr& frame, int64_t ptsUs) override;
    void end(bool slow) override;

    // Notes each frame's first packet leaving `payloader` (delay added, first-frame time).
    void watchPayloader(GstElement* payloader);

private:
    static GstPadProbeReturn onPacket(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    // The payloader sent a packet of the frame at `ptsNs` (its streaming thread).
    void packetOut(uint64_t ptsNs);

    std::shared_ptr<CameraHub> hub_;
    const OutCodec codec_;
    GstElement* appsrc_;          // own reference
    GstRTSPMedia* const media_;   // compared only, never dereferenced
    const uint64_t queueLimitBytes_;
    DelayStats* const stats_;
    std::function<void(GstRTSPMedia*, bool)> onEnd_;
    GstPad* payloaderPad_ = nullptr;   // own reference, with a probe while set
    gulong probe_ = 0;
    std::atomic<bool> attached_{false};
    std::atomic<bool> ended_{false};

    // Arrival time of recent live frames by pts, for the delay figures; guarded by ringMutex_.
    std::mutex ringMutex_;
    uint64_t ringPts_[kArrivalRing] = {};
    uint64_t ringArrival_[kArrivalRing] = {};
    int ringNext_ = 0;
    uint64_t lastOutPts_ = UINT64_MAX;
    uint64_t attachNs_ = 0;
};

}   // namespace kevra::gateway
