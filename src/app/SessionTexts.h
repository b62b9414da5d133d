// What the viewer says of a recorder's session, in the user's language: its state in the camera
// tree and on its tiles ("connected", "reconnecting in 4 s", "login failed: Wrong password"),
// and what its retries are doing for the status row. Reads only the session and the language
// file; user-interface thread.
#pragma once
#include <string>

namespace kevra {

class RecorderSession;
class RecoveryController;

class SessionTexts {
public:
    static std::u16string state(const RecorderSession& session);
    // "" when nothing of the session is being recovered.
    static std::u16string recovery(const RecoveryController& recovery);
};

}   // namespace kevra
