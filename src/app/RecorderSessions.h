// The viewer's recorders: one RecorderSession per recorder of login.ini's list, in list order,
// so each has its own network thread and retry schedule. The first is the login dialog's: its
// session is made by a login by hand (and replaced by the next one); the others follow the
// list. At most RecorderList::kMaxRecorders, so the viewer's network threads stay bounded by
// the list's size. The sessions' news reach the coordinator through Events, with the
// recorder's place in the list. Owned by the viewer coordinator; user-interface thread only.
#pragma once
#include "app/CameraId.h"
#include "app/ViewerView.h"
#include "profile/RecorderList.h"
#include "session/RecorderSession.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace kevra {

class RecorderSessions : private RecorderSession::Listener {
public:
    struct Events {
        std::function<void()> changed;   // a state, countdown or camera list a caller may show
        std::function<void(int recorder, int code, int systemError, bool first)> loginResult;
        std::function<void(int recorder, int code)> listed;
        std::function<void(int recorder)> lost;
        // The recorder is back with its camera list: its streams start again.
        std::function<void(int recorder)> back;
        // A stream of the camera to start again (its media connection closed or fell silent).
        std::function<void(CameraId)> reopen;
        std::function<void(CameraId, int code)> opened;
        // The recorder closed the camera's media connection: true when it is to be reopened.
        std::function<bool(CameraId)> closed;
    };

    RecorderSessions(RecorderSession::Post post, Events events);
    ~RecorderSessions() override;   // shutdown()
    RecorderSessions(const RecorderSessions&) = delete;
    RecorderSessions& operator=(const RecorderSessions&) = delete;

    // A login by hand: the first recorder's session ends (its streams with it) and a new one
    // logs in; its first result is final (no retries until it was accepted).
    void logInByHand(const RecorderSession::Login& login, bool autoReconnect);
    // The first recorder's session ends without a successor (the login waited for is given up).
    void endFirst();
    // Takes the list's further recorders and logs in to each. A recorder whose entry is
    // unchanged keeps its session (and its streams); the others' sessions end and new ones
    // start.
    void follow(const std::vector<RecorderList::Recorder>& list, bool autoReconnect);
    // Every session ends (streams stopped, network threads joined).
    void shutdown();
    void poll();

    // The session of the list's recorder `recorder`; null when there is none.
    RecorderSession* find(int recorder) const;
    // The place in the list of a session; -1 when it is none of these.
    int indexOf(const RecorderSession& session) const;
    // Whether the session at the list's place `recorder` stays when follow(list) comes (the
    // same entry is at that place in list).
    bool keeps(const std::vector<RecorderList::Recorder>& list, int recorder) const;
    // Where the streams of the recorder at a place open: whatever session is there when they
    // open or stop (none: nothing opens). The same link for the place's whole life.
    StreamLink& link(int recorder);
    // The list entry the place's session was made for; null without a session.
    const RecorderList::Recorder* entry(int recorder) const;
    // Places with a session, in list order.
    std::vector<int> recorders() const;
    // The recorder's cameras (none without a session).
    std::vector<std::u16string> cameraNames(int recorder) const;

    // The tree's nodes, one per recorder in list order: its name, state and cameras.
    std::vector<ViewerView::RecorderNode> nodes() const;

private:
    std::unique_ptr<RecorderSession> make(std::u16string name, RecorderSession::Login login,
                                          bool autoReconnect,
                                          RecorderSession::Options::FirstFailure first);
    CameraId camera(const RecorderSession& s, int channel) const;

    // RecorderSession::Listener.
    void sessionChanged(RecorderSession&) override;
    void loginResult(RecorderSession&, int code, int systemError, bool first) override;
    void camerasListed(RecorderSession&, int code) override;
    void sessionLost(RecorderSession&) override;
    bool reopenAll(RecorderSession&) override;
    bool reopenStream(RecorderSession&, int channel) override;
    void streamOpened(RecorderSession&, int channel, int code) override;
    bool streamClosed(RecorderSession&, int channel) override;

    // Forwards to the session at its place, whichever that is now.
    class PlaceLink : public StreamLink {
    public:
        PlaceLink(RecorderSessions& sessions, int place) : sessions_(sessions), place_(place) {}
        void openStream(int channel, int stream, MediaSink* sink) override;
        void stopStream(int channel) override;

    private:
        RecorderSessions& sessions_;
        const int place_;
    };

    RecorderSession::Post post_;
    Events events_;
    std::vector<std::unique_ptr<PlaceLink>> links_;   // one per place, made on first use
    // By place in the list; an empty place has no session (the first before a login by hand).
    std::vector<std::unique_ptr<RecorderSession>> sessions_;
    std::vector<RecorderList::Recorder> entries_;   // the entry each session was made for
};

}   // namespace kevra
