#include "app/SessionTexts.h"

#include "app/LoginFailure.h"
#include "profile/Language.h"
#include "session/RecorderSession.h"

namespace kevra {

std::u16string SessionTexts::state(const RecorderSession& s)
{
    const std::u16string reason =
        s.failureCode() ? Language::text(LoginFailure::key(s.failureCode(), s.systemError())) : u"";
    using State = RecorderSession::State;
    switch (s.state()) {
    case State::Idle: return u"";
    case State::LoggingIn: return Language::text(u"NVR_CONNECTING");
    case State::Connected: return Language::text(u"NVR_ONLINE");
    case State::Reconnecting: {
        std::u16string text = s.secondsLeft() > 0
                                  ? Language::format(u"NVR_RETRY_IN", {s.secondsLeft()})
                                  : Language::text(u"NVR_RETRYING");
        // The reason helps set a recorder up; one that worked and went away is just away (a
        // refused connection then means it is not running, not that the port is wrong).
        if (!reason.empty() && !s.everConnected())
            text += u" (" + reason + u")";
        return text;
    }
    case State::Failed:
        return reason.empty() ? Language::text(u"LINK_LOST")
                              : Language::text(u"NVR_REFUSED") + u" " + reason;
    }
    return u"";
}

std::u16string SessionTexts::recovery(const RecoveryController& r)
{
    using State = Reconnector::State;
    // Each text stands alone and fits one status line of the narrowest screen.
    const Reconnector& session = r.sessionSchedule();
    if (session.active()) {
        if (session.state() == State::Waiting)
            return Language::format(u"RECONNECT_IN", {session.secondsLeft(), session.attempt()});
        if (session.state() == State::Trying)
            return Language::format(u"RECONNECTING", {session.attempt()});
        return Language::text(u"LINK_LOST");
    }
    const Reconnector* channel = r.channelSchedule();
    if (r.awaitingList() || !channel)
        return {};
    if (channel->state() == State::Waiting)
        return Language::format(u"MEDIA_REOPEN", {channel->secondsLeft(), channel->attempt()});
    if (channel->state() == State::Trying)
        return Language::format(u"MEDIA_REOPENING", {channel->attempt()});
    return {};   // paused: the login dialog is in front
}

}   // namespace kevra
