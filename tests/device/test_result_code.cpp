// The table of result codes: every code the device link reports has a name and a text, and the
// printed form keeps the code for people to search for.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

#include "device/ResultCode.h"

namespace kevra {
namespace {

TEST(ResultCode, EveryCodeHasItsOwnNameAndAText)
{
    int count = 0;
    const int* codes = resultCodes(count);
    // 0, 1, 3, 4, 5, 0x1001-0x100E and 0x1010-0x1011.
    ASSERT_EQ(count, 5 + 14 + 2);
    std::set<std::string> names, texts;
    for (int i = 0; i < count; ++i) {
        const std::string name = resultCodeName(codes[i]);
        const std::string text = resultCodeText(codes[i]);
        EXPECT_NE(name, "UNKNOWN") << codes[i];
        EXPECT_NE(text, "unknown result") << codes[i];
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_TRUE(texts.insert(text).second) << text;
    }
    for (int code = 0x1001; code <= 0x100E; ++code)
        EXPECT_NE(std::string(resultCodeName(code)), "UNKNOWN") << code;
}

TEST(ResultCode, PrintedWithTheCode)
{
    const struct {
        int code;
        ResultEvent event;
        const char* printed;
    } cases[] = {
        {0x1003, ResultEvent::Login, "wrong password (0x1003)"},
        {0x100A, ResultEvent::Login, "cannot connect to the recorder (0x100A)"},
        {0x1011, ResultEvent::Channel, "no such camera (0x1011)"},
        {3, ResultEvent::List, "no camera list from the recorder in time (0x3)"},
        {0x1001, ResultEvent::Login, "login refused by the recorder (0x1001)"},
        {0x1001, ResultEvent::List, "the recorder's camera list is empty (0x1001)"},
        {0x2004, ResultEvent::Login, "unknown result (0x2004)"},
        {-1, ResultEvent::Login, "unknown result (0xFFFFFFFF)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describeResult(c.code, c.event), c.printed);
}

TEST(ResultCode, ALoginResultNamesTheSystemReasonOnlyForAConnectFailure)
{
    EXPECT_EQ(describeLoginResult(0x100A, ECONNREFUSED),
              "cannot connect to the recorder: connection refused (0x100A)");
    EXPECT_EQ(describeLoginResult(0x100A, 0), "cannot connect to the recorder (0x100A)");
    EXPECT_EQ(describeLoginResult(0x1003, ECONNREFUSED), "wrong password (0x1003)");
}

TEST(ResultCode, RefusalReasonsMapOntoTheirCodes)
{
    const struct {
        int reason, code;
    } cases[] = {{0, 0x1002}, {1, 0x1003}, {2, 0x100E}, {7, 0x1009}, {8, 4}, {-1, 4}, {127, 4}};
    for (const auto& c : cases)
        EXPECT_EQ(result_code::refusedWithReason(c.reason), c.code) << c.reason;
}

}   // namespace
}   // namespace kevra
