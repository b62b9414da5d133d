// The result codes the device link reports through DeviceEvents, with a name and a short
// English text for each, shared by the session, kevractl, the viewer and the logs. Constant
// tables only: any thread may call these functions.
#pragma once
#include <string>

namespace kevra {

// The numbers are what recorders, logs and scripts see: never renumber.
namespace result_code {
enum Code : int {
    OK = 0,
    LIST_IN_PIECES = 1,         // onList: the list arrived in more than one piece
    LIST_TIMEOUT = 3,           // onList: no list reply in time
    REFUSED_OTHER_REASON = 4,   // onLogin: refused with a reason outside 0-7
    SEND_FAILED = 5,            // onList, onChannel: the request could not be sent
    REFUSED = 0x1001,           // onLogin: refused (unlisted outcome); onList: no list made
    // onLogin, refused with reason r (0-7): 0x1002 + r, except reason 2, which has its own code
    // so that it never reads as a time-out. Reasons 0 and 1 are the ones recorders give for an
    // unknown user and a wrong password.
    UNKNOWN_USER = 0x1002,
    WRONG_PASSWORD = 0x1003,
    LOGIN_TIMEOUT = 0x1004,      // onLogin: no login reply in time
    REFUSED_REASON_3 = 0x1005,   // also outcome 3
    REFUSED_REASON_4 = 0x1006,
    REFUSED_REASON_5 = 0x1007,
    REFUSED_REASON_6 = 0x1008,
    REFUSED_REASON_7 = 0x1009,
    CONNECT_FAILED = 0x100A,     // onLogin: the connection to the recorder failed
    LOGIN_NOT_SENT = 0x100B,     // onLogin: the login request could not be sent
    CHANNEL_FAILED = 0x100C,     // onChannel: the channel's connection or claim failed
    HOST_UNRESOLVED = 0x100D,    // onLogin: the host name could not be resolved
    REFUSED_REASON_2 = 0x100E,   // onLogin: refused with reason 2
    NOT_LOGGED_IN = 0x1010,      // onList, onChannel
    NO_SUCH_CHANNEL = 0x1011,    // onChannel: index outside the channel table
};
// The login code for a refusal with this reason byte.
constexpr int refusedWithReason(int reason)
{
    if (reason == 2)
        return REFUSED_REASON_2;
    return reason >= 0 && reason <= 7 ? UNKNOWN_USER + reason : REFUSED_OTHER_REASON;
}
}   // namespace result_code

// Which report a code came with; only REFUSED reads differently for a list.
enum class ResultEvent { Login, List, Channel };

// Every code above, in ascending order (for tables and tests).
const int* resultCodes(int& count);
// "CONNECT_FAILED"; "UNKNOWN" for a number that is not a result code.
const char* resultCodeName(int code);
// "connection refused or failed"; "unknown result" for a number that is not a result code.
const char* resultCodeText(int code, ResultEvent event = ResultEvent::Login);
// The text with the code for people to search for: "wrong password (0x1003)".
std::string describeResult(int code, ResultEvent event = ResultEvent::Login);
// A login's result with, for a connect failure, the system's reason:
// "cannot connect to the recorder: connection refused (0x100A)".
std::string describeLoginResult(int code, int systemError);
// strerror as it reads inside a sentence: "connection refused".
std::string systemErrorText(int error);
// The code as printed in messages: "0x100A", "0x3".
std::string resultCodeHex(int code);

}   // namespace kevra
