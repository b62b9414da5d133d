#include "app/LoginFailure.h"

#include "app/LoginPort.h"
#include "device/ResultCode.h"

#include <cerrno>

namespace kevra {

const char16_t* LoginFailure::key(int code, int systemError)
{
    using namespace result_code;
    switch (code) {
    case WRONG_PASSWORD: return u"LOGIN_ERR_PASSWD";
    case UNKNOWN_USER: return u"LOGIN_ERR_USER";
    case LOGIN_TIMEOUT: return u"LOGIN_ERR_TIMEOUT";
    case REFUSED:
    case REFUSED_OTHER_REASON:
    case REFUSED_REASON_2:
    case REFUSED_REASON_3:
    case REFUSED_REASON_4:
    case REFUSED_REASON_5:
    case REFUSED_REASON_6:
    case REFUSED_REASON_7: return u"LOGIN_ERR_REFUSED";
    case CONNECT_FAILED:
        if (systemError == EINVAL)
            return LoginPort::kRangeKey;   // a port outside 1..65535 (from a hand-edited login.ini)
        if (systemError == ECONNREFUSED)
            return u"LOGIN_ERR_CONN_REFUSED";
        if (systemError == ETIMEDOUT || systemError == EHOSTUNREACH || systemError == ENETUNREACH)
            return u"LOGIN_ERR_NO_ANSWER";
        return u"LOGIN_ERR_CONNECT";
    case HOST_UNRESOLVED: return u"LOGIN_ERR_HOST";
    case LOGIN_NOT_SENT: return u"LOGIN_ERR_SEND";
    default: return u"LOGIN_ERR_OTHER";
    }
}

std::u16string LoginFailure::codeSuffix(int code)
{
    const std::string hex = resultCodeHex(code);
    return u" (" + std::u16string(hex.begin(), hex.end()) + u")";
}

}   // namespace kevra
