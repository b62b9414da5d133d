#include "app/ViewerRecordings.h"

#include "app/ViewerLog.h"
#include "common/Utf.h"
#include "profile/Language.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace kevra {

namespace {

// The status row is narrow: the home folder is "~".
std::u16string shortPath(const std::string& path)
{
    const char* home = std::getenv("HOME");
    const std::string h = home ? home : "";
    if (!h.empty() && path.size() > h.size() && path.compare(0, h.size(), h) == 0 &&
        path[h.size()] == '/')
        return u"~" + fromUtf8(path.substr(h.size()));
    return fromUtf8(path);
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}   // namespace

ViewerRecordings::ViewerRecordings(const std::string& folder, Host host)
    : host_(std::move(host)), recordings_(std::make_unique<RecordingController>(folder))
{
}

std::string ViewerRecordings::endedText(const ClipRecorder::Status& s)
{
    if (s.failed)
        return "failed: " + s.error + (s.path.empty() ? "" : "; kept " + s.path);
    if (s.frames == 0)
        return "nothing recorded: no picture arrived";
    // A recording that went on after a lost connection is in several parts: all named.
    std::string files;
    for (const ClipWriter::Part& part : s.files)
        files += (files.empty() ? "" : ", ") + part.path;
    return "saved to " + (files.empty() ? s.path : files) + " (" + std::to_string(s.frames) +
           " frames)";
}

void ViewerRecordings::end(int recorder)
{
    std::map<CameraId, ClipRecorder::Status> ended;
    if (recorder < 0)
        ended = recordings_->stopAll();
    else
        for (CameraId c : recordings_->cameras())
            if (c.recorder == recorder)
                ended[c] = recordings_->stop(c);
    for (const auto& [camera, status] : ended) {
        failuresTold_.erase(camera);
        ViewerLog::event("recording of " + host_.who(camera) + ": " + endedText(status));
    }
}

bool ViewerRecordings::toggle(CameraId camera, const std::u16string& name)
{
    if (!camera.valid()) {
        host_.tell(Language::text(u"REC_NONE"));
        return false;
    }
    const std::string who = host_.who(camera);
    if (recordings_->recording(camera)) {
        const bool told = failuresTold_.erase(camera) != 0;
        tellEnded(camera, recordings_->stop(camera), told);
    } else {
        const RecordingController::Started r = recordings_->start(camera, toUtf8(name));
        if (!r.ok) {
            host_.tell(Language::text(u"REC_FAILED") + u" " + fromUtf8(r.error));
            ViewerLog::event("recording of " + who + " could not start: " + r.error);
        } else {
            host_.tell(Language::text(u"REC_TO") + u" " + shortPath(r.path));
            ViewerLog::event("recording " + who + " to " + r.path);
        }
    }
    redraw();
    return true;
}

void ViewerRecordings::tellEnded(CameraId camera, const ClipRecorder::Status& s, bool failureTold)
{
    if (s.failed)
        host_.tell(Language::text(u"REC_FAILED") + u" " + fromUtf8(s.error));
    else if (s.frames == 0)
        host_.tell(Language::text(u"REC_NOTHING"));
    else   // the file's name: the folder was told when the recording started
        host_.tell(Language::text(u"REC_SAVED") + u" " + fromUtf8(baseName(s.path)));
    if (!s.failed || !failureTold)
        ViewerLog::event("recording of " + host_.who(camera) + ": " + endedText(s));
}

std::u16string ViewerRecordings::mark(CameraId camera) const
{
    if (!recording(camera))
        return {};
    const ClipRecorder::Status s = recordings_->status(camera);
    if (s.failed)
        return u"\u25CF REC !";
    return u"\u25CF REC " + fromUtf8(RecordingController::elapsedText(s.elapsedMs));
}

// A recording that stopped by itself (full disk, folder gone) is told once, in the status row
// and the log; the marks are drawn again each second while anything records.
void ViewerRecordings::poll()
{
    int64_t longest = -1;
    for (CameraId camera : recordings_->cameras()) {
        const ClipRecorder::Status s = recordings_->status(camera);
        longest = std::max(longest, s.elapsedMs / 1000);
        if (s.failed && failuresTold_.insert(camera).second) {
            host_.tell(Language::text(u"REC_FAILED") + u" " + fromUtf8(s.error));
            ViewerLog::event("recording of " + host_.who(camera) + ": " + endedText(s));
        }
    }
    if (longest != markedSecond_) {
        markedSecond_ = longest;
        host_.redraw();
    }
}

void ViewerRecordings::redraw()
{
    markedSecond_ = -1;
    host_.redraw();
}

}   // namespace kevra
