// The retries of one recorder's session: after a lost session it has the host log in again on
// the retry schedule and, once the camera list is back, reopen what was streamed; after a
// channel's media connection closed while the session stayed up it has that channel reopened
// on the same schedule (first try after 1 s). Paused while a login by hand is being made.
// Holds the schedules only; the host carries the tries out and is told when what may be shown
// of them changes. Reads Clock::nowMs() through Reconnector. Owned by its RecorderSession and
// used on that session's owner thread only.
#pragma once
#include "session/Reconnector.h"
#include "session/RecoveryHost.h"

#include <array>
#include <cstdint>
#include <map>

namespace kevra {

class RecoveryController {
public:
    explicit RecoveryController(RecoveryHost& host) : host_(host) {}

    // login.ini AutoReconnect; off: losses are left to the caller's dialog flow.
    void setEnabled(bool enabled);
    bool enabled() const { return enabled_; }

    // The session was lost. Returns false when automatic reconnection is off (nothing is
    // scheduled); otherwise the first login try is due in 1 s and channel schedules end.
    bool onConnectionLost();
    // Any login result. Returns true when it answered a try of this controller (the caller
    // must not hand it to the login dialog). A failed try schedules the next one.
    bool onLoginResult(int code);
    // The camera list arrived: after a recovered session, what was shown is reopened (also
    // when no list came within kListWaitMs of the login).
    void onCameraList();
    static constexpr uint64_t kListWaitMs = 10000;

    // The media connection of a channel shown closed while the session stayed up: a reopen
    // is due in 1 s (a schedule already running for it is kept). Ignored while off or while
    // the session itself is being recovered.
    void onChannelClosed(int channel);
    // Open result of a channel. A failed reopen try schedules the next one; a success (also
    // of an open by hand) ends the channel's schedule.
    void onOpenResult(int channel, int code);
    // The channel is no longer shown (stopped or switched): its schedule ends.
    void forgetChannel(int channel);

    // The login dialog opened / closed: no tries while it is open.
    void pause();
    void resume();
    // A login by hand succeeded, or the program ends: every schedule ends.
    void cancel();

    // Called often (a few times a second): starts due tries and refreshes the text.
    void poll();

    bool sessionRecovering() const { return session_.active() || awaitingList_; }
    bool channelRecovering(int channel) const { return channels_.count(channel) != 0; }
    int sessionAttempt() const { return session_.attempt(); }
    // Whole seconds until the next login try while one waits; 0 otherwise.
    int sessionSecondsLeft() const { return session_.secondsLeft(); }
    bool awaitingList() const { return awaitingList_; }
    const Reconnector& sessionSchedule() const { return session_; }
    // The schedule of the first channel being reopened; null when none is.
    const Reconnector* channelSchedule() const
    {
        return channels_.empty() ? nullptr : &channels_.begin()->second;
    }

private:
    // pause() and resume(): the session's schedule and every channel's.
    void hold(bool paused);
    void refresh();

    RecoveryHost& host_;
    bool enabled_ = true;
    bool paused_ = false;
    Reconnector session_;
    bool loginInFlight_ = false;   // a try's login is on its way
    bool awaitingList_ = false;    // a try logged in; the camera list comes next
    uint64_t loggedInMs_ = 0;      // when that try's login was accepted
    std::map<int, Reconnector> channels_;
    std::array<int, 7> shown_{};   // what refresh() last told the host
};

}   // namespace kevra
