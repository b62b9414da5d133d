// The viewer coordinator without a window: a fake view, fake stream devices and real recorder
// sessions against scripted recorders on 127.0.0.1, on the manual clock. Login routing per
// attempt, what a login to another recorder leaves, a tile shown alone and back, saving in a
// grid, the remembered view, recovery of lost sessions and of closed or silent media.
#include "app/LiveViewDevice.h"
#include "app/PictureSurface.h"
#include "app/TileSurface.h"
#include "app/Viewer.h"
#include "app/ViewerLog.h"
#include "app/ViewerRecordings.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "device/support/ScriptedRecorder.h"
#include "profile/Language.h"
#include "profile/LoginSettings.h"
#include "profile/RecorderList.h"
#include "profile/ViewSettings.h"
#include "session/RecorderSession.h"
#include "remux/support/ClipProbe.h"
#include "tools/support/RecorderProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace kevra;

namespace {

struct FakeView : ViewerView {
    std::mutex mutex;
    std::deque<std::function<void()>> work;
    std::vector<std::u16string> cameras;
    std::u16string status;
    bool video = false;
    int tiles = 0;
    bool full = false;
    int dialogs = 0, lostBoxes = 0;
    bool ended = false;
    std::vector<int> dialogResults;
    std::vector<std::u16string> errors;
    std::vector<RecorderNode> recorders;   // the tree, the dialog's recorder first
    std::function<void(int)> onDialogResult;

    void post(std::function<void()> w) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        work.push_back(std::move(w));
    }
    void runPosted()
    {
        for (;;) {
            std::function<void()> w;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (work.empty())
                    return;
                w = std::move(work.front());
                work.pop_front();
            }
            w();
        }
    }
    void setCameraShown(CameraId, bool) override {}
    void showRecorders(const std::vector<RecorderNode>& n) override
    {
        recorders = n;
        cameras = n.empty() ? std::vector<std::u16string>{} : n.front().cameras;
    }
    void showTreeMode() override { video = false; }
    void showVideoMode() override { video = true; }
    bool videoMode() const override { return video; }
    void showStatus(const std::u16string& t) override { status = t; }
    void showTiles(int count, int, bool fullScreen) override
    {
        tiles = count;
        full = fullScreen;
    }
    void refreshTiles() override {}
    void refreshNotice() override {}
    void fillVideoAreaBlack() override {}
    Rect videoAreaToScreen(const Rect& r) const override { return r; }
    void moveVideoArea(const Rect&, bool) override {}
    void openLoginDialog() override { ++dialogs; }
    void loginDialogResult(int code, int) override
    {
        dialogResults.push_back(code);
        if (onDialogResult)
            onDialogResult(code);
    }
    void showConnectionLost() override { ++lostBoxes; }
    void showError(const std::u16string& t) override { errors.push_back(t); }
    void endProgram() override { ended = true; }
};

// A stream's device: counts opens and stops, never makes pictures; its media times are set by
// the test (a silent stream keeps its open time).
struct FakeDevice : LiveViewDevice {
    std::atomic<int>& opens;
    std::atomic<int>& stops;
    std::atomic<int> channel{-1};
    std::atomic<uint64_t> opened{0};
    FakeDevice(std::atomic<int>& o, std::atomic<int>& s) : opens(o), stops(s) {}
    void openChannel(int ch, int) override
    {
        ++opens;
        channel = ch;
        opened = Clock::nowMs();
    }
    void stopChannel() override
    {
        if (channel.exchange(-1) != -1)
            ++stops;
        opened = 0;
    }
    void setPixelFormat(PixelFormat) override {}
    bool takePicture(Picture&) override { return false; }
    void giveBack(const Picture&) override {}
    int buffering(int) override { return 1; }
    int frameRate() const override { return 25; }
    uint64_t openedMs() const override { return opened.load(); }
};

struct NullPicture : PictureSurface {
    int create(int, int) override { return 32; }
    int present(const uint8_t*, const Rect&, bool) override { return 0; }
};
struct NullTiles : TileSurface {
    void presentTile(int, const uint8_t*, int, int, int, bool) override {}
    void tileStateChanged(int) override {}
    void clearTile(int) override {}
};

