// The real viewer program, run as a user would, against the simulated recorder: the test-only
// action script (KEVRA_TEST_ACTIONS) logs in, plays, switches, goes full screen and ends the
// program by each of its ways out while a camera plays. The program must end by itself with
// status 0 every time (the sanitizer builds run this too), and after a switch the recorder
// streams only the camera shown.
#include "tools/support/RecorderProcess.h"

#include <QImage>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kevra {
namespace {

struct ViewerRun {
    int status = -1;      // exit status, or -1 when it did not end by itself in time
    std::string output;   // standard error of the program
};

// Runs the viewer with the script; kills it after the time limit.
ViewerRun runViewer(const std::string& script, int timeoutSeconds = 120)
{
    const std::string dir =
        "/tmp/kevra-program-" + std::to_string(getpid()) + "-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    mkdir(dir.c_str(), 0700);
    const std::string scriptPath = dir + "/actions.txt", errPath = dir + "/stderr.txt";
    std::ofstream(scriptPath) << script;

    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen", "KEVRA_TEST_ACTIONS=" + scriptPath};
    for (char** e = environ; *e; ++e) {
        const std::string v(*e);
        if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("KEVRA_TEST_ACTIONS=", 0) != 0)
            env.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string program = std::string(KEVRA_BIN_DIR) + "/kevra";
    char* argv[] = {program.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ViewerRun run;
    if (r != 0)
        return run;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (status != -1)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream err(errPath);
    run.output.assign(std::istreambuf_iterator<char>(err), {});
    std::remove(scriptPath.c_str());
    std::remove(errPath.c_str());
    std::remove((dir + "/login.ini").c_str());
    rmdir(dir.c_str());
    return run;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rec.start()); }
    std::string login() const
    {
        return "login 127.0.0.1 " + std::to_string(rec.port()) + " admin 580317\n";
    }
    RecorderProcess rec{{"--size", "176x144", "--fps", "25"}};
};

TEST_F(Program, PlaySwitchFullScreenAndExit)
{
    // "wait" leaves the switched stream time to settle before the program looks at the recorder.
    const ViewerRun run = runViewer(login() + "play 0\ncamera\nplay 1\nwait 800\nfull\nwait 500\n"
                                              "key up\nkey left\nwait 200\nexit\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("script: line"), std::string::npos) << run.output;
    // Camera 1 was stopped at the recorder when camera 2 was chosen (before the program ended).
    EXPECT_FALSE(
        rec.waitFor({"\"event\":\"stream\"", "\"channel\":0", "\"op\":\"stop\""}, 1000).empty());
    int streamingAfterSwitch = -1;
    std::set<int> on;
    for (const std::string& line : rec.events()) {   // state right before the program ended
        if (RecorderProcess::field(line, "event") == "ptz")
            streamingAfterSwitch = int(on.size());
        if (RecorderProcess::field(line, "event") == "camera") {
            const int ch = std::stoi(RecorderProcess::field(line, "channel"));
            if (RecorderProcess::field(line, "state") == "streaming")
                on.insert(ch);
            else
                on.erase(ch);
        }
    }
    EXPECT_EQ(streamingAfterSwitch, 1) << "cameras streaming while camera 2 was shown";
    // The program closed its connections on the way out: nothing streams any more.
    for (int i = 0; i < 100 && !rec.streamingCameras().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(rec.streamingCameras().empty());
}

TEST_F(Program, ExitFromTheCameraTreeWhilePlaying)
{
    const ViewerRun run = runViewer(login() + "play 0\ncamera\nexit\n");
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST_F(Program, LoginCancelWhilePlayingEndsTheProgram)
{
    const ViewerRun run = runViewer(login() + "play 1\nrelogin\ncancel\n");
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST_F(Program, RecorderKilledAndRestartedOnTheSamePortThePictureReturnsByItself)
{
    // The recorder dies while camera 1 plays and comes back on its port half a second later;
    // the program, given no further input, must log in again and show pictures again.
    const int port = rec.port();
    std::unique_ptr<RecorderProcess> second;
    std::thread restarter([&] {
        if (rec.waitFor({"\"event\":\"camera\"", "\"state\":\"streaming\""}, 60000).empty())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        rec.kill();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        second = std::make_unique<RecorderProcess>(std::vector<std::string>{
            "--size", "176x144", "--fps", "25", "--port", std::to_string(port)});
        second->start();
    });
    const ViewerRun run = runViewer(login() + "play 0\nwaitreconnect\nexit\n");
    restarter.join();
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(second && second->port() == port);
    EXPECT_NE(run.output.find("script: reconnected"), std::string::npos) << run.output;
    // The second recorder saw the login and streamed camera 1 again.
    EXPECT_FALSE(
        second->waitFor({"\"event\":\"camera\"", "\"channel\":0", "\"state\":\"streaming\""}, 1000)
            .empty());
}

}   // namespace
}   // namespace kevra

namespace kevra {
namespace {

// Share of the pixels in a rectangle of the image within 30 of an RGB colour.
double colourShare(const QImage& img, const QRect& r, int red, int green, int blue)
{
    int hits = 0, all = 0;
    for (int y = r.top(); y <= r.bottom(); y += 2)
        for (int x = r.left(); x <= r.right(); x += 2, ++all) {
            const QColor c = img.pixelColor(x, y);
            hits += std::abs(c.red() - red) <= 30 && std::abs(c.green() - green) <= 30 &&
                    std::abs(c.blue() - blue) <= 30;
        }
    return all ? double(hits) / all : 0;
}

}   // namespace

// Key 4 after login: the four tiles show cameras 1-4, each in its own corner of the grid.
TEST(ProgramGrid, KeyFourShowsFourCamerasInTheirTiles)
{
    RecorderProcess rec({"--cameras", "Gate&&Lobby&&Parking&&Yard&&Dock", "--size", "176x144"});
    ASSERT_TRUE(rec.start());
    const std::string shot = "/tmp/kevra-grid-" + std::to_string(getpid()) + ".png";
    const ViewerRun run =
        runViewer("login 127.0.0.1 " + std::to_string(rec.port()) +
                  " admin 580317\nkey 4\ntiles 4\nwait 300\nshot " + shot + "\nexit\n");
    EXPECT_EQ(run.status, 0) << run.output;
    QImage img(QString::fromStdString(shot));
    std::remove(shot.c_str());
    ASSERT_FALSE(img.isNull()) << run.output;
    // Background colours of cameras 1-4 (red, green, blue, yellow), row by row.
    const int colours[4][3] = {{200, 40, 40}, {40, 160, 60}, {40, 60, 200}, {200, 180, 40}};
    const int w = img.width(), h = img.height();
    for (int tile = 0; tile < 4; ++tile) {
        const QRect quarter((tile % 2) * w / 2, (tile / 2) * h / 2, w / 2, h / 2);
        for (int cam = 0; cam < 4; ++cam) {
            const double s =
                colourShare(img, quarter, colours[cam][0], colours[cam][1], colours[cam][2]);
            // (Another camera's accent box may come near a background colour: a few percent.)
            if (cam == tile)
                EXPECT_GT(s, 0.3) << "tile " << tile << " does not show camera " << cam + 1;
            else
                EXPECT_LT(s, 0.1) << "tile " << tile << " shows camera " << cam + 1;
        }
    }
    // Only the four shown cameras were streamed.
    EXPECT_TRUE(rec.waitFor({"\"event\":\"stream\"", "\"channel\":4"}, 10).empty());
}

}   // namespace kevra
