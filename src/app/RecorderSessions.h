// The sessions of the recorders after the first in login.ini's list (the first is the
// coordinator's own session, the one the login dialog logs in to): one RecorderSession each,
// so each has its own network thread and retry schedule. At most
// RecorderList::kMaxRecorders - 1 of them, so the viewer's network threads stay bounded by the
// list's size. Owned by the viewer coordinator; user-interface thread only.
#pragma once
#include "app/CameraId.h"
#include "app/RecorderSession.h"
#include "app/ViewerView.h"
#include "profile/RecorderList.h"

#include <functional>
#include <memory>
#include <vector>

namespace kevra {

class RecorderSessions {
public:
    explicit RecorderSessions(RecorderSession::Post post) : post_(std::move(post)) {}
    ~RecorderSessions() { shutdown(); }
    RecorderSessions(const RecorderSessions&) = delete;
    RecorderSessions& operator=(const RecorderSessions&) = delete;

    // Called after any session's change a caller may show (state, countdown, cameras).
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }
    // The sessions' stream events, with the camera's recorder (its place in the list): a
    // stream to restart (RecorderSession::setReopen) and an open's result.
    void setStreamEvents(std::function<void(CameraId)> reopen,
                         std::function<void(CameraId, int)> opened)
    {
        reopen_ = std::move(reopen);
        opened_ = std::move(opened);
    }

    // Takes the list's recorders 1.. and logs in to each. A recorder whose entry is unchanged
    // keeps its session (and its streams); the others' sessions end and new ones start.
    void follow(const std::vector<RecorderList::Recorder>& list, bool autoReconnect);
    // Every session ends (streams stopped, network threads joined).
    void shutdown();
    void poll();

    // Sessions in list order: at(0) is recorder 1 of the list.
    size_t count() const { return sessions_.size(); }
    RecorderSession& at(size_t i) { return *sessions_[i]; }
    const RecorderSession& at(size_t i) const { return *sessions_[i]; }
    // The session of the list's recorder `recorder` (1 ..); null when there is none.
    RecorderSession* find(int recorder) const;
    // Whether the session at the list's place `recorder` stays when follow(list) comes (the
    // same entry is at that place in list).
    bool keeps(const std::vector<RecorderList::Recorder>& list, int recorder) const;

    // What the camera tree shows of them.
    std::vector<ViewerView::RecorderNode> nodes() const;

private:
    RecorderSession::Post post_;
    std::function<void()> changed_;
    std::function<void(CameraId)> reopen_;
    std::function<void(CameraId, int)> opened_;
    std::vector<std::unique_ptr<RecorderSession>> sessions_;
};

}   // namespace kevra
