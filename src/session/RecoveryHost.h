// What the recovery controller asks of its session: log in again, reopen what was streamed once
// the session is back, reopen one channel whose media connection closed, and tell that the
// schedules changed. Implemented by RecorderSession; on the session's owner thread only.
#pragma once

namespace kevra {

class RecoveryHost {
public:
    virtual ~RecoveryHost() = default;

    // Sends the login again; its result comes back through
    // RecoveryController::onLoginResult.
    virtual void loginWithSavedSettings() = 0;
    // The session is back and the camera list has arrived: open again what was shown.
    virtual void reopenShown() = 0;
    // Claims and starts the channel again; its open result comes back through
    // RecoveryController::onOpenResult.
    virtual void reopenChannel(int channel) = 0;
    // The schedules changed in a way a caller may show (state, attempt, seconds left).
    virtual void recoveryChanged() = 0;
};

}   // namespace kevra