std::vector<std::string> names(int n)
{
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i)
        v.push_back("Cam" + std::to_string(i + 1));
    return v;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clock::useManual();
        Language::setFilePath(fromUtf8(std::string(KEVRA_BIN_DIR) + "/language_eng.ini"));
        ViewerLog::setOutput([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            log += line + "\n";
        });
        char pattern[] = "/tmp/kevra-viewer-XXXXXX";
        dir = mkdtemp(pattern);
        settings = fromUtf8(dir + "/login.ini");
        for (ScriptedRecorder* r : {&a, &b}) {
            ASSERT_GT(r->start(), 0);
            r->answerLogin(ScriptedRecorder::LoginAnswer{});
            r->answerKeepalive(true);
            r->answerList(RecorderMessages::buildListReply(names(4)));
        }
        view.onDialogResult = [this](int code) {
            // The dialog closes itself on an accepted login.
            if (code == 0)
                viewer->loginDialogClosed(false, settings, u"127.0.0.1", loggedInPort);
        };
        viewer = std::make_unique<Viewer>(view, picture, tiles, [this](CameraId) {
            return std::make_unique<FakeDevice>(opens, stops);
        });
    }
    void TearDown() override
    {
        viewer.reset();
        ViewerLog::setOutput(nullptr);
        Language::setFilePath(u"");
        Clock::useReal();
    }
    // Runs posted work until done() or 5 s of real time.
    bool settle(const std::function<bool()>& done)
    {
        for (int i = 0; i < 2500; ++i) {
            view.runPosted();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    void settleFor(int ms)
    {
        settle([&, until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)] {
            return std::chrono::steady_clock::now() >= until;
        });
    }
    // The login dialog's Login with the address of recorder r (saved to login.ini first, as
    // the dialog does); true once its camera list arrived.
    bool logIn(ScriptedRecorder& r)
    {
        LoginSettings::save(settings, u"127.0.0.1", fromUtf8(std::to_string(r.port())), u"admin",
                            u"580317");
        viewer->requestLogin();
        loggedInPort = r.port();
        const size_t results = view.dialogResults.size();
        viewer->logInByHand({"127.0.0.1", r.port(), "admin", "580317"});
        view.cameras.clear();
        return settle([&] { return view.dialogResults.size() > results && !view.cameras.empty(); });
    }
    // Advances the clock and lets the coordinator's poll see it.
    void advance(uint64_t ms)
    {
        Clock::advance(ms);
        viewer->poll();
    }
    // The login dialog's recorder's session, as its network thread reports to it.
    RecorderSession& events() { return *viewer->session(Viewer::kDialogRecorder); }
    const RecoveryController& recovery() { return events().recovery(); }
    void loseSession()
    {
        events().onConnectionLost();
        view.runPosted();
    }
    std::string logText()
    {
        std::lock_guard<std::mutex> lock(logMutex);
        return log;
    }

    ScriptedRecorder a, b;
    FakeView view;
    NullPicture picture;
    NullTiles tiles;
    std::atomic<int> opens{0}, stops{0};
    std::unique_ptr<Viewer> viewer;
    std::string dir;
    std::u16string settings;
    int loggedInPort = 0;
    std::mutex logMutex;
    std::string log;
};

TEST_F(ViewerTest, EachLoginResultGoesToTheAttemptThatAskedForIt)
{
    ASSERT_TRUE(logIn(a));
    // The recorder goes away: the session is lost and its retries lead nowhere.
    a.stop();
    loseSession();
    ASSERT_TRUE(recovery().sessionRecovering());
    advance(1000);   // the first retry goes out to the dead address...
    // ... and before its answer is read, a login by hand to a working recorder.
    ASSERT_TRUE(logIn(b));
    settleFor(200);
    EXPECT_EQ(view.dialogResults, (std::vector<int>{0, 0}))
        << "the retry's failure is not the dialog's";
    EXPECT_FALSE(recovery().sessionRecovering());
    EXPECT_EQ(logText().find("reconnected"), std::string::npos) << logText();

    // Cancel while a login waits: its result goes to nobody.
    viewer->requestLogin();
    viewer->logInByHand({"127.0.0.1", a.port(), "admin", "580317"});
    EXPECT_TRUE(viewer->loginWaiting());
    viewer->cancelLoginWait();
    EXPECT_FALSE(viewer->loginWaiting());
    settleFor(300);
    EXPECT_EQ(view.dialogResults.size(), 2u) << "the logIn(b) result only";
}

TEST_F(ViewerTest, LoginToAnotherRecorderEndsTheOldViewAndSaysSo)
{
    ASSERT_TRUE(logIn(a));
    viewer->chooseCamera(1);
    events().onChannel(1, 0);
    ASSERT_TRUE(settle([&] { return viewer->playback().singleStream()->polling(); }));
    ASSERT_TRUE(logIn(b));
    EXPECT_EQ(viewer->singleChannel(), -1);
    EXPECT_EQ(stops.load(), 1) << "the stream stopped";
    EXPECT_EQ(view.status, Language::text(u"STOP"));
    EXPECT_FALSE(view.video) << "the tree of the new recorder";
    EXPECT_EQ(viewer->videoNotice(), u"");
    // A list that never came after a login by hand leaves an empty tree, and says why.
    viewer->requestLogin();
    viewer->loginDialogClosed(false, settings, u"127.0.0.1", b.port());
    events().onList(3, nullptr, 0, 0);
    view.runPosted();
    EXPECT_EQ(view.errors, std::vector<std::u16string>{Language::text(u"LIST_ERR") + u" (0x3)"});
}

