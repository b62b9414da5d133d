// The real viewer program, run as a user would, against the simulated recorder: the test-only
// action script (KEVRA_TEST_ACTIONS, read by the kevra-scripted build of the viewer) logs in, plays, switches, goes full screen and ends the
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
#include <filesystem>
#include <fstream>
#include <functional>
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
    std::string output;   // standard output and error of the program
};

struct ViewerStart {
    std::vector<std::string> args;   // after the program's name
    // Environment changes: "NAME=value" sets, a bare "NAME" removes.
    std::vector<std::string> env;
    std::function<void(pid_t)> whileRunning;   // on a thread of its own while the program runs
    int timeoutSeconds = 120;
    std::string loginIni;   // login.ini's lines (ASCII), written as the viewer writes it
};

// Runs the viewer with the script (none when empty) on the offscreen platform, with a settings
// folder of its own; kills it after the time limit.
ViewerRun runViewer(const std::string& script, const ViewerStart& start = {})
{
    const std::string dir =
        "/tmp/kevra-program-" + std::to_string(getpid()) + "-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    mkdir(dir.c_str(), 0700);
    const std::string scriptPath = dir + "/actions.txt", errPath = dir + "/stderr.txt";
    std::ofstream(scriptPath) << script;
    if (!start.loginIni.empty()) {   // UTF-16LE beside the script, where a scripted run reads it
        std::ofstream ini(dir + "/login.ini", std::ios::binary);
        for (char c : start.loginIni)
            ini << c << '\0';
    }

    std::vector<std::string> changes{"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + dir,
                                     "KEVRA_TEST_ACTIONS" +
                                         (script.empty() ? "" : "=" + scriptPath)};
    changes.insert(changes.end(), start.env.begin(), start.env.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const std::string& c : changes) {
        const std::string name = c.substr(0, c.find('=')) + "=";
        std::erase_if(env, [&](const std::string& v) { return v.rfind(name, 0) == 0; });
        if (c.find('=') != std::string::npos)
            env.push_back(c);
    }
    std::vector<char*> envp;
    for (auto& v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    // The shipped viewer, or its build with the action script when a script drives it.
    std::string program =
        std::string(KEVRA_BIN_DIR) + (script.empty() ? "/kevra" : "/kevra-scripted");
    std::vector<std::string> args = start.args;
    std::vector<char*> argv{program.data()};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ViewerRun run;
    if (r != 0)
        return run;
    std::thread during;
    if (start.whileRunning)
        during = std::thread(start.whileRunning, pid);
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::seconds(start.timeoutSeconds);
    // Not reaped before the thread is done, so the pid it may signal stays this program's.
    siginfo_t info{};
    bool late = false;
    while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            late = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (during.joinable())
        during.join();
    int status = 0;
    waitpid(pid, &status, 0);
    if (!late)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream err(errPath);
    run.output.assign(std::istreambuf_iterator<char>(err), {});
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
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

// A stop from the system ends the program as Exit does, with status 0, also while it logs in
// again after the recorder went away; the recorder itself ends cleanly on SIGINT.
TEST(ProgramSignals, EndTheProgramAsExitDoes)
{
    const struct {
        int signo;
        bool recorderGone;
    } cases[] = {{SIGTERM, false}, {SIGINT, false}, {SIGHUP, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(sigabbrev_np(c.signo));
        RecorderProcess rec({"--size", "176x144"});
        ASSERT_TRUE(rec.start());
        ViewerStart start;
        start.whileRunning = [&](pid_t pid) {
            if (rec.waitFor({"\"event\":\"camera\"", "\"state\":\"streaming\""}, 60000).empty())
                return;
            if (c.recorderGone) {
                rec.kill();
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));   // retries run
            }
            kill(pid, c.signo);
        };
        const ViewerRun run = runViewer("login 127.0.0.1 " + std::to_string(rec.port()) +
                                            " admin 580317\nplay 0\nwait 120000\n",
                                        start);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("ending on signal SIG"), std::string::npos) << run.output;
        if (c.recorderGone)
            continue;
        EXPECT_FALSE(rec.waitFor({"\"event\":\"camera\"", "\"state\":\"idle\""}, 2000).empty());
        // The stop itself reached the recorder, not only the closed connection.
        EXPECT_FALSE(rec.waitFor({"\"event\":\"stream\"", "\"op\":\"stop\""}, 2000).empty());
        ::kill(rec.pid(), SIGINT);
        EXPECT_FALSE(rec.waitFor({"\"event\":\"stopped\""}, 5000).empty());
        EXPECT_EQ(rec.stop(), 0);
    }
}

