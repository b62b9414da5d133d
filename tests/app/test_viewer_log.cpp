// The viewer's event log lines.
#include "app/ViewerLog.h"
#include "device/ResultCode.h"

#include <gtest/gtest.h>

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

}   // namespace

TEST_F(CapturedLog, LoginAndFailureLinesNameTheFailureWithItsCode)
{
    ViewerLog::login("127.0.0.1", 34567, result_code::OK, 0);
    ViewerLog::login("127.0.0.1", 34567, result_code::WRONG_PASSWORD, 0);
    ViewerLog::login("127.0.0.1", 1, result_code::CONNECT_FAILED, ECONNREFUSED);
    ViewerLog::login("nosuch.invalid", 34567, result_code::HOST_UNRESOLVED, 0);
    ViewerLog::channelOpened(1, result_code::OK);
    ViewerLog::channelOpened(0, result_code::CHANNEL_FAILED);
    ViewerLog::channelStopped(1);
    ViewerLog::detail("status: Playing");   // quiet unless verbose
    // Another recorder's cameras: named by the recorder's name, one way in every line.
    ViewerLog::channelStopped(2, 1);
    ViewerLog::setRecorderName(1, "Shop");
    ViewerLog::channelOpened(2, result_code::OK, 1);
    ViewerLog::channelStopped(2, 1);
    ViewerLog::setRecorderName(1, "");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(text(0), "login to 127.0.0.1:34567 accepted");
    EXPECT_EQ(text(1), "login to 127.0.0.1:34567 failed: wrong password (0x1003)");
    EXPECT_EQ(
        text(2),
        "login to 127.0.0.1:1 failed: cannot connect to the recorder: connection refused (0x100A)");
    EXPECT_EQ(text(3), "login to nosuch.invalid:34567 failed: unknown host name (0x100D)");
    EXPECT_EQ(text(4), "camera 2 opened");
    EXPECT_EQ(text(5),
              "camera 1 could not be opened: cannot open the camera's connection (0x100C)");
    EXPECT_EQ(text(6), "camera 2 stopped");
    EXPECT_EQ(text(7), "camera 3 of recorder 2 stopped");
    EXPECT_EQ(text(8), "camera 3 of Shop opened");
    EXPECT_EQ(text(9), "camera 3 of Shop stopped");
    EXPECT_EQ(ViewerLog::cameraText(2, 1), "camera 3 of recorder 2");

    ViewerLog::setVerbose(true);
    ViewerLog::detail("status: Playing");
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(text(10), "status: Playing");
}