TEST_F(ViewerTest, OneCameraAGridATileAloneAndBackKeepEveryStreamAndSaveTakesTheFramedTile)
{
    ASSERT_TRUE(logIn(a));
    viewer->chooseCamera(0);
    viewer->chooseLayout(4);
    EXPECT_EQ(opens.load(), 4) << "the camera shown alone goes on in its tile";
    EXPECT_TRUE(view.video);
    viewer->clickTile(2);
    Viewer::SaveSource s = viewer->saveSource();
    EXPECT_TRUE(s.tile);
    EXPECT_EQ(s.position, 2);
    EXPECT_EQ(s.camera, u"Cam3");
    viewer->toggleFullScreen();
    for (int round = 0; round < 2; ++round) {
        viewer->toggleTileZoom(2);
        EXPECT_EQ(view.tiles, 1);
        EXPECT_EQ(viewer->saveSource().camera, u"Cam3");
        viewer->toggleTileZoom(0);
        EXPECT_EQ(view.tiles, 4);
        EXPECT_TRUE(view.full) << "full screen stays";
    }
    viewer->clickTile(2);
    viewer->chooseLayout(1);
    EXPECT_EQ(viewer->singleChannel(), 2);
    EXPECT_EQ(opens.load(), 4) << "no stream was reopened";
    EXPECT_EQ(stops.load(), 3);
}

TEST_F(ViewerTest, RememberedViewsComeBackAndAShorterListNeverRewritesThem)
{
    const std::u16string views = fromUtf8(dir + "/views.ini");
    const std::u16string recorder = ViewSettings::recorderName(u"127.0.0.1", a.port());
    ViewSettings one;
    one.layout = 1;
    one.tiles[0] = 2;
    ViewSettings::save(views, recorder, one);
    ASSERT_TRUE(logIn(a));
    EXPECT_EQ(viewer->singleChannel(), 2) << "one camera comes back like a grid";
    EXPECT_TRUE(view.video);

    a.answerList(RecorderMessages::buildListReply(names(18)));
    ViewSettings nine;
    nine.layout = 9;
    for (int t = 0; t < 9; ++t)
        nine.tiles[size_t(t)] = t;
    ViewSettings::save(views, recorder, nine);
    ASSERT_TRUE(logIn(a));
    EXPECT_EQ(viewer->grid().shownCameras().size(), 9u);
    // The recorder comes back twice, first with 3 cameras, then with 18 again.
    for (int count : {3, 18}) {
        a.answerList(RecorderMessages::buildListReply(names(count)));
        loseSession();
        advance(1000);
        ASSERT_TRUE(settle([&] { return view.cameras.size() == size_t(count); }));
        EXPECT_EQ(viewer->grid().shownCameras().size(), size_t(std::min(count, 9)));
        EXPECT_EQ(ViewSettings::load(views, recorder).tiles, nine.tiles) << count;
    }
    // A tile shown alone comes back alone.
    viewer->toggleTileZoom(4);
    ASSERT_TRUE(logIn(a));
    EXPECT_TRUE(viewer->grid().zoomed());
    EXPECT_EQ(viewer->grid().selected(), 4);
    EXPECT_EQ(view.tiles, 1);
}

TEST_F(ViewerTest, TTakesTheFramedTileThroughTheOtherCamerasAndNeverRewritesTheView)
{
    a.answerList(RecorderMessages::buildListReply(names(9)));
    ASSERT_TRUE(logIn(a));
    viewer->chooseLayout(4);   // tiles 0 1 2 3
    const std::u16string recorder = ViewSettings::recorderName(u"127.0.0.1", a.port());
    const auto remembered = ViewSettings::load(viewer->viewsPath(), recorder).tiles;
    viewer->clickTile(1);
    ASSERT_TRUE(viewer->toggleTour());
    EXPECT_EQ(viewer->tour().kind(), TourController::Kind::Tile);
    viewer->clickTile(3);   // framing another tile is no manual choice
    const int opened = opens.load();
    // (the fake streams never play: each camera takes its tile 5 s late)
    const struct {
        uint64_t ms;
        int tile1, opened;
    } steps[] = {{7999, 1, 0}, {1, 1, 1}, {2000 + 4999, 1, 1}, {1, 4, 1}, {15000, 4, 2}, {1, 5, 2}};
    for (const auto& st : steps) {
        advance(st.ms);
        EXPECT_EQ(viewer->grid().camera(1).channel, st.tile1) << st.ms;
        EXPECT_EQ(opens.load() - opened, st.opened) << "the next camera opens before its turn";
    }
    EXPECT_EQ(viewer->grid().tiles()[0].channel, 0);
    EXPECT_EQ(viewer->grid().tiles()[2].channel, 2);
    EXPECT_EQ(viewer->grid().selected(), 3);
    EXPECT_EQ(ViewSettings::load(viewer->viewsPath(), recorder).tiles, remembered);
    // A manual choice pauses it; T goes on in the same tile through the cameras the other tiles
    // do not show now.
    viewer->chooseCamera(6);
    EXPECT_EQ(viewer->tourText(), Language::text(u"TOUR_PAUSED_T"));
    ASSERT_TRUE(viewer->toggleTour());
    EXPECT_EQ(viewer->tour().tile(), 1);
    EXPECT_EQ(viewer->tour().scheduler().pages(), 6) << "1, 3, 4, 5, 7, 8";
    advance(8000);
    EXPECT_EQ(viewer->tour().preparing(), std::vector<int>{7});
    // Shift+T ends it as T does; then it tours the whole grid, page by page.
    EXPECT_TRUE(viewer->toggleTour(true));
    EXPECT_EQ(viewer->tour().kind(), TourController::Kind::None);
    ASSERT_TRUE(viewer->toggleTour(true));
    EXPECT_EQ(viewer->tour().kind(), TourController::Kind::Grid);
    const auto beforeGridTour = ViewSettings::load(viewer->viewsPath(), recorder).tiles;
    advance(8000);
    advance(2000 + TourScheduler::kReadyWaitMs);
    EXPECT_EQ(viewer->grid().camera(0).channel, 4);
    EXPECT_TRUE(viewer->toggleTour());
    EXPECT_EQ(viewer->tour().kind(), TourController::Kind::None);
    EXPECT_EQ(ViewSettings::load(viewer->viewsPath(), recorder).tiles, beforeGridTour);
}