// Help, version, a wrong option and a missing or unreachable display are answered without a
// window (and without Qt's abort).
TEST(ProgramCommandLine, HelpVersionErrorsAndNoDisplay)
{
    const std::vector<std::string> noDisplay{"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    const struct {
        std::vector<std::string> args, env;
        int status;
        const char* says;
    } cases[] = {
        {{"--help"}, noDisplay, 0, "Usage: kevra"},
        {{"--version"}, noDisplay, 0, "kevra 1."},
        {{}, noDisplay, 1, "kevra: no display"},
        {{}, {"QT_QPA_PLATFORM=xcb", "DISPLAY", "WAYLAND_DISPLAY"}, 1, "kevra: no display"},
        {{},
         {"QT_QPA_PLATFORM", "DISPLAY=:79", "WAYLAND_DISPLAY"},
         1,
         "kevra: cannot open display :79\n"},
        {{"-display", ":78"}, {"QT_QPA_PLATFORM=xcb"}, 1, "kevra: cannot open display :78"},
        {{"--bogus"}, noDisplay, 2, "kevra: unknown option '--bogus'\nUsage: kevra"},
        {{"camera1"}, noDisplay, 2, "unexpected argument 'camera1'"},
        {{"-style"}, noDisplay, 2, "option '-style' needs a value"},
    };
    for (const auto& c : cases) {
        const ViewerRun run = runViewer("", {c.args, c.env, {}, 30, {}});
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }
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

namespace kevra {

// Two recorders in login.ini: once both have listed their cameras, key 4 fills the grid in tree
// order, the first recorder's two cameras and then the second's, each tile playing its own
// recorder's picture; Exit stops the streams at both recorders.
TEST(ProgramGrid, KeyFourFillsTheGridFromBothRecordersInTreeOrder)
{
    RecorderProcess a({"--cameras", "Gate&&Lobby", "--size", "176x144"});
    RecorderProcess b({"--cameras", "Till&&Store", "--size", "176x144"});
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    const std::string shot = "/tmp/kevra-recorders-" + std::to_string(getpid()) + ".png";
    ViewerStart start;
    start.loginIni = "[login]\r\nIP1=127.0.0.1\r\nPort1=" + std::to_string(b.port()) +
                     "\r\nUser1=admin\r\nPwd1=580317\r\nName1=Shop\r\n";
    const ViewerRun run = runViewer(
        "login 127.0.0.1 " + std::to_string(a.port()) +
            " admin 580317\ntreecameras 4\nkey 4\ntiles 4\nwait 300\nshot " + shot + "\nexit\n",
        start);
    EXPECT_EQ(run.status, 0) << run.output;
    QImage img(QString::fromStdString(shot));
    std::remove(shot.c_str());
    ASSERT_FALSE(img.isNull()) << run.output;
    // Each recorder's camera 1 is red and camera 2 green: tiles 0, 2 red; 1, 3 green.
    const int w = img.width(), h = img.height();
    for (int tile = 0; tile < 4; ++tile) {
        const QRect quarter((tile % 2) * w / 2, (tile / 2) * h / 2, w / 2, h / 2);
        const bool red = tile % 2 == 0;
        EXPECT_GT(colourShare(img, quarter, red ? 200 : 40, red ? 40 : 160, red ? 40 : 60), 0.3)
            << "tile " << tile;
    }
    for (RecorderProcess* r : {&a, &b})
        for (const char* channel : {"\"channel\":0", "\"channel\":1"})
            EXPECT_FALSE(
                r->waitFor({"\"event\":\"stream\"", channel, "\"op\":\"stop\""}, 2000).empty())
                << (r == &a ? "first" : "second") << " recorder, " << channel;
}

}   // namespace kevra
