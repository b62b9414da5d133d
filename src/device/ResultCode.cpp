#include "device/ResultCode.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace kevra {

namespace {

struct Entry {
    int code;
    const char* name;
    const char* text;
};

const Entry kEntries[] = {
    {result_code::OK, "OK", "success"},
    {result_code::LIST_IN_PIECES, "LIST_IN_PIECES", "the camera list arrived in pieces"},
    {result_code::LIST_TIMEOUT, "LIST_TIMEOUT", "no camera list from the recorder in time"},
    {result_code::REFUSED_OTHER_REASON, "REFUSED_OTHER_REASON", "login refused (unlisted reason)"},
    {result_code::SEND_FAILED, "SEND_FAILED", "the request could not be sent"},
    {result_code::REFUSED, "REFUSED", "login refused by the recorder"},
    {result_code::UNKNOWN_USER, "UNKNOWN_USER", "unknown user"},
    {result_code::WRONG_PASSWORD, "WRONG_PASSWORD", "wrong password"},
    {result_code::LOGIN_TIMEOUT, "LOGIN_TIMEOUT", "no answer to the login in time"},
    {result_code::REFUSED_REASON_3, "REFUSED_REASON_3", "login refused (reason 3)"},
    {result_code::REFUSED_REASON_4, "REFUSED_REASON_4", "login refused (reason 4)"},
    {result_code::REFUSED_REASON_5, "REFUSED_REASON_5", "login refused (reason 5)"},
    {result_code::REFUSED_REASON_6, "REFUSED_REASON_6", "login refused (reason 6)"},
    {result_code::REFUSED_REASON_7, "REFUSED_REASON_7", "login refused (reason 7)"},
    {result_code::CONNECT_FAILED, "CONNECT_FAILED", "cannot connect to the recorder"},
    {result_code::LOGIN_NOT_SENT, "LOGIN_NOT_SENT", "the login request could not be sent"},
    {result_code::CHANNEL_FAILED, "CHANNEL_FAILED", "cannot open the camera's connection"},
    {result_code::HOST_UNRESOLVED, "HOST_UNRESOLVED", "unknown host name"},
    {result_code::REFUSED_REASON_2, "REFUSED_REASON_2", "login refused (reason 2)"},
    {result_code::NOT_LOGGED_IN, "NOT_LOGGED_IN", "not logged in"},
    {result_code::NO_SUCH_CHANNEL, "NO_SUCH_CHANNEL", "no such camera"},
};

const Entry* find(int code)
{
    for (const Entry& e : kEntries)
        if (e.code == code)
            return &e;
    return nullptr;
}

}   // namespace

const int* resultCodes(int& count)
{
    static const auto codes = [] {
        struct Codes {
            int values[std::size(kEntries)];
        } c{};
        for (size_t i = 0; i < std::size(kEntries); ++i)
            c.values[i] = kEntries[i].code;
        return c;
    }();
    count = static_cast<int>(std::size(kEntries));
    return codes.values;
}

const char* resultCodeName(int code)
{
    const Entry* e = find(code);
    return e ? e->name : "UNKNOWN";
}

const char* resultCodeText(int code, ResultEvent event)
{
    if (code == result_code::REFUSED && event == ResultEvent::List)
        return "the recorder's camera list is empty";
    const Entry* e = find(code);
    return e ? e->text : "unknown result";
}

std::string resultCodeHex(int code)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(code));
    return buf;
}

std::string describeResult(int code, ResultEvent event)
{
    return std::string(resultCodeText(code, event)) + " (" + resultCodeHex(code) + ")";
}

std::string describeLoginResult(int code, int systemError)
{
    std::string text = resultCodeText(code);
    if (code == result_code::CONNECT_FAILED && systemError != 0)
        text += ": " + systemErrorText(systemError);
    return text + " (" + resultCodeHex(code) + ")";
}

std::string systemErrorText(int error)
{
    std::string t = std::strerror(error);
    if (!t.empty())
        t[0] = char(std::tolower(static_cast<unsigned char>(t[0])));
    return t;
}

}   // namespace kevra