// R on a grid tile records the camera's single-view stream: its tile switches to it while it
// records (also shown alone and back) and back after; the other tiles keep theirs.
TEST_F(ViewerTest, RecordingATileTakesTheCamerasSingleViewStreamWhileItRecords)
{
    ASSERT_TRUE(logIn(a));
    viewer->recordings().setFolder(dir);
    viewer->setStreamNumbers(2, 1);
    viewer->chooseLayout(4);
    viewer->clickTile(1);
    const auto numbers = [&] {
        std::vector<int> n;
        for (int ch = 0; ch < 4; ++ch)
            n.push_back(viewer->playback().stream({0, ch})->streamNumber());
        return n;
    };
    EXPECT_EQ(numbers(), (std::vector<int>{2, 2, 2, 2}));
    ASSERT_TRUE(viewer->toggleRecording());
    EXPECT_EQ(numbers(), (std::vector<int>{2, 1, 2, 2}));
    viewer->toggleTileZoom(1);
    viewer->toggleTileZoom(0);
    EXPECT_EQ(numbers(), (std::vector<int>{2, 1, 2, 2}));
    EXPECT_EQ(opens.load(), 5) << "one switch, and none while shown alone and back";
    ASSERT_TRUE(viewer->toggleRecording());
    EXPECT_EQ(numbers(), (std::vector<int>{2, 2, 2, 2}));
    EXPECT_EQ(opens.load(), 6);
}

// A message (here: nothing to tour) holds the status row for a while; asking a tile for its
// label changes nothing, the row follows the framed tile again once the message is over.
TEST_F(ViewerTest, TWithEveryCameraShownSaysSoForAWhileThenTheRowFollowsTheFramedTile)
{
    a.answerList(RecorderMessages::buildListReply(names(3)));
    ASSERT_TRUE(logIn(a));
    viewer->chooseLayout(4);
    const std::u16string allShown = Language::text(u"TOUR_ALL_SHOWN");
    for (bool wholeGrid : {true, false}) {
        EXPECT_FALSE(viewer->toggleTour(wholeGrid));
        EXPECT_EQ(view.status, allShown) << wholeGrid;
    }
    const std::u16string framed = viewer->tileLabel(0).state;
    ASSERT_FALSE(framed.empty());
    advance(StatusTexts::kMessageMs - 1);
    EXPECT_EQ(view.status, allShown);
    advance(1);
    EXPECT_EQ(view.status, framed);
    // --verbose logs the status row's words, not the key behind them.
    ViewerLog::setVerbose(true);
    viewer->postStatus(u"OPENING_V");
    view.runPosted();
    ViewerLog::setVerbose(false);
    EXPECT_NE(logText().find("status: " + toUtf8(Language::text(u"OPENING_V"))), std::string::npos);
}

