// Which failure a login result names, as the language key of its one-line text for the login
// failure message ("Wrong password"), followed there by the code. Constant tables only: any
// thread may call these functions.
#pragma once
#include <string>

namespace kevra {

class LoginFailure {
public:
    // The language key for a failed login's code; systemError (errno value of the failed
    // connect, 0 when unknown) tells a refused connection from one nobody answered.
    static const char16_t* key(int code, int systemError);
    // The code as shown after the text: " (0x1003)".
    static std::u16string codeSuffix(int code);
};

}   // namespace kevra
