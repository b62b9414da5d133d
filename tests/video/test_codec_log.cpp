#include "video/CodecLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

using namespace kevra;

// libavcodec's messages reach the installed sink as whole lines, by importance, and a flood is
// cut to the per-second bound; silence() drops them.
TEST(CodecLog, LinesGoToTheSinkBoundedAndWhole)
{
    std::vector<std::string> lines;
    CodecLog::install([&](const std::string& line) { lines.push_back(line); });
    av_log(nullptr, AV_LOG_ERROR, "first %d\n", 1);
    av_log(nullptr, AV_LOG_WARNING, "in ");
    av_log(nullptr, AV_LOG_WARNING, "pieces\n");
    av_log(nullptr, AV_LOG_INFO, "not important enough\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "first 1");
    EXPECT_EQ(lines[1], "in pieces");
    for (int i = 0; i < 3 * CodecLog::kLinesPerSecond; ++i)
        av_log(nullptr, AV_LOG_ERROR, "concealing errors\n");
    EXPECT_LE(lines.size(), size_t(CodecLog::kLinesPerSecond));
    CodecLog::silence();
    const size_t before = lines.size();
    av_log(nullptr, AV_LOG_ERROR, "dropped\n");
    EXPECT_EQ(lines.size(), before);
}