TEST_F(ViewerTest, LostSessionIsLoggedInAgainAndTheCameraReopenedWhileTheLoginDialogPausesIt)
{
    ASSERT_TRUE(logIn(a));
    viewer->chooseCamera(1);
    events().onChannel(1, 0);
    view.runPosted();
    viewer->toggleFullScreen();
    ASSERT_TRUE(viewer->playback().single().fullScreen());
    loseSession();
    EXPECT_EQ(view.lostBoxes, 0) << "no box that waits for OK";
    EXPECT_NE(view.status.find(u"1 s (try 1)"), std::u16string::npos);
    Clock::advance(3000);
    EXPECT_EQ(viewer->videoNotice().rfind(u"No picture for 3 s\n", 0), 0u);
    viewer->poll();   // the first try was due after 1 s
    ASSERT_TRUE(settle([&] { return opens.load() == 2; }));
    EXPECT_EQ(viewer->singleChannel(), 1);
    EXPECT_TRUE(viewer->playback().single().fullScreen());
    EXPECT_FALSE(recovery().sessionRecovering());
    EXPECT_NE(logText().find("reconnected"), std::string::npos);

    // The Login button pauses the retries; a login by hand ends them.
    loseSession();
    viewer->requestLogin();
    advance(300000);
    EXPECT_TRUE(recovery().sessionRecovering());
    settleFor(50);
    EXPECT_EQ(opens.load(), 2) << "no tries while the dialog is open";
    ASSERT_TRUE(logIn(a));
    EXPECT_FALSE(recovery().sessionRecovering());
    // A camera chosen while the session is away, and refused, opens again on the new session.
    loseSession();
    viewer->chooseCamera(2);
    events().onChannel(2, 7);
    view.runPosted();
    EXPECT_EQ(viewer->playback().singleStream()->state(), StreamController::State::OpenError);
    const int before = opens.load();
    advance(1000);
    ASSERT_TRUE(settle([&] { return opens.load() > before; }));
    EXPECT_EQ(viewer->playback().singleStream()->state(), StreamController::State::Opening);
    // Exit while retries wait ends them.
    loseSession();
    viewer->shutdown();
    EXPECT_FALSE(viewer->recovering());
}

TEST_F(ViewerTest, ClosedOrSilentMediaIsReopenedOnTheSameScheduleAndLogged)
{
    ASSERT_TRUE(logIn(a));
    viewer->chooseCamera(1);
    events().onChannel(1, 0);
    view.runPosted();
    // Closed by the recorder: reopened after 1 s.
    events().onChannelClosed(1);
    view.runPosted();
    EXPECT_EQ(view.status, u"Reopening in 1 s (try 1)");
    advance(1000);
    EXPECT_EQ(opens.load(), 2);
    events().onChannel(1, 0);
    view.runPosted();
    EXPECT_FALSE(recovery().channelRecovering(1));
    EXPECT_EQ(view.status, Language::text(u"BUFFERING"));

    // Open but silent (no byte since the open): reopened once the bound is reached.
    advance(Viewer::kMediaSilenceMs - 1000);
    EXPECT_FALSE(recovery().channelRecovering(1));
    advance(1000);
    EXPECT_TRUE(recovery().channelRecovering(1));
    advance(1000);
    EXPECT_EQ(opens.load(), 3);
    // Every recorder's cameras are named with the recorder, in every line.
    EXPECT_NE(logText().find("camera 2 of 127.0.0.1:" + std::to_string(a.port()) +
                             ": no media for 10 s; reopening"),
              std::string::npos);

    // The same in a grid.
    events().onChannel(1, 0);
    viewer->chooseLayout(4);
    for (int ch = 0; ch < 4; ++ch)
        events().onChannel(ch, 0);
    view.runPosted();
    const int before = opens.load();
    advance(Viewer::kMediaSilenceMs);
    advance(1000);
    EXPECT_GT(opens.load(), before);
}

TEST(LiveViewDevice, ACameraWithMediaButNoPictureCannotBeShownAndSilenceIsMeasured)
{
    Clock::useManual();
    struct Timed : LiveViewDevice {
        uint64_t opened = 0, media = 0;
        int codec = -1;
        void openChannel(int, int) override {}
        void stopChannel() override {}
        void setPixelFormat(PixelFormat) override {}
        bool takePicture(Picture&) override { return false; }
        void giveBack(const Picture&) override {}
        int buffering(int) override { return 1; }
        int frameRate() const override { return 0; }
        int undecodableCodec() const override { return codec; }
        uint64_t openedMs() const override { return opened; }
        uint64_t lastMediaMs() const override { return media; }
    } d;
    EXPECT_FALSE(d.cannotShow(false)) << "a device that cannot tell";
    EXPECT_EQ(d.silentMs(), 0u);
    d.opened = Clock::nowMs();
    Clock::advance(LiveViewDevice::kNoPictureMs);
    EXPECT_FALSE(d.cannotShow(false)) << "no media at all is silence, not a format";
    EXPECT_EQ(d.silentMs(), LiveViewDevice::kNoPictureMs);
    d.media = Clock::nowMs();
    EXPECT_TRUE(d.cannotShow(false));
    EXPECT_FALSE(d.cannotShow(true)) << "a picture came";
    EXPECT_EQ(d.silentMs(), 0u);
    d.codec = 7;
    EXPECT_TRUE(d.cannotShow(true)) << "the decoder says so";
    Clock::useReal();
}

}   // namespace

