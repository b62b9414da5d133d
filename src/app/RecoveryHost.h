// What the recovery controller asks of the main window: log in again with the saved login,
// reopen what was shown once the session is back, reopen one channel whose media connection
// closed, and show the recovery text. Implemented by the main window; user-interface thread only.
#pragma once
#include <string>

namespace kevra {

class RecoveryHost {
public:
    virtual ~RecoveryHost() = default;

    // Posts a login with the settings saved in login.ini; its result comes back through
    // RecoveryController::onLoginResult.
    virtual void loginWithSavedSettings() = 0;
    // The session is back and the camera list has arrived: open again what was shown.
    virtual void reopenShown() = 0;
    // Claims and starts the channel again; its open result comes back through
    // RecoveryController::onOpenResult.
    virtual void reopenChannel(int channel) = 0;
    // The text the user sees about the recovery (status line; over the picture in full
    // screen); empty when nothing is being recovered.
    virtual void showRecoveryText(const std::u16string& text) = 0;
};

}   // namespace kevra
