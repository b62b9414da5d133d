// The viewer's recordings (RecordingController) without a window: names and folders, and a
// recording fed from another thread that starts with the stream's latest key frame and goes on
// in a new part when its stream comes back.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "app/RecordingController.h"
#include "remux/support/ClipProbe.h"
#include "remux/support/TestStream.h"

namespace kevra {
namespace {

std::time_t localTime(int y, int mo, int d, int h, int mi, int s)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST(RecordingController, NamesFoldersAndElapsedTime)
{
    const std::time_t when = localTime(2026, 12, 7, 17, 52, 3);
    const struct {
        std::string camera, file;
    } names[] = {
        {"Lobby", "Lobby_2026-12-07_17-52-03.mp4"},
        {" 大门/Gate:1 ", "大门_Gate_1_2026-12-07_17-52-03.mp4"},
        {"", "camera_2026-12-07_17-52-03.mp4"},
        {"..", "camera.._2026-12-07_17-52-03.mp4"},
        {std::string(63, 'a') + "门", std::string(63, 'a') + "_2026-12-07_17-52-03.mp4"},
    };
    for (const auto& n : names)
        EXPECT_EQ(RecordingController::fileName(n.camera, when), n.file);
    EXPECT_EQ(RecordingController::elapsedText(7999), "0:07");
    EXPECT_EQ(RecordingController::elapsedText(754000), "12:34");
    EXPECT_EQ(RecordingController::elapsedText(3723000), "1:02:03");

    // The videos folder of the user-dirs file, made when missing; ~/Videos without one.
    const std::string home = ::testing::TempDir() + "rec_home_" + std::to_string(::getpid());
    ::mkdir(home.c_str(), 0755);
    ::mkdir((home + "/.config").c_str(), 0755);
    const char* savedHome = std::getenv("HOME");
    const std::string restoreHome = savedHome ? savedHome : "";
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    struct stat st {};
    {
        // Made only when a recording starts, not with the viewer.
        RecordingController recordings;
        EXPECT_NE(::stat((home + "/Videos").c_str(), &st), 0);
        ASSERT_TRUE(recordings.start(CameraId{0, 1}, "Gate").ok);
        EXPECT_EQ(::stat((home + "/Videos").c_str(), &st), 0);
    }
    EXPECT_EQ(RecordingController::videosFolder(), home + "/Videos");
    std::ofstream(home + "/.config/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                    << "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n";
    EXPECT_EQ(RecordingController::videosFolder(), home + "/Filme");
    EXPECT_EQ(::stat((home + "/Filme").c_str(), &st), 0);
    ::setenv("HOME", restoreHome.c_str(), 1);
    std::system(("rm -rf '" + home + "'").c_str());
}

TEST(RecordingController, StartsWithTheLatestKeyFrameAndGoesOnInANewPart)
{
    const std::string folder = ::testing::TempDir() + "rec_videos_" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0755);
    const std::time_t when = localTime(2026, 12, 7, 17, 52, 3);
    std::ofstream(folder + "/Gate_2026-12-07_17-52-03.mp4") << "an earlier clip";

    TestStream::Shape shape;
    shape.frames = 30;
    shape.gop = 10;
    const std::vector<std::vector<uint8_t>> packets = TestStream::make(shape);
    {
        RecordingController recordings(folder);
        // The network thread feeds the stream shown; frames from..to-1.
        const CameraId gate{0, 2}, yard{0, 3};
        auto network = [&](CameraId camera, int from, int to) {
            std::thread([&] {
                for (int i = from; i < to; ++i)
                    recordings.feed(camera, packets[size_t(i)].data(),
                                    int(packets[size_t(i)].size()));
            }).join();
        };
        network(gate, 0, 25);   // playing, not recording yet: key frames at 0, 10 and 20
        const RecordingController::Started started = recordings.start(gate, "Gate", when);
        ASSERT_TRUE(started.ok) << started.error;
        EXPECT_EQ(started.path, folder + "/Gate_2026-12-07_17-52-03_2.mp4");   // not replaced
        EXPECT_EQ(recordings.start(gate, "Gate", when).path, started.path);    // already recording

        network(gate, 25, 30);
        // The connection is lost and the stream comes back.
        recordings.streamRestarted(gate);
        network(gate, 0, 30);
        network(CameraId{0, 5}, 0, 1);   // shown, not recording: nothing written
        network(CameraId{1, 2}, 0, 5);   // the same channel of another recorder: not this clip

        const ClipRecorder::Status st = recordings.stop(gate);
        EXPECT_FALSE(recordings.recording(gate));
        EXPECT_FALSE(st.failed) << st.error;
        ASSERT_EQ(st.files.size(), 2u);
        EXPECT_EQ(st.files[1].path, folder + "/Gate_2026-12-07_17-52-03_2_2.mp4");
        EXPECT_EQ(st.frames, 40);
        EXPECT_GE(st.firstFrameMs, 0);
        const int frames[] = {10, 30};   // from frame 20 on, then the whole new stream
        for (int i = 0; i < 2; ++i) {
            const ClipProbe p = ClipProbe::of(st.files[size_t(i)].path);
            EXPECT_EQ(p.frames, frames[i]) << st.files[size_t(i)].path;
            EXPECT_TRUE(p.firstKey);
            EXPECT_NEAR(p.duration, frames[i] / double(TestStream::kFps), 1.0 / TestStream::kFps);
            EXPECT_EQ(p.decodeErrors, "");
        }

        // Exit closes what still records.
        ASSERT_TRUE(recordings.start(yard, "Yard", when).ok);
        network(yard, 0, 1);
    }
    EXPECT_EQ(ClipProbe::of(folder + "/Yard_2026-12-07_17-52-03.mp4").frames, 1);
    std::system(("rm -rf '" + folder + "'").c_str());
}

}   // namespace
}   // namespace kevra
