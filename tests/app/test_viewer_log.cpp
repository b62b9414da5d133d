// The viewer's event log lines and the login failure kinds behind the failure message.
#include "app/LoginFailure.h"
#include "app/ViewerLog.h"
#include "device/ResultCode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

using namespace kevra;

namespace {

struct CapturedLog : ::testing::Test {
    std::vector<std::string> lines;
    void SetUp() override
    {
        ViewerLog::setOutput([this](const std::string& l) { lines.push_back(l); });
    }
    void TearDown() override
    {
        ViewerLog::setOutput(nullptr);
        ViewerLog::setVerbose(false);
    }
    // The line without "kevra: HH:MM:SS ".
    std::string text(size_t i) const
    {
        const std::string& l = lines.at(i);
        EXPECT_EQ(l.rfind("kevra: ", 0), 0u) << l;
        return l.size() > 16 ? l.substr(16) : std::string();
    }
};

} // namespace

TEST_F(CapturedLog, LoginAndFailureLinesNameTheFailureWithItsCode)
{
    ViewerLog::login("127.0.0.1", 34567, result_code::OK, 0);
    ViewerLog::login("127.0.0.1", 34567, result_code::WRONG_PASSWORD, 0);
    ViewerLog::login("127.0.0.1", 1, result_code::CONNECT_FAILED, ECONNREFUSED);
    ViewerLog::login("nosuch.invalid", 34567, result_code::HOST_UNRESOLVED, 0);
    ViewerLog::channelOpened(1, result_code::OK);
    ViewerLog::channelOpened(0, result_code::CHANNEL_FAILED);
    ViewerLog::channelStopped(1);
    ViewerLog::detail("status PLAYING");   // quiet unless verbose
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(text(0), "login to 127.0.0.1:34567 accepted");
    EXPECT_EQ(text(1), "login to 127.0.0.1:34567 failed: wrong password (0x1003)");
    EXPECT_EQ(text(2), "login to 127.0.0.1:1 failed: cannot connect to the recorder: connection refused (0x100A)");
    EXPECT_EQ(text(3), "login to nosuch.invalid:34567 failed: unknown host name (0x100D)");
    EXPECT_EQ(text(4), "camera 2 opened");
    EXPECT_EQ(text(5), "camera 1 could not be opened: cannot open the camera's connection (0x100C)");
    EXPECT_EQ(text(6), "camera 2 stopped");

    ViewerLog::setVerbose(true);
    ViewerLog::detail("status PLAYING");
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(text(7), "status PLAYING");
}

TEST(LoginFailure, EachFailureKindHasItsOwnKey)
{
    using namespace result_code;
    struct Case { int code; int systemError; const char16_t* key; } cases[] = {
        {WRONG_PASSWORD, 0, u"LOGIN_ERR_PASSWD"},
        {UNKNOWN_USER, 0, u"LOGIN_ERR_USER"},
        {REFUSED, 0, u"LOGIN_ERR_REFUSED"},
        {REFUSED_REASON_5, 0, u"LOGIN_ERR_REFUSED"},
        {REFUSED_OTHER_REASON, 0, u"LOGIN_ERR_REFUSED"},
        {LOGIN_TIMEOUT, 0, u"LOGIN_ERR_TIMEOUT"},
        {CONNECT_FAILED, ECONNREFUSED, u"LOGIN_ERR_CONN_REFUSED"},
        {CONNECT_FAILED, ETIMEDOUT, u"LOGIN_ERR_NO_ANSWER"},
        {CONNECT_FAILED, 0, u"LOGIN_ERR_CONNECT"},
        {HOST_UNRESOLVED, 0, u"LOGIN_ERR_HOST"},
        {LOGIN_NOT_SENT, 0, u"LOGIN_ERR_SEND"},
        {0x4242, 0, u"LOGIN_ERR_OTHER"},
    };
    int count = 0;
    const char16_t* const* keys = LoginFailure::keys(count);
    const std::vector<std::u16string> known(keys, keys + count);
    for (const Case& c : cases) {
        EXPECT_EQ(std::u16string(LoginFailure::key(c.code, c.systemError)), c.key) << std::hex << c.code;
        EXPECT_NE(std::find(known.begin(), known.end(), c.key), known.end());
    }
    EXPECT_EQ(LoginFailure::codeSuffix(WRONG_PASSWORD), u" (0x1003)");
}
