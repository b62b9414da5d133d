// The viewer's recordings (R, the picture's menu): starts and ends the recording of the camera
// shown, tells where its file went (in the status row for a while, and in the log), tells once a
// recording that stopped by itself, and gives the red marks ("● REC 0:07"). Owns the
// RecordingController the stream devices feed, so it must outlive them. User-interface thread
// (the controller's feed runs on the network threads).
#pragma once
#include "app/CameraId.h"
#include "app/RecordingController.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace kevra {

class ViewerRecordings {
public:
    struct Host {
        std::function<std::string(CameraId)> who;          // the camera, as the log names it
        std::function<void(const std::u16string&)> tell;   // a message in the status row
        std::function<void()> redraw;                      // the marks changed
    };

    // folder: where clips go ("": the user's videos folder, made when the first clip goes in).
    ViewerRecordings(const std::string& folder, Host host);

    RecordingController& controller() { return *recordings_; }
    const RecordingController& controller() const { return *recordings_; }

    // Starts recording the camera (its file named after `name`), or ends its recording. False
    // when no camera is given (the status row says there is nothing to record).
    bool toggle(CameraId camera, const std::u16string& name);
    // Ends the recordings of one recorder (every one with recorder < 0), each file complete,
    // and logs where each went.
    void end(int recorder = -1);
    bool recording(CameraId camera) const
    {
        return camera.valid() && recordings_->recording(camera);
    }
    // The red mark over the camera's picture; empty when it does not record.
    std::u16string mark(CameraId camera) const;
    // A few times a second: a recording that failed by itself is told once; the marks are drawn
    // again each second while anything records.
    void poll();

    // The log's and the status row's words for a recording that ended (tests read them too).
    static std::string endedText(const ClipRecorder::Status& s);

private:
    // Tells and logs the end of a recording the user stopped.
    void tellEnded(CameraId camera, const ClipRecorder::Status& s, bool failureTold);
    void redraw();

    Host host_;
    std::unique_ptr<RecordingController> recordings_;
    std::set<CameraId> failuresTold_;   // cameras whose failed recording the status row told
    int64_t markedSecond_ = -1;         // the elapsed second the marks were last drawn with
};

}   // namespace kevra