// R over the real client and the simulated recorder: the camera shown is recorded into the
// folder under its name, marked while it records, and the file plays from a key frame once R
// ends it; a recording still running at exit is completed too.
TEST(ViewerRecording, RStartsAndEndsAPlayableClipOfTheShownCameraAndExitCompletesOne)
{
    RecorderProcess rec({"--size", "176x144", "--fps", "25", "--channels", "2"});
    ASSERT_TRUE(rec.start());
    Language::setFilePath(fromUtf8(std::string(KEVRA_BIN_DIR) + "/language_eng.ini"));
    ViewerLog::setOutput([](const std::string&) {});
    char pattern[] = "/tmp/kevra-rec-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    FakeView view;
    NullPicture picture;
    NullTiles tiles;
    auto viewer = std::make_unique<Viewer>(view, picture, tiles, Playback::DeviceFactory{}, folder);
    view.onDialogResult = [&](int code) {
        if (code == 0)
            viewer->loginDialogClosed(false, fromUtf8(folder + "/login.ini"), u"127.0.0.1",
                                      rec.port());
    };
    auto settle = [&](const std::function<bool()>& done, int ms) {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
             std::chrono::steady_clock::now() < end;) {
            view.runPosted();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    };
    viewer->requestLogin();
    viewer->logInByHand({"127.0.0.1", rec.port(), "admin", "580317"});
    ASSERT_TRUE(settle([&] { return !view.cameras.empty(); }, 20000));

    EXPECT_FALSE(viewer->toggleRecording()) << "no camera shown";
    viewer->chooseCamera(1);
    ASSERT_TRUE(settle(
        [&] { return viewer->playback().singleStream()->device().lastMediaMs() != 0; }, 20000));
    ASSERT_TRUE(viewer->toggleRecording());
    EXPECT_EQ(view.status.rfind(Language::text(u"REC_TO"), 0), 0u) << toUtf8(view.status);
    EXPECT_TRUE(viewer->recordingShown());
    settle([] { return false; }, 2500);
    EXPECT_EQ(viewer->recordingMark().rfind(u"\u25CF REC 0:0", 0), 0u);
    const std::string path = viewer->recordings().status({0, 1}).path;
    ASSERT_TRUE(viewer->toggleRecording());
    EXPECT_FALSE(viewer->recordingShown());
    EXPECT_EQ(viewer->recordingMark(), u"");
    EXPECT_EQ(view.status, Language::text(u"REC_SAVED") + u" " +
                               fromUtf8(std::filesystem::path(path).filename().string()));
    EXPECT_EQ(std::filesystem::path(path).parent_path(), folder);
    ClipProbe p = ClipProbe::of(path);
    EXPECT_TRUE(p.opened) << path;
    EXPECT_EQ(p.codec, "h264");
    EXPECT_GE(p.frames, 25) << "about 2.5 s at 25 fps";
    EXPECT_TRUE(p.firstKey);

    // A login by hand ends a recording, its file complete: the new login's channel numbers
    // may name another recorder's cameras.
    ASSERT_TRUE(viewer->toggleRecording());
    settle([] { return false; }, 1500);
    const std::string before = viewer->recordings().status({0, 1}).path;
    viewer->requestLogin();
    viewer->logInByHand({"127.0.0.1", rec.port(), "admin", "580317"});
    EXPECT_FALSE(viewer->recordings().recording({0, 1}));
    EXPECT_TRUE(ClipProbe::of(before).firstKey) << before;
    ASSERT_TRUE(settle([&] { return !view.cameras.empty(); }, 20000));
    viewer->chooseCamera(1);
    settle([] { return false; }, 1500);

    // Exit while recording: the file is completed.
    ASSERT_TRUE(viewer->toggleRecording());
    settle([] { return false; }, 1500);
    const std::string second = viewer->recordings().status({0, 1}).path;
    viewer->shutdown();
    EXPECT_FALSE(viewer->recordings().recording({0, 1}));
    p = ClipProbe::of(second);
    EXPECT_TRUE(p.opened) << second;
    EXPECT_GE(p.frames, 10);
    EXPECT_TRUE(p.firstKey);

    viewer.reset();
    ViewerLog::setOutput(nullptr);
    Language::setFilePath(u"");
    std::filesystem::remove_all(folder);
}

// A recording that got no frame says so, on screen and in the log, and names no file.
TEST(ViewerRecording, ARecordingThatGotNoFrameSaysNothingWasRecorded)
{
    Language::setFilePath(fromUtf8(std::string(KEVRA_BIN_DIR) + "/language_eng.ini"));
    std::string log;
    ViewerLog::setOutput([&](const std::string& line) { log += line + "\n"; });
    char pattern[] = "/tmp/kevra-rec-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::u16string told;
    ViewerRecordings recordings(folder,
                                {[](CameraId c) { return ViewerLog::cameraText(c.channel); },
                                 [&](const std::u16string& t) { told = t; }, [] {}});
    EXPECT_FALSE(recordings.toggle(CameraId{}, u"Gate"));
    EXPECT_EQ(told, Language::text(u"REC_NONE"));
    ASSERT_TRUE(recordings.toggle(CameraId{0, 1}, u"Gate"));
    EXPECT_EQ(recordings.mark(CameraId{0, 1}).rfind(u"\u25CF REC 0:00", 0), 0u);
    ASSERT_TRUE(recordings.toggle(CameraId{0, 1}, u"Gate"));
    EXPECT_EQ(told, Language::text(u"REC_NOTHING"));
    EXPECT_NE(log.find("recording of camera 2: nothing recorded: no picture arrived"),
              std::string::npos)
        << log;
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    ViewerLog::setOutput(nullptr);
    Language::setFilePath(u"");
    std::filesystem::remove_all(folder);
}

// Three simulated recorders in one viewer over the real clients and decoders: one tree, a grid
// filled in tree order across them, one recorder killed and restarted while the other two keep
// presenting pictures, the grid remembered with each tile's recorder for the next start, and a
// recorder taken out of the list while its cameras play.
TEST(ViewerRecorders, ThreeRecordersInOneGridAndOneOfThemRestarted)
{
    std::vector<std::unique_ptr<RecorderProcess>> recs;
    const std::vector<std::string> cameras{"--size",     "176x144",   "--fps",
                                           "25",         "--cameras", "Gate&&Lobby&&Yard&&Dock",
                                           "--channels", "4"};
    for (int i = 0; i < 3; ++i) {
        recs.push_back(std::make_unique<RecorderProcess>(cameras));
        ASSERT_TRUE(recs.back()->start());
    }
    Language::setFilePath(fromUtf8(std::string(KEVRA_BIN_DIR) + "/language_eng.ini"));
    ViewerLog::setOutput([](const std::string&) {});
    char pattern[] = "/tmp/kevra-recorders-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::u16string settings = fromUtf8(folder + "/login.ini");
    std::vector<RecorderList::Recorder> list;
    for (int i = 0; i < 3; ++i)
        list.push_back({u"127.0.0.1", recs[size_t(i)]->port(), u"admin", u"580317",
                        i == 0 ? u"" : (i == 1 ? u"Shop" : u"Depot")});
    LoginSettings::save(settings, u"127.0.0.1", fromUtf8(std::to_string(recs[0]->port())), u"admin",
                        u"580317");
    ASSERT_EQ(RecorderList::save(settings, list), 1);

    FakeView view;
    NullPicture picture;
    NullTiles tiles;
    std::unique_ptr<Viewer> viewer;
    auto settle = [&](const std::function<bool()>& done, int ms,
                      const std::function<void()>& each) {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
             std::chrono::steady_clock::now() < end;) {
            view.runPosted();
            viewer->poll();
            if (each)
                each();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    auto start = [&] {
        viewer = std::make_unique<Viewer>(view, picture, tiles);
        view.onDialogResult = [&](int code) {
            if (code == 0)
                viewer->loginDialogClosed(false, settings, u"127.0.0.1", recs[0]->port());
        };
        viewer->requestLogin();
        viewer->logInByHand({"127.0.0.1", recs[0]->port(), "admin", "580317"});
        return settle([&] { return viewer->grid().cameras().size() == 12; }, 30000, {});
    };
    // Pictures presented at each of the first twelve tiles.
    auto presented = [&] {
        std::vector<int> n;
        for (int p = 0; p < 12; ++p)
            n.push_back(viewer->playback().presentedAt(p));
        return n;
    };
    auto allPlay = [&](const std::vector<int>& since, const std::vector<int>& tilesToCheck) {
        return [&, since, tilesToCheck] {
            const std::vector<int> now = presented();
            for (int p : tilesToCheck)
                if (now[size_t(p)] < since[size_t(p)] + 5)
                    return false;
            return true;
        };
    };
    const std::vector<int> every{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

    ASSERT_TRUE(start());
    ASSERT_EQ(view.recorders.size(), 3u);
    EXPECT_EQ(view.recorders[0].name, u"127.0.0.1:" + fromUtf8(std::to_string(recs[0]->port())));
    EXPECT_EQ(view.recorders[0].state, u"connected");
    EXPECT_EQ(view.recorders[1].name, u"Shop");
    EXPECT_EQ(view.recorders[2].cameras.size(), 4u);
    EXPECT_EQ(view.recorders[2].state, u"connected");
    viewer->chooseLayout(16);
    for (int t = 0; t < 12; ++t)
        EXPECT_EQ(viewer->grid().camera(t), (CameraId{t / 4, t % 4})) << "tree order, tile " << t;
    ASSERT_TRUE(settle(allPlay(std::vector<int>(12, 0), every), 30000, {})) << "every tile plays";

    // Shop goes away: its tiles say so; the others never pause for as long as a second.
    const int port = recs[1]->port();
    recs[1]->kill();
    std::vector<int> last = presented();
    std::vector<uint64_t> lastChange(12, Clock::nowMs());
    uint64_t longestGap = 0;
    std::vector<int> watched{0, 1, 2, 3, 8, 9, 10, 11};   // the recorders that stay
    const auto watch = [&] {
        const std::vector<int> now = presented();
        for (int p : watched) {
            if (now[size_t(p)] != last[size_t(p)])
                lastChange[size_t(p)] = Clock::nowMs();
            longestGap = std::max(longestGap, Clock::nowMs() - lastChange[size_t(p)]);
        }
        last = now;
    };
    ASSERT_TRUE(settle([&] { return view.recorders[1].state.rfind(u"reconnecting", 0) == 0; },
                       15000, watch));
    EXPECT_EQ(viewer->tileLabel(5).state.rfind(u"reconnecting", 0), 0u)
        << toUtf8(viewer->tileLabel(5).state);
    std::vector<std::string> again = cameras;
    again.insert(again.end(), {"--port", std::to_string(port)});
    recs[1] = std::make_unique<RecorderProcess>(again);
    ASSERT_TRUE(recs[1]->start());
    ASSERT_TRUE(settle(allPlay(presented(), every), 30000, watch))
        << "its tiles come back by themselves, the others play on";
    EXPECT_LT(longestGap, 1000u);

    // The same for the login dialog's recorder: its tiles play again by themselves within 3 s of
    // its return.
    const int firstPort = recs[0]->port();
    recs[0]->kill();
    watched = {4, 5, 6, 7, 8, 9, 10, 11};
    last = presented();
    std::fill(lastChange.begin(), lastChange.end(), Clock::nowMs());
    longestGap = 0;
    ASSERT_TRUE(settle([&] { return view.recorders[0].state.rfind(u"reconnecting", 0) == 0; },
                       15000, watch))
        << toUtf8(view.recorders[0].state);
    EXPECT_EQ(viewer->tileLabel(0).state.rfind(u"reconnecting", 0), 0u);
    std::vector<std::string> first = cameras;
    first.insert(first.end(), {"--port", std::to_string(firstPort)});
    recs[0] = std::make_unique<RecorderProcess>(first);
    ASSERT_TRUE(recs[0]->start());
    EXPECT_TRUE(settle(allPlay(presented(), {0, 1, 2, 3}), 3000, watch))
        << "its tiles play again within 3 s of its return";
    EXPECT_LT(longestGap, 1000u);

    // A login by hand to it while a camera of Shop records: the recording goes on in one file.
    viewer->clickTile(4);
    ASSERT_TRUE(viewer->toggleRecording());
    settle([] { return false; }, 1000, watch);
    viewer->requestLogin();
    viewer->logInByHand({"127.0.0.1", firstPort, "admin", "580317"});
    ASSERT_TRUE(settle(allPlay(presented(), every), 30000, watch));
    EXPECT_LT(longestGap, 1000u);
    const ClipRecorder::Status recorded = viewer->recordings().stop({1, 0});
    EXPECT_FALSE(recorded.failed) << recorded.error;
    EXPECT_LE(recorded.files.size(), 1u) << "one file, never a second part";
    EXPECT_TRUE(ClipProbe::of(recorded.path).firstKey) << recorded.path;
    EXPECT_GE(recorded.frames, int64_t(recorded.elapsedMs / 40 * 8 / 10)) << "no gap in it";

    // Started again, the viewer shows the same grid across the three recorders.
    viewer->shutdown();
    viewer.reset();
    ASSERT_TRUE(start());
    EXPECT_EQ(viewer->grid().layout(), 16);
    for (int t = 0; t < 12; ++t)
        EXPECT_EQ(viewer->grid().camera(t), (CameraId{t / 4, t % 4})) << "tile " << t;
    EXPECT_TRUE(settle(allPlay(std::vector<int>(12, 0), every), 30000, {}));

    // Shop leaves the list: its tiles empty (its streams stop at the recorder), Depot moves up
    // to its place and its tiles follow it, playing again on its new session.
    const size_t shopStops = size_t(recs[1]->count({"\"event\":\"stream\"", "\"op\":\"stop\""}));
    ASSERT_EQ(RecorderList::save(settings, {list[0], list[2]}), 1);
    viewer->followRecorderList();
    for (int t = 4; t < 8; ++t)
        EXPECT_FALSE(viewer->grid().camera(t).valid()) << "tile " << t;
    EXPECT_TRUE(settle(
        [&] {
            return size_t(recs[1]->count({"\"event\":\"stream\"", "\"op\":\"stop\""})) ==
                   shopStops + 4;
        },
        5000, {}));
    EXPECT_TRUE(settle(
        [&] {
            return view.recorders.size() == 2 && viewer->grid().camera(8) == CameraId{1, 0};
        },
        15000, {}));
    EXPECT_TRUE(settle(allPlay(presented(), {0, 1, 2, 3, 8, 9, 10, 11}), 30000, {}));

    viewer.reset();
    ViewerLog::setOutput(nullptr);
    Language::setFilePath(u"");
    std::filesystem::remove_all(folder);
}
